// The machine-readable results: the JSON report and the editors' timelines, read back with JSON
// and XML readers, every clip's start recomputed from the structure and compared with the offsets
// of the analysis. The writers are called on the analysis directly; the program runs where only a
// whole run shows the behaviour (the -json - stream split, refusals before any work).
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "results/RunReport.h"
#include "results/TextEncoding.h"
#include "support/AppRun.h"
#include "support/Process.h"
#include "synth/Synth.h"

using TrelisTest::analyseFolder;
using TrelisTest::contains;
using TrelisTest::fcp7XmlOf;
using TrelisTest::jsonOf;
using TrelisTest::otioOf;
using TrelisTest::Outcome;
using TrelisTest::readFile;
using TrelisTest::refinedByName;
using TrelisTest::TempDir;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// An event recorded by three devices whose names hold spaces, accents and a quote, plus an
// unrelated recording and a file the reader refuses.
class NamedEvent : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.path("in folder"));
        const auto event = TrelisSynth::musicLike(21, 60.0);
        const struct {
            const char* name;
            double start;
        } devices[] = {
            {"cam A \xC3\xA9t\xC3\xA9.wav", 0.0}, {"cam \"B\".wav", 6.5}, {"cam C.wav", 17.25}};
        std::uint32_t seed = 1;
        for (const auto& d : devices) {
            const TrelisSynth::Device device{d.name, d.start, 35.0, 0.8, 0.01, 0.0};
            TrelisSynth::writeWav(dir.path("in folder/") + d.name,
                                  TrelisSynth::record(event, device, seed++));
        }
        TrelisSynth::writeWav(dir.path("in folder/other.wav"), TrelisSynth::musicLike(99, 20.0));
        std::ofstream(dir.path("in folder/zbroken.wav")) << "not audio";
    }
    Outcome trelis(const std::vector<std::string>& args) {
        return TrelisTest::run(TRELIS_APP, args, dir);
    }
    TempDir dir;
};

// The cluster of the JSON with the most members, and the first with `size` members.
const Json& clusterOfSize(const Json& json, std::size_t size) {
    for (const Json& cluster : json["clusters"]) {
        if (cluster["members"].size() == size) {
            return cluster;
        }
    }
    throw std::runtime_error("no cluster of " + std::to_string(size));
}

// The member ids of the report's CLUSTER blocks (the first listing), in its order, from names.
std::vector<std::vector<std::string>> reportedClusters(const std::string& report) {
    std::vector<std::vector<std::string>> clusters;
    std::istringstream in(report.substr(0, report.find("REFINEMENT")));
    for (std::string line; std::getline(in, line);) {
        if (line == "CLUSTER") {
            clusters.emplace_back();
        } else if (line.rfind("name: ", 0) == 0 && !clusters.empty()) {
            clusters.back().push_back(line.substr(6, line.rfind(" offset:") - 6));
        }
    }
    return clusters;
}

}  // namespace

