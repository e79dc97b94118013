// The report page, read back as XML: every bar's place recomputed from the offsets and lengths it
// was given, names with hostile bytes, and the page of a real analysis. The loudness envelopes it
// draws, on recordings in memory. (That the page is the same on every thread count is checked
// with the program's other outputs, in TrelisProcessTest.)
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "results/HtmlReport.h"
#include "results/LoudnessEnvelope.h"
#include "results/RunReport.h"
#include "results/TextEncoding.h"
#include "run/RecordingSource.h"
#include "support/AppRun.h"
#include "support/MemorySource.h"
#include "support/Process.h"
#include "synth/Synth.h"

using tinyxml2::XMLElement;
using TrelisTest::contains;
using TrelisTest::TempDir;

namespace {

std::string page(const Trelis::RunReport& report) {
    std::ostringstream out;
    Trelis::writeHtmlReport(report, out);
    return out.str();
}

// Every element under `root` (itself included) for which `keep` holds, in document order.
std::vector<const XMLElement*> find(const XMLElement* root,
                                    const std::function<bool(const XMLElement*)>& keep) {
    std::vector<const XMLElement*> found;
    if (keep(root)) {
        found.push_back(root);
    }
    for (const XMLElement* child = root->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        const auto below = find(child, keep);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

std::function<bool(const XMLElement*)> hasClass(const std::string& name) {
    return [name](const XMLElement* e) {
        const char* value = e->Attribute("class");
        return value != nullptr &&
               (" " + std::string(value) + " ").find(" " + name + " ") != std::string::npos;
    };
}

// The percentage a style gives `property`, as in "left:12.5%;width:3%".
double percent(const XMLElement* e, const std::string& property) {
    const std::string style = e->Attribute("style");
    const std::size_t at = style.find(property + ":");
    EXPECT_NE(at, std::string::npos) << style;
    return std::atof(style.c_str() + at + property.size() + 1);
}

Trelis::InputFile input(int id, const std::string& name, long long frames) {
    Trelis::InputFile file;
    file.id = id;
    file.name = name;
    file.path = "/cards/" + name;
    file.info.frames = frames;
    file.info.sampleRate = 8000;
    return file;
}

Trelis::ReportMember member(int id, double refined, Trelis::MemberAlignment::Status status) {
    Trelis::ReportMember m;
    m.id = id;
    m.offset = refined;
    m.refined = refined;
    m.alignment.fileId = id;
    m.alignment.status = status;
    m.alignment.confidence = 0.7;
    return m;
}

// A cluster of three (the reference; a drifting member; one of no length kept at its frame
// estimate), a recording that matched nothing and one that could not be read, named with markup,
// quotes and bytes that are not UTF-8.
Trelis::RunReport hostileRun() {
    using Status = Trelis::MemberAlignment::Status;
    Trelis::RunReport report;
    const std::string hostile = "cam <b>&amp;</b> \"A\" 'x' \xFF\xC3.wav";
    report.files = {input(1, hostile, 30 * 8000), input(2, "cam2.wav", 60 * 8000),
                    input(3, "empty.wav", 0), input(4, "solo.wav", 20 * 8000),
                    input(5, "broken</td>.wav", 0)};
    report.files[4].error = "not a WAVE file <RIFF> & more";
    Trelis::ReportCluster cluster;
    cluster.reference = 1;
    cluster.members = {member(1, 0.0, Status::Reference), member(2, 12.5, Status::Refined),
                       member(3, 40.0, Status::Unrefined)};
    cluster.members[1].alignment.driftMeasured = true;
    cluster.members[1].alignment.driftPpm = 15.04;
    cluster.members[1].alignment.driftError = 0.2;
    cluster.members[2].alignment.reason = Trelis::AlignReason::ShortOverlap;
    cluster.pairs = {{1, 2, 12.5, 80.0, 17.5, 10.0, 0.9}, {2, 3, 27.5, 12.0, 0.0, 0.0, 0.1}};
    Trelis::ReportCluster single;
    single.members = {member(4, 0.0, Status::Reference)};
    report.clusters = {cluster, single};
    report.unmatched = {4};
    report.envelopes[1] = std::vector<float>(300, -6.0f);
    report.envelopes[2] = {0.0f, std::nanf(""), -80.0f};
    report.evaluation = Trelis::Evaluation();
    return report;
}

TEST(HtmlReport, BarsSitAtTheirOffsetsAndHostileNamesStayText) {
    const Trelis::RunReport report = hostileRun();
    const std::string html = page(report);
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(html.c_str()), tinyxml2::XML_SUCCESS) << doc.ErrorStr();
    const XMLElement* root = doc.RootElement();

    // Self-contained: one script, its own; nothing fetched; no NaN from the broken level.
    EXPECT_EQ(
        find(root, [](const XMLElement* e) { return e->Name() == std::string("script"); }).size(),
        1u);
    for (const char* bad : {"://", "src=", "href=", "url(", "@import", "nan"}) {
        EXPECT_FALSE(contains(html, bad)) << bad;
    }
    // The cluster of three is a timeline, its bars in the order they start; the one of one is not.
    const auto clusters = find(root, hasClass("cluster"));
    ASSERT_EQ(clusters.size(), 1u);
    EXPECT_DOUBLE_EQ(clusters[0]->DoubleAttribute("data-start"), 0.0);
    EXPECT_DOUBLE_EQ(clusters[0]->DoubleAttribute("data-span"), 72.5);  // cam2 ends at 12.5 + 60
    const auto bars = find(clusters[0], hasClass("bar"));
    ASSERT_EQ(bars.size(), 3u);
    const double offsets[] = {0.0, 12.5, 40.0}, lengths[] = {30.0, 60.0, 0.0};
    const char* colours[] = {"ref", "high", "kept"};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(bars[k]->IntAttribute("data-id"), static_cast<int>(k) + 1);
        EXPECT_NEAR(percent(bars[k], "left"), offsets[k] / 72.5 * 100.0, 1e-4);
        EXPECT_NEAR(percent(bars[k], "width"), lengths[k] / 72.5 * 100.0, 1e-4);
        EXPECT_TRUE(hasClass(colours[k])(bars[k]));
    }
    // Envelopes: one step per run of equal values, none for a file without one.
    const auto envelopes = find(clusters[0], hasClass("env"));
    ASSERT_EQ(envelopes.size(), 2u);
    EXPECT_STREQ(envelopes[0]->Attribute("viewBox"), "0 0 300 32");
    EXPECT_STREQ(envelopes[0]->FirstChildElement("path")->Attribute("d"), "M0 32V7h300V32Z");
    EXPECT_STREQ(envelopes[1]->FirstChildElement("path")->Attribute("d"), "M0 32V2h1V32h2V32Z");
    // Labels: the hostile name comes back as its text, invalid bytes replaced; status and drift.
    const std::string clean = Trelis::cleanName(report.files[0].name);
    EXPECT_TRUE(contains(clean, "\xEF\xBF\xBD"));
    EXPECT_EQ(find(clusters[0], hasClass("name"))[0]->GetText(), clean);
    EXPECT_STREQ(find(clusters[0], hasClass("status"))[2]->GetText(),
                 "frame estimate kept: overlap too short");
    const auto drifts = find(clusters[0], hasClass("drift"));
    ASSERT_EQ(drifts.size(), 1u);
    EXPECT_STREQ(drifts[0]->GetText(), "+15.0 ppm");
    // The links, the weak one marked; the file of no cluster; the unreadable one with its reason.
    const auto rows = find(clusters[0], [](const XMLElement* e) {
        return e->Name() == std::string("tr") && e->FirstChildElement("td") != nullptr;
    });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]->FirstChildElement("td")->GetText(), clean + " – cam2.wav");
    EXPECT_FALSE(hasClass("weak")(rows[0]));
    EXPECT_TRUE(hasClass("weak")(rows[1]));
    const auto listed = find(root, [](const XMLElement* e) {
        return e->Attribute("data-id") != nullptr && e->Name() != std::string("div");
    });
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_STREQ(listed[0]->GetText(), "solo.wav ");
    EXPECT_STREQ(listed[1]->FirstChildElement("td")->GetText(), "broken</td>.wav");
    EXPECT_STREQ(listed[1]->LastChildElement("td")->GetText(), "not a WAVE file <RIFF> & more");
    EXPECT_TRUE(contains(html, "id=\"evaluation\""));

    // A run with nothing in it is still a page, without an evaluation.
    const std::string empty = page(Trelis::RunReport());
    EXPECT_EQ(doc.Parse(empty.c_str()), tinyxml2::XML_SUCCESS) << doc.ErrorStr();
    EXPECT_FALSE(contains(empty, "id=\"evaluation\""));
}

