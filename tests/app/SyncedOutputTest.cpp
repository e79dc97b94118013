// Synchronized output written straight from a cluster result: members without a drift copied
// sample for sample behind their padding, members whose clock runs fast moved onto the reference
// clock, and a drift that no clock has refused for its file alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ClusterResult.h"
#include "output/SyncedOutput.h"
#include "support/ClusterResults.h"
#include "support/Process.h"
#include "support/WavImage.h"
#include "wavfile_t.h"

using TrelisTest::contains;
using TrelisTest::readFile;
using TrelisTest::TempDir;
using TrelisTest::WavImage;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 8000;
constexpr double kDriftPpm = 100.0;
// Every 5 s of its own clock the fast recorder's click falls on a whole sample: 5 R (1 + d).
const double kClickSeconds[] = {5.0, 20.0, 40.0, 55.0};

// One cluster of members with ids 1, 2, ... named `names`, at `starts` seconds, and its offsets.
struct OneCluster {
    OneCluster(const std::vector<std::string>& names, const std::vector<double>& starts) {
        std::vector<std::tuple<int, std::string, float>> members;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const int id = static_cast<int>(i) + 1;
            members.emplace_back(id, names[i], static_cast<float>(starts[i]));
            offsets[id] = starts[i];
        }
        result = TrelisTest::makeResult({members});
    }
    TrelisTest::Result result{nullptr, Trelis::deleteClusterResult};
    std::map<int, double> offsets;
};

// Silence of `frames` mono frames with a click of half scale at each of `at`.
std::vector<std::int16_t> clicks(std::size_t frames, const std::vector<std::size_t>& at) {
    std::vector<std::int16_t> samples(frames, 0);
    for (std::size_t i : at) {
        samples[i] = 16384;
    }
    return samples;
}

void saveMono(const std::string& path, const std::vector<std::int16_t>& samples) {
    WavImage().riff().fmt(1, 1, kRate, 16).data(WavImage::pcm16(samples)).save(path);
}

// Standard error while it lives.
class CapturedErrors {
public:
    CapturedErrors() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CapturedErrors() { std::cerr.rdbuf(saved_); }
    CapturedErrors(const CapturedErrors&) = delete;
    CapturedErrors& operator=(const CapturedErrors&) = delete;
    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* saved_;
};

// A 60 s reference with clicks every few seconds, and the same event recorded by a clock that
// runs kDriftPpm fast, which started 2.5 s later.
class DriftingPair : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::size_t> onReference;
        std::vector<std::size_t> onFast;
        for (double t : kClickSeconds) {
            onReference.push_back(static_cast<std::size_t>(std::llround((t + 2.5) * kRate)));
            onFast.push_back(
                static_cast<std::size_t>(std::llround(t * kRate * (1.0 + kDriftPpm * 1e-6))));
        }
        saveMono(dir.path("ref.wav"), clicks(62 * kRate, onReference));
        saveMono(dir.path("fast.wav"), clicks(fastFrames, onFast));
        paths = {{1, dir.path("ref.wav")}, {2, dir.path("fast.wav")}};
    }
    TempDir dir;
    const std::size_t fastFrames = 60 * kRate;
    std::map<int, std::string> paths;
    OneCluster cluster{{"ref", "fast"}, {0.0, 2.5}};
};

}  // namespace

TEST_F(DriftingPair, MembersWithoutADriftAreCopiedSampleForSampleBehindTheirPadding) {
    ASSERT_TRUE(Trelis::writeSyncedClusters(dir.path("plain"), *cluster.result, paths,
                                            cluster.offsets, "report\n"));
    const std::string plainFast = readFile(dir.path("plain/cluster_1/fast.wav"));
    const std::string original = readFile(dir.path("fast.wav"));
    const std::size_t pad = static_cast<std::size_t>(2.5 * kRate) * 2;
    ASSERT_EQ(plainFast.size(), 44 + pad + original.size() - 44);
    EXPECT_EQ(plainFast.substr(44, pad), std::string(pad, '\0'));
    EXPECT_EQ(plainFast.substr(44 + pad), original.substr(44));
    EXPECT_EQ(readFile(dir.path("plain/cluster_1/ref.wav")).substr(44),
              readFile(dir.path("ref.wav")).substr(44));
    EXPECT_EQ(readFile(dir.path("plain/clusters.txt")), "report\n");

    // A run that corrects the other member (where the build can) copies this one the same way.
    const CapturedErrors quiet;
    Trelis::writeSyncedClusters(dir.path("corrected"), *cluster.result, paths, cluster.offsets,
                                "report\n", {{2, kDriftPpm}});
    EXPECT_EQ(readFile(dir.path("corrected/cluster_1/ref.wav")),
              readFile(dir.path("plain/cluster_1/ref.wav")));
}