TEST_F(NamedEvent, JsonListsFilesClustersPairsAndUnmatched) {
    const Outcome o = trelis({"-f", dir.path("in folder"), "-json", "-", "-bogus", "1"});
    ASSERT_EQ(o.status, 0) << o.err;
    // Standard output holds the JSON and nothing else; the rest goes to standard error, the
    // parser's refusals included.
    const Json json = Json::parse(o.out);
    EXPECT_TRUE(TrelisTest::contains(o.err, "Unknown input arguments")) << o.err;
    EXPECT_TRUE(TrelisTest::contains(o.err, "REFINED\nCLUSTER\n")) << o.err;
    EXPECT_EQ(json["version"], "0.1.0");
    EXPECT_EQ(json["settings"]["extraction"]["sampleRate"], 8000);
    EXPECT_EQ(json["settings"]["clustering"]["minPercentMatch"], 0.0025);
    EXPECT_EQ(json["settings"]["match"], "spec");
    EXPECT_EQ(json["settings"]["popularity"], "total");
    EXPECT_FALSE(json.contains("ambiguous"));

    const Json& files = json["files"];
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[0]["name"], "cam \"B\"");
    EXPECT_EQ(files[1]["name"], "cam A \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(files[1]["status"], "ok");
    EXPECT_DOUBLE_EQ(files[1]["duration"].get<double>(), 35.0);
    EXPECT_EQ(files[4]["status"], "error");
    EXPECT_TRUE(files[4]["duration"].is_null());
    EXPECT_FALSE(files[4]["message"].get<std::string>().empty());

    // The event (ids 1-3) and the unrelated recording (id 4), in the text report's order.
    const Json& clusters = json["clusters"];
    ASSERT_EQ(clusters.size(), 2u);
    EXPECT_EQ(json["unmatched"], Json::array({4}));
    const std::vector<std::vector<std::string>> reported = reportedClusters(o.err);
    ASSERT_EQ(reported.size(), 2u) << o.err;
    for (std::size_t c = 0; c < 2; ++c) {
        std::vector<std::string> names;
        for (const Json& m : clusters[c]["members"]) {
            names.push_back(files[m["id"].get<int>() - 1]["name"]);
        }
        EXPECT_EQ(names, reported[c]) << c;
    }
    const Json& event = clusterOfSize(json, 3);
    const Json& lone = clusterOfSize(json, 1);
    const Json& members = event["members"];
    std::map<int, double> refined;
    for (const Json& m : members) {
        refined[m["id"]] = m["refinedOffset"];
    }
    EXPECT_NEAR(refined[2], 0.0, 1e-6);     // cam A
    EXPECT_NEAR(refined[1], 6.5, 0.001);    // cam "B"
    EXPECT_NEAR(refined[3], 17.25, 0.001);  // cam C
    // Every accepted pair's offset agrees with its members' offsets to a frame, and its
    // confidence lies in [0, 1].
    std::map<int, double> frameAccurate;
    for (const Json& m : members) {
        frameAccurate[m["id"]] = m["offset"];
    }
    ASSERT_FALSE(event["pairs"].empty());
    for (const Json& p : event["pairs"]) {
        const double expected = frameAccurate[p["second"]] - frameAccurate[p["first"]];
        EXPECT_NEAR(p["offset"].get<double>(), expected, 0.033) << p.dump();
        EXPECT_GE(p["confidence"].get<double>(), 0.0);
        EXPECT_LE(p["confidence"].get<double>(), 1.0);
        EXPECT_LT(p["first"].get<int>(), p["second"].get<int>());
    }
    EXPECT_TRUE(lone["pairs"].empty());

    // The alignment: cam A is the reference, the others refined against it; every pair it used
    // agrees with the refined offsets; the unrelated recording is its own reference.
    EXPECT_EQ(event["reference"], 2);
    EXPECT_EQ(lone["reference"], 4);
    EXPECT_EQ(lone["members"][0]["status"], "reference");
    for (const Json& m : members) {
        EXPECT_EQ(m["status"], m["id"] == 2 ? "reference" : "refined") << m.dump();
        EXPECT_FALSE(m.contains("reason"));
        EXPECT_LT(std::fabs(m["driftPpm"].get<double>()), 5.0) << m.dump();
        EXPECT_GT(m["confidence"].get<double>(), 0.0);
        EXPECT_LE(m["confidence"].get<double>(), 1.0);
        EXPECT_LT(m["offsetError"].get<double>(), 0.001);
    }
    ASSERT_FALSE(event["alignments"].empty());
    for (const Json& a : event["alignments"]) {
        ASSERT_EQ(a["status"], "used") << a.dump();
        EXPECT_NEAR(a["offset"].get<double>(), refined[a["second"]] - refined[a["first"]], 1e-4);
        EXPECT_LE(a["agreeing"].get<int>(), a["windows"].get<int>());
    }
}

// Verified matching finds the same clusters, places members at the audio's offsets before the
// refinement, and lists what verified each link; nothing here repeats, so nothing is ambiguous.
TEST_F(NamedEvent, VerifiedMatchingListsTheEvidenceOfEveryLink) {
    Trelis::RunOptions options;
    options.verified = true;
    options.perRecording = true;
    const Json json = jsonOf(analyseFolder(dir.path("in folder"), options));
    EXPECT_EQ(json["settings"]["match"], "verified");
    EXPECT_EQ(json["settings"]["popularity"], "recording");
    EXPECT_EQ(json["files"][4]["status"], "error");
    EXPECT_EQ(json["unmatched"], Json::array({4}));
    EXPECT_EQ(json["ambiguous"], Json::array());
    const Json& cluster = clusterOfSize(json, 3);
    std::map<int, double> offsets;
    for (const Json& m : cluster["members"]) {
        offsets[m["id"]] = m["offset"];
    }
    EXPECT_NEAR(offsets[1] - offsets[2], 6.5, 0.001);
    EXPECT_NEAR(offsets[3] - offsets[2], 17.25, 0.001);
    ASSERT_EQ(cluster["pairs"].size(), 3u);
    for (const Json& p : cluster["pairs"]) {
        EXPECT_NEAR(p["offset"].get<double>(), offsets[p["second"]] - offsets[p["first"]], 0.001)
            << p.dump();
        EXPECT_GT(p["votes"].get<double>(), p["chanceVotes"].get<double>());
        EXPECT_GT(p["surprise"].get<double>(), 1.0);
        EXPECT_GE(p["strength"].get<double>(), 13.0);
        EXPECT_LE(p["agreeing"].get<int>(), p["windows"].get<int>());
    }
}