TEST(LoudnessEnvelope, LevelsBelowTheLoudestStretchAlikeOnAnyThreadCount) {
    TrelisTest::MemorySource source;
    std::vector<float> steps(1000, 0.5f);
    std::fill(steps.begin() + 500, steps.end(), 0.05f);  // 20 dB quieter
    source.recordings[1] = steps;
    source.recordings[2] = {};
    source.recordings[3] = {0.0f, 0.0f};  // silence: all at the floor
    source.recordings[4] = TrelisSynth::musicLike(3, 2.0);
    const std::vector<int> ids = {1, 2, 3, 4, 9};
    const auto one = Trelis::loudnessEnvelopes(ids, source, 1, 10);
    ASSERT_EQ(one.size(), 4u);  // 9 can't be opened
    ASSERT_EQ(one.at(1).size(), 10u);
    EXPECT_FLOAT_EQ(one.at(1)[0], 0.0f);
    EXPECT_NEAR(one.at(1)[9], -20.0f, 1e-4);
    EXPECT_TRUE(one.at(2).empty());
    EXPECT_EQ(one.at(3), std::vector<float>({-60.0f, -60.0f}));
    EXPECT_EQ(one, Trelis::loudnessEnvelopes(ids, source, 3, 10));
    EXPECT_EQ(source.opened, source.closed);
}

