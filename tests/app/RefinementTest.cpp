// The result reports, the whole-file correlation and the refinement pass.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ClusterCandidate.h"
#include "results/TextReport.h"
#include "run/FilePairCorrelation.h"
#include "run/SyncRefiner.h"
#include "support/Capture.h"
#include "support/ClusterResults.h"
#include "support/WavImage.h"
#include "synth/Synth.h"

using namespace Trelis;
using TrelisTest::makeResult;
using TrelisTest::Result;
using TrelisTest::stdoutOf;
using TrelisTest::TempDir;

namespace {

std::vector<float> noise(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<float> out(count);
    for (auto& v : out) {
        v = static_cast<float>(static_cast<double>(rng()) / 4294967296.0 - 0.5);
    }
    return out;
}

}  // namespace

TEST(TextReport, OffsetsInTheDefaultFormat) {
    const Result result =
        makeResult({{{1, "take1", 0.0f}, {2, "take2", 3.25f}, {3, "long", 1234.5678f}}});
    EXPECT_EQ(
        stdoutOf([&] { printClusters(*result); }),
        "CLUSTER\nname: take1 offset:0\nname: take2 offset:3.25\nname: long offset:1234.57\n");
    const Result single = makeResult({{{4, "alone", 0.0f}}});
    EXPECT_EQ(stdoutOf([&] { printClusters(*single); }), "CLUSTER\nname: alone offset:0\n");
    const Result none = makeResult({});
    EXPECT_EQ(stdoutOf([&] { printClusters(*none); }), "");
}

TEST(TextReport, CandidateGroupsAndFixedOffsets) {
    ClusterCandidate candidate;
    candidate.groups = {{1, {{1, 0.0f}, {2, 100.5f}}}, {3, {{3, 0.0f}}}};
    EXPECT_EQ(stdoutOf([&] { printCandidateGroups(candidate); }),
              "Cluster\nFile: 1 Offset:0\nFile: 2 Offset:100.5\nCluster\nFile: 3 Offset:0\n");
    const Result result = makeResult({{{1, "a", 0.0f}, {2, "b", 3599.5f}}});
    std::ostringstream out;
    printClustersFixed(out, *result, [](const MCClusterElem& e) { return e.offset + 0.0001234; });
    EXPECT_EQ(out.str(), "CLUSTER\nname: a offset:0.000123\nname: b offset:3599.500123\n");
}

TEST(FilePairCorrelation, SizesAndTheLagOfADelayedCopy) {
    TempDir dir;
    const auto x = noise(8000, 1);
    std::vector<float> y(x.begin() + 100, x.end());  // y starts 100 samples into x
    y.resize(8000, 0.0f);
    TrelisSynth::writeWav(dir.path("x.wav"), x);
    TrelisSynth::writeWav(dir.path("y.wav"), y);
    FilePairCorrelation pair(dir.path("x.wav"), dir.path("y.wav"));
    std::string out;
    out = stdoutOf([&] { EXPECT_TRUE(correlateFiles(pair)); });
    EXPECT_EQ(out.substr(0, out.find('\n') + 1),
              "numsamps1:8000 numsamps2:8000 fftsize:16384 buffersize:16388\n");
    EXPECT_NE(out.find(" maxindex:100\nOffset between x and y is: 100\n"), std::string::npos)
        << out;

    // The other way round the lag is negative and wraps: reported as N minus the index.
    FilePairCorrelation swapped(dir.path("y.wav"), dir.path("x.wav"));
    out = stdoutOf([&] { EXPECT_TRUE(correlateFiles(swapped)); });
    EXPECT_NE(out.find(" maxindex:16284\nOffset between x and y is: 100\n"), std::string::npos)
        << out;
}

TEST(FilePairCorrelation, OneSampleEachAndMissingFiles) {
    TempDir dir;
    TrelisSynth::writeWav(dir.path("a.wav"), {0.5f});
    TrelisSynth::writeWav(dir.path("b.wav"), {0.25f});
    FilePairCorrelation pair(dir.path("a.wav"), dir.path("b.wav"));
    std::string out = stdoutOf([&] { EXPECT_TRUE(correlateFiles(pair)); });
    EXPECT_EQ(out,
              "numsamps1:1 numsamps2:1 fftsize:1 buffersize:4\nMax Val:0.125 maxindex:0\n"
              "Offset between x and y is: 0\n");

    FilePairCorrelation missing(dir.path("none.wav"), dir.path("a.wav"));
    out = stdoutOf([&] { EXPECT_FALSE(correlateFiles(missing)); });
    EXPECT_EQ(out, "[ERROR]: Could not load: " + dir.path("none.wav") +
                       "\nException: wavfile_t::wavfile_t() : File doesn't start with 'RIFF'\n");
    EXPECT_NE(missing.wav2, nullptr);  // the second file was still opened
}

TEST(SyncRefiner, NamesAReferencePerClusterAndReportsUnreadableMembers) {
    TempDir dir;
    TrelisSynth::writeWav(dir.path("a.wav"), std::vector<float>(100, 0.1f));
    TrelisSynth::writeWav(dir.path("c.wav"), std::vector<float>(100, 0.1f));
    Result result = makeResult({{{1, "a", 0.0f}, {2, "b", 0.0f}}, {{3, "c", 0.0f}}});
    SyncRefiner refiner({{1, dir.path("a.wav")}, {2, dir.path("b.wav")}, {3, dir.path("c.wav")}},
                        result.get());
    std::string out;
    out = stdoutOf([&] { EXPECT_TRUE(refiner.refineClusters()); });
    EXPECT_EQ(refiner.wavFiles.size(), 2u);
    EXPECT_EQ(out.rfind("REFINEMENT\n", 0), 0u);
    EXPECT_NE(out.find("name: b offset:0\n[ERROR]: Could not load: " + dir.path("b.wav") +
                       "\nException: wavfile_t::wavfile_t() : File doesn't start with 'RIFF'\n"
                       "Reference ID:2\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Reference ID:3\n"), std::string::npos);
    const std::string end = "\n\n[COMPLETED CORRELATION]\n";
    EXPECT_EQ(out.substr(out.size() - end.size()), end);
}

TEST(SyncRefiner, ClusterWithoutAReferenceStopsThePass) {
    Result result = makeResult({{{1, "a", 0.5f}}});
    SyncRefiner refiner({}, result.get());
    testing::internal::CaptureStderr();
    const std::string out = stdoutOf([&] { EXPECT_FALSE(refiner.refineClusters()); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: Could not find the reference file. Cannot refine the sync estimates.  "
              "Something bad happened.\n");
    EXPECT_EQ(out.find("[COMPLETED CORRELATION]"), std::string::npos);
}
