// The Trelis program as a user meets it: run as a process on generated folders, with its output,
// exit status and written files checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/Process.h"
#include "support/WavImage.h"
#include "synth/Synth.h"
#include "wavfile_t.h"

using TrelisTest::contains;
using TrelisTest::Outcome;
using TrelisTest::run;
using TrelisTest::TempDir;
namespace fs = std::filesystem;

namespace {

Outcome trelis(const std::vector<std::string>& args, const TempDir& scratch) {
    return run(TRELIS_APP, args, scratch);
}

// The demo event: four cameras and one unrelated recording, with its truth.
class DemoRun : public ::testing::Test {
protected:
    void SetUp() override {
        event = dir.path("demo/event");
        truth = dir.path("demo/truth.xml");
        ASSERT_EQ(run(TRELIS_MAKE_DEMO, {event}, dir).status, 0);
    }
    TempDir dir;
    std::string event, truth;
};

}  // namespace

TEST_F(DemoRun, ClustersRefinesEvaluatesAndWritesSynchronizedFiles) {
    const std::string out = dir.path("out");
    const Outcome o = trelis({"-f", event, "-t", truth, "-o", out}, dir);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.err, "");  // no terminal: no progress
    EXPECT_EQ(o.out.rfind("-f " + event + "\n-t " + truth + "\n-o " + out + "\nSTARTING: " + event +
                              "/cam1.wav (id 1)\n",
                          0),
              0u)
        << o.out;
    EXPECT_TRUE(contains(o.out, "\n\n[COMPLETED CORRELATION]\nREFINED\nCLUSTER\n"));
    EXPECT_TRUE(contains(o.out, "name: cam3 offset:11.4375")) << o.out;  // within 0.1 ms
    EXPECT_TRUE(contains(o.out, "name: street offset:0.000000\n"));
    EXPECT_TRUE(contains(o.out, "pairwise precision: 1.000 recall: 1.000 F1: 1.000"));

    // Every member of the cluster of four starts at its offset: the padding is the offset.
    const fs::path folder = fs::exists(fs::path(out) / "cluster_1" / "cam1.wav")
                                ? fs::path(out) / "cluster_1"
                                : fs::path(out) / "cluster_2";
    const double starts[] = {3.0, 0.0, 11.4375, 17.03};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "cam" + std::to_string(i + 1) + ".wav";
        Trelis::wavfile_t written((folder / name).string(), 1, 1, 16000);
        Trelis::wavfile_t original(event + "/" + name, 1, 1, 16000);
        EXPECT_EQ(written.bitsPerSample, 16);
        EXPECT_EQ(written.sampleRate, 8000u);
        EXPECT_NEAR(static_cast<double>(written.numFrames) - original.numFrames, starts[i] * 8000,
                    1.0)
            << name;
    }
    EXPECT_TRUE(fs::exists(fs::path(out) / "clusters.txt"));

    // A second run into the same folder overwrites nothing, and is refused before the analysis.
    const auto before = fs::last_write_time(fs::path(out) / "clusters.txt");
    const Outcome again = trelis({"-f", event, "-o", out}, dir);
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(contains(
        again.err, "[ERROR]: The output folder " + out + " holds the results of an earlier run"))
        << again.err;
    EXPECT_FALSE(contains(again.out, "STARTING")) << again.out;
    EXPECT_EQ(fs::last_write_time(fs::path(out) / "clusters.txt"), before);
}

// Output into the input folder, or a bad truth file, ends the run before the analysis, naming
// the problem (those of truth files are tested on readTruth).
TEST_F(DemoRun, OutputIntoTheInputFolderOrABadTruthFileIsRefusedBeforeAnyWork) {
    Outcome o = trelis({"-f", event, "-o", event}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "is the input folder")) << o.err;
    EXPECT_FALSE(contains(o.out, "STARTING:"));

    const std::string bad = dir.path("bad.xml");
    std::ofstream(bad) << "<truth><cluster><file offset=\"1\"/></cluster></truth>";
    o = trelis({"-f", event, "-t", bad}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(
        o.err, "[ERROR]: Bad ground-truth file " + bad + ": line 1: a <file> without a name\n"))
        << o.err;
    EXPECT_FALSE(contains(o.out, "STARTING")) << o.out;
}

// Without a folder: help, the message, help again. A folder that can't be read, or holds no WAVE
// file directly, fails.
TEST(TrelisProgram, MissingUnreadableOrEmptyFoldersFail) {
    TempDir dir;
    Outcome o = trelis({"-h"}, dir);
    EXPECT_EQ(o.status, 1);
    const std::string message = "[ERROR]: Must provide folder path of media files to synchronize\n";
    const auto at = o.out.find(message);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(o.out.substr(0, at), o.out.substr(at + message.size()));

    o = trelis({"-f", dir.path("nowhere")}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "[ERROR]: Cannot read the folder " + dir.path("nowhere"))) << o.err;

    fs::create_directories(dir.path("empty/sub"));
    std::ofstream(dir.path("empty/notes.txt")) << "x";
    TrelisSynth::writeWav(dir.path("empty/sub/deep.wav"), std::vector<float>(8000, 0.0f));
    o = trelis({"-f", dir.path("empty")}, dir);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.err, "No WAVE file (.wav) in " + dir.path("empty"))) << o.err;
}