TEST_F(NamedEvent, WithoutRefinementOffsetsStayFrameAccurateAndSaySo) {
    Trelis::RunOptions options;
    options.refine = false;
    std::string printed;
    const Json result = jsonOf(analyseFolder(dir.path("in folder"), options, &printed));
    EXPECT_TRUE(contains(printed,
                         "Not refined, frame-accurate offsets kept: cam \"B\" (refinement "
                         "off), cam A \xC3\xA9t\xC3\xA9 (refinement off), cam C (refinement "
                         "off)\n"))
        << printed;
    EXPECT_EQ(result["settings"]["refine"], false);
    for (const Json& m : clusterOfSize(result, 3)["members"]) {
        EXPECT_EQ(m["status"], "unrefined");
        EXPECT_EQ(m["reason"], "refinement off");
        EXPECT_EQ(m["refinedOffset"], m["offset"]);
        EXPECT_TRUE(m["driftPpm"].is_null());
    }
    EXPECT_TRUE(clusterOfSize(result, 3)["alignments"].empty());
}

TEST_F(NamedEvent, TimelinesPlaceEveryClipAtItsRefinedOffset) {
    const Trelis::RunReport report = analyseFolder(dir.path("in folder"));
    const std::map<std::string, double> offsets = refinedByName(report);
    const std::string otioText = otioOf(report);
    const Json otio = Json::parse(otioText);
    EXPECT_EQ(otio["OTIO_SCHEMA"], "SerializableCollection.1");
    ASSERT_EQ(otio["children"].size(), 2u);  // the event, and the unrelated recording alone
    std::size_t clips = 0;
    for (const Json& timeline : otio["children"]) {
        EXPECT_EQ(timeline["OTIO_SCHEMA"], "Timeline.1");
        for (const Json& track : timeline["tracks"]["children"]) {
            EXPECT_EQ(track["kind"], "Audio");
            double start = 0.0;
            for (const Json& child : track["children"]) {
                const Json& duration = child["source_range"]["duration"];
                if (child["OTIO_SCHEMA"] == "Gap.1") {
                    start += duration["value"].get<double>() / duration["rate"].get<double>();
                    continue;
                }
                ASSERT_EQ(child["OTIO_SCHEMA"], "Clip.1");
                const std::string name = child["name"];
                EXPECT_NEAR(start, offsets.at(name), 0.5 / 8000) << name;
                EXPECT_EQ(duration["rate"], 8000.0);
                const std::string url = child["media_reference"]["target_url"];
                EXPECT_EQ(url.rfind("file:///", 0), 0u) << url;
                EXPECT_TRUE(contains(url, "/in%20folder/")) << url;
                ++clips;
            }
        }
    }
    EXPECT_EQ(clips, 4u);
    EXPECT_TRUE(contains(otioText, "in%20folder/cam%20A%20%C3%A9t%C3%A9.wav\""));

    std::ofstream(dir.path("cut.xml")) << fcp7XmlOf(report, 30.0);
    EXPECT_EQ(std::system(("xmllint --noout '" + dir.path("cut.xml") + "'").c_str()), 0);
    tinyxml2::XMLDocument xml;
    ASSERT_EQ(xml.LoadFile(dir.path("cut.xml").c_str()), tinyxml2::XML_SUCCESS);
    const auto* project = xml.FirstChildElement("xmeml")->FirstChildElement("project");
    clips = 0;
    for (const auto* sequence = project->FirstChildElement("children")->FirstChildElement();
         sequence != nullptr; sequence = sequence->NextSiblingElement()) {
        EXPECT_EQ(sequence->FirstChildElement("rate")->FirstChildElement("timebase")->IntText(),
                  30);
        const auto* audio = sequence->FirstChildElement("media")->FirstChildElement("audio");
        for (const auto* track = audio->FirstChildElement("track"); track != nullptr;
             track = track->NextSiblingElement("track")) {
            // Importers read these of every track.
            ASSERT_NE(track->FirstChildElement("enabled"), nullptr);
            EXPECT_STREQ(track->FirstChildElement("enabled")->GetText(), "TRUE");
            ASSERT_NE(track->FirstChildElement("locked"), nullptr);
            EXPECT_STREQ(track->FirstChildElement("locked")->GetText(), "FALSE");
            const auto* clip = track->FirstChildElement("clipitem");
            const std::string name = clip->FirstChildElement("name")->GetText();
            // The nearest frame.
            EXPECT_NEAR(clip->FirstChildElement("start")->IntText(), offsets.at(name) * 30, 0.5)
                << name;
            const auto* url = clip->FirstChildElement("file")->FirstChildElement("pathurl");
            ASSERT_NE(url, nullptr) << name;
            EXPECT_EQ(std::string(url->GetText()).rfind("file://localhost/", 0), 0u);
            ++clips;
        }
    }
    EXPECT_EQ(clips, 4u);
}