// The page of a real analysis: every bar where the analysis puts its member, each with its
// loudness.
TEST(HtmlReport, PageOfAnAnalysisPlacesEveryBarAtItsRefinedOffset) {
    TempDir dir;
    std::filesystem::create_directories(dir.path("in"));
    const auto event = TrelisSynth::musicLike(21, 60.0);
    std::uint32_t seed = 1;
    for (const auto& [name, at] :
         std::vector<std::pair<std::string, double>>{{"a<1>.wav", 0.0}, {"b.wav", 9.0}}) {
        TrelisSynth::writeWav(dir.path("in/" + name),
                              TrelisSynth::record(event, {name, at, 35.0, 0.8, 0.01, 0.0}, seed++));
    }
    TrelisSynth::writeWav(dir.path("in/other.wav"), TrelisSynth::musicLike(99, 20.0));
    Trelis::RunReport report = TrelisTest::analyseFolder(dir.path("in"));
    std::map<int, std::string> paths;
    std::vector<int> ids;
    for (const Trelis::InputFile& file : report.files) {
        paths[file.id] = file.path;
        ids.push_back(file.id);
    }
    Trelis::RecordingSource source(paths, 8000, false);
    report.envelopes = Trelis::loudnessEnvelopes(ids, source, 1);
    const std::string html = page(report);
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(html.c_str()), tinyxml2::XML_SUCCESS) << doc.ErrorStr();
    const auto bars = find(doc.RootElement(), hasClass("bar"));
    ASSERT_EQ(bars.size(), 2u);
    ASSERT_EQ(report.clusters[0].members.size(), 2u);
    for (const Trelis::ReportMember& m : report.clusters[0].members) {
        const auto bar = std::find_if(bars.begin(), bars.end(), [&](const XMLElement* b) {
            return b->IntAttribute("data-id") == m.id;
        });
        ASSERT_NE(bar, bars.end());
        EXPECT_NEAR((*bar)->DoubleAttribute("data-offset"), m.refined, 1e-6);
        EXPECT_EQ(find(*bar, hasClass("env")).size(), 1u);
    }
}

}  // namespace