#if TRELIS_WITH_MEDIA
namespace {

// The 16-bit samples of a WAVE file that wavfile_t wrote (44-byte header).
std::vector<std::int16_t> pcmOf(const std::string& path) {
    const std::string bytes = readFile(path);
    std::vector<std::int16_t> samples((bytes.size() - 44) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<unsigned char>(bytes[44 + 2 * i]);
        const auto hi = static_cast<unsigned char>(bytes[45 + 2 * i]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    return samples;
}

// The frame of the largest magnitude within `reach` of `near`.
std::size_t peakNear(const std::vector<std::int16_t>& samples, std::size_t near,
                     std::size_t reach) {
    std::size_t best = near - reach;
    for (std::size_t i = near - reach; i <= near + reach && i < samples.size(); ++i) {
        if (std::abs(samples[i]) > std::abs(samples[best])) {
            best = i;
        }
    }
    return best;
}

}  // namespace

TEST_F(DriftingPair, DriftCorrectionPutsEveryClickOnTheReferenceClock) {
    // The same samples as FLAC: a media member goes through the same correction.
    ASSERT_TRUE(
        TrelisTest::ffmpeg("-i " + dir.path("fast.wav") + " -c:a flac " + dir.path("fast.flac")));
    paths[3] = dir.path("fast.flac");
    OneCluster three({"ref", "fast", "fast_flac"}, {0.0, 2.5, 2.5});
    ASSERT_TRUE(Trelis::writeSyncedClusters(dir.path("out"), *three.result, paths, three.offsets,
                                            "", {{2, kDriftPpm}, {3, kDriftPpm}}));
    const std::vector<std::int16_t> reference = pcmOf(dir.path("out/cluster_1/ref.wav"));
    const std::vector<std::int16_t> fast = pcmOf(dir.path("out/cluster_1/fast.wav"));
    const Trelis::wavfile_t header(dir.path("out/cluster_1/fast.wav"), 1, 1, 16000);
    EXPECT_EQ(header.sampleRate, static_cast<std::uint32_t>(kRate));
    EXPECT_EQ(header.numChannels, 1u);
    // 60 s of the fast clock last 60 / (1 + d) s of the reference's.
    EXPECT_NEAR(static_cast<double>(fast.size()),
                2.5 * kRate + static_cast<double>(fastFrames) / (1.0 + kDriftPpm * 1e-6), 1.0);
    for (double t : kClickSeconds) {
        const auto at = static_cast<std::size_t>(std::llround((t + 2.5) * kRate));
        EXPECT_EQ(peakNear(reference, at, 100), at) << t;
        EXPECT_NEAR(static_cast<double>(peakNear(fast, at, 100)), static_cast<double>(at), 1.0)
            << "click at " << t << " s";
    }
    EXPECT_EQ(readFile(dir.path("out/cluster_1/fast_flac.wav")),
              readFile(dir.path("out/cluster_1/fast.wav")));
}

TEST_F(DriftingPair, ADriftNoClockHasIsRefusedForItsFileAlone) {
    for (const double ppm : {std::numeric_limits<double>::quiet_NaN(), 2e5}) {
        const std::string out = dir.path("out" + std::to_string(ppm > 0 ? 1 : 0));
        CapturedErrors errors;
        EXPECT_FALSE(Trelis::writeSyncedClusters(out, *cluster.result, paths, cluster.offsets, "",
                                                 {{2, ppm}}));
        EXPECT_TRUE(contains(errors.text(), "[ERROR]: " + dir.path("fast.wav") +
                                                ": cannot correct its clock drift: "))
            << errors.text();
        EXPECT_TRUE(contains(errors.text(), "is not a clock's")) << errors.text();
        EXPECT_FALSE(fs::exists(out + "/cluster_1/fast.wav"));
        EXPECT_TRUE(fs::exists(out + "/cluster_1/ref.wav"));
    }
}
#else
TEST_F(DriftingPair, DriftCorrectionWithoutTheMediaDecoderWritesNoUncorrectedCopy) {
    CapturedErrors errors;
    EXPECT_FALSE(Trelis::writeSyncedClusters(dir.path("out"), *cluster.result, paths,
                                             cluster.offsets, "", {{2, kDriftPpm}}));
    EXPECT_TRUE(contains(errors.text(), "[ERROR]: " + dir.path("fast.wav") +
                                            ": drift correction needs the media decoder"))
        << errors.text();
    EXPECT_FALSE(fs::exists(dir.path("out/cluster_1/fast.wav")));
    EXPECT_TRUE(fs::exists(dir.path("out/cluster_1/ref.wav")));
}
#endif