// A hop longer than the frame would skip sound: refused before any file is read, the options
// understood so far still printed, for either option given alone.
TEST(TrelisProgram, AHopLongerThanTheFrameIsRefusedBeforeAnyWork) {
    TempDir dir;
    fs::create_directories(dir.path("in"));
    TrelisSynth::writeWav(dir.path("in/a.wav"), TrelisSynth::musicLike(3, 5.0));
    for (const auto& [flag, value, hop, fft] :
         {std::tuple<const char*, const char*, int, int>{"-fftsize", "128", 256, 128},
          {"-hopsize", "1024", 1024, 512}}) {
        const Outcome o = trelis({"-f", dir.path("in"), flag, value}, dir);
        EXPECT_EQ(o.status, 1) << flag;
        EXPECT_TRUE(contains(o.err, "[ERROR]: The hop size (" + std::to_string(hop) +
                                        ") is larger than the FFT size (" + std::to_string(fft) +
                                        ")"))
            << o.err;
        EXPECT_TRUE(contains(o.out, std::string(flag) + " " + value + "\n")) << o.out;
        EXPECT_FALSE(contains(o.out, "STARTING")) << o.out;
    }
}

// Every thread count gives the same run: the report (but the echo of -j), the JSON, the timeline,
// the report page and the synchronized files, on the demo event and on ten events of 22
// recordings, in both matching modes.
TEST_F(DemoRun, EveryThreadCountGivesTheSameRun) {
    const std::string many = dir.path("many");
    fs::create_directories(many);
    // Six events of three recordings and four of one: the clusters a run lists, and the order it
    // lists them in, must not depend on which thread allocated what.
    for (std::uint32_t e = 0; e < 10; ++e) {
        const auto sound = TrelisSynth::musicLike(40 + e, 60.0);
        for (std::uint32_t d = 0; d < (e < 6 ? 3u : 1u); ++d) {
            const std::string name = "e" + std::to_string(e) + "d" + std::to_string(d);
            const TrelisSynth::Device device{name, 7.0 * d + 0.3 * e, 30.0, 0.6, 0.02, 0.0};
            TrelisSynth::writeWav(many + "/" + name + ".wav",
                                  TrelisSynth::record(sound, device, 10 * e + d), 8000);
        }
    }
    const auto withoutThreads = [](const std::string& out) {
        std::string kept;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("-j ", 0) != 0 && line.rfind("THREADS: ", 0) != 0) {
                kept += line + "\n";
            }
        }
        return kept;
    };
    for (const std::string& folder : {event, many}) {
        for (const char* match : {"spec", "verified"}) {
            std::map<std::string, std::string> first;  // what -j 1 gave, by what it is
            for (const char* threads : {"1", "4"}) {
                const std::string tag =
                    dir.path(std::string(match) + threads + fs::path(folder).filename().string());
                const Outcome o =
                    trelis({"-f", folder, "-match", match, "-j", threads, "-json", tag + ".json",
                            "-timeline", tag + ".xml", "-html", tag + ".html", "-o", tag + "-out"},
                           dir);
                ASSERT_EQ(o.status, 0) << o.err;
                std::map<std::string, std::string> got = {
                    {"report", withoutThreads(o.out)},
                    {"json", TrelisTest::readFile(tag + ".json")},
                    {"timeline", TrelisTest::readFile(tag + ".xml")},
                    {"page", TrelisTest::readFile(tag + ".html")}};
                for (const auto& entry : fs::recursive_directory_iterator(tag + "-out")) {
                    if (entry.is_regular_file()) {
                        got[fs::relative(entry.path(), tag + "-out").string()] =
                            TrelisTest::readFile(entry.path().string());
                    }
                }
                if (first.empty()) {
                    first = got;
                    continue;
                }
                ASSERT_EQ(got.size(), first.size()) << folder << " " << match;
                for (const auto& [what, text] : first) {
                    // The paths of the run's own output name its thread count.
                    std::string expected = text;
                    for (std::size_t at;
                         (at = expected.find(std::string(match) + "1")) != std::string::npos;) {
                        expected.replace(at, std::string(match).size() + 1,
                                         std::string(match) + threads);
                    }
                    EXPECT_EQ(got[what], expected) << folder << " " << match << " " << what;
                }
            }
        }
    }
}