// An existing result file is refused at once, before any work, and nothing is written.
TEST_F(NamedEvent, ExistingResultFilesAreNotOverwritten) {
    for (const char* flag : {"-json", "-html"}) {
        std::ofstream(dir.path("mine")) << "keep me";
        const Outcome o = trelis({"-f", dir.path("in folder"), flag, dir.path("mine"), "-timeline",
                                  dir.path("new.xml")});
        EXPECT_EQ(o.status, 1) << flag;
        EXPECT_TRUE(contains(o.err, dir.path("mine") + " already exists; it is not overwritten"))
            << o.err;
        EXPECT_FALSE(contains(o.out, "STARTING"));
        EXPECT_EQ(readFile(dir.path("mine")), "keep me");
        EXPECT_FALSE(fs::exists(dir.path("new.xml")));
    }
}

TEST(TimelineText, NamesAndUrls) {
    using Trelis::cleanName;
    using Trelis::fileUrl;
    EXPECT_EQ(cleanName("caf\xC3\xA9 \xF0\x9F\x8E\xA5"), "caf\xC3\xA9 \xF0\x9F\x8E\xA5");
    EXPECT_EQ(cleanName("a\tb\nc\x7F"
                        "d"),
              "abcd");
    EXPECT_EQ(cleanName("bad\xFFname"), "bad\xEF\xBF\xBDname");
    EXPECT_EQ(cleanName("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");          // overlong "/"
    EXPECT_EQ(cleanName("cut \xE2\x82"), "cut \xEF\xBF\xBD\xEF\xBF\xBD");  // truncated
    EXPECT_EQ(fileUrl("/a b/caf\xC3\xA9#1.mov", ""), "file:///a%20b/caf%C3%A9%231.mov");
    EXPECT_EQ(fileUrl("/x/y_z-1.~", "localhost"), "file://localhost/x/y_z-1.~");
}

TEST(MatchConfidence, ZeroAtTheEdgeOfAcceptanceRisingTowardsOne) {
    Trelis::MCMatchStats stats(nullptr);
    stats.histMean = 1.0f;
    stats.histStd = 2.0f;
    stats.matchCount = 21.0f;  // z = 10
    EXPECT_DOUBLE_EQ(Trelis::matchConfidence(stats), 0.0);
    stats.matchCount = 41.0f;  // z = 20
    EXPECT_DOUBLE_EQ(Trelis::matchConfidence(stats), 0.5);
    stats.matchCount = 201.0f;  // z = 100
    EXPECT_DOUBLE_EQ(Trelis::matchConfidence(stats), 0.9);
    stats.histStd = std::nanf("");
    EXPECT_DOUBLE_EQ(Trelis::matchConfidence(stats), 0.0);
}

TEST(ResultFiles, PathsThatAreNotUtf8AreWrittenWithReplacementCharacters) {
    TempDir dir;
    fs::create_directories(dir.path("in"));
    // "café" in Latin-1, as older cameras and file systems name files.
    TrelisSynth::writeWav(dir.path("in/caf\xE9.wav"), TrelisSynth::musicLike(5, 10.0));
    const Trelis::RunReport report = analyseFolder(dir.path("in"));
    const Json json = jsonOf(report);
    EXPECT_EQ(json["files"][0]["name"], "caf\xEF\xBF\xBD");
    EXPECT_EQ(json["unmatched"], Json::array({1}));
    // One cluster: a plain timeline, at the default frame rate since nothing has video.
    const Json otio = Json::parse(otioOf(report));
    EXPECT_EQ(otio["OTIO_SCHEMA"], "Timeline.1");
    EXPECT_EQ(otio["global_start_time"]["rate"], 25.0);
    const Json& clip = otio["tracks"]["children"][0]["children"][0];
    EXPECT_EQ(clip["name"], "caf\xEF\xBF\xBD");
    // The URL keeps the file's own bytes, percent-encoded, so it still finds the file.
    EXPECT_TRUE(contains(clip["media_reference"]["target_url"], "/in/caf%E9.wav"));
}
