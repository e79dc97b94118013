// The whole library on a synthetic event: four recordings of one minute of music-like sound,
// started at different moments, with different gains, their own noise and a short echo, plus one
// unrelated recording.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MCClusterSync.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "support/SyntheticAudio.h"
#include "support/WavImage.h"

using namespace Trelis;

namespace {

struct Device {
    const char* name;
    double start;    // seconds into the event
    double seconds;  // length of the recording
    double gain;
    double noise;  // noise amplitude
    double echo;   // seconds of delay of a 0.3 echo
};

std::vector<float> record(const std::vector<float>& event, const Device& d, std::uint32_t seed) {
    const std::size_t rate = 8000;
    const auto first = static_cast<std::size_t>(std::lround(d.start * rate));
    const auto count = static_cast<std::size_t>(d.seconds * rate);
    const auto delay = static_cast<std::size_t>(d.echo * rate);
    std::mt19937 rng(seed);
    std::vector<float> out(count);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t at = first + n;
        double v = event[at];
        if (at >= delay) {
            v += 0.3 * event[at - delay];
        }
        const double noise = d.noise * (static_cast<double>(rng()) / 2147483648.0 - 1.0);
        out[n] = static_cast<float>(d.gain * v + noise);
    }
    return out;
}

}  // namespace

TEST(EndToEnd, FourRecordingsOfOneEventClusterWithOffsetsWithinOneFrame) {
    TrelisTest::TempDir dir;
    const auto event = TrelisTest::musicLike(31, 70.0);
    // Starts at multiples of the hop (5.12 s is 160 hops) and between them.
    const Device devices[] = {
        {"cam1", 0.0, 40.0, 0.9, 0.01, 0.011},
        {"cam2", 10.0, 45.0, 0.5, 0.02, 0.023},
        {"cam3", 5.12, 40.0, 1.2, 0.005, 0.0},
        {"cam4", 20.3, 40.0, 0.7, 0.03, 0.017},
    };
    std::vector<std::string> paths;
    std::uint32_t seed = 100;
    for (const Device& d : devices) {
        paths.push_back(dir.path(std::string(d.name) + ".wav"));
        TrelisTest::writeWav(paths.back(), record(event, d, seed++));
    }
    paths.push_back(dir.path("other.wav"));
    TrelisTest::writeWav(paths.back(), TrelisTest::musicLike(77, 30.0));

    MCExtractParams extractParams;
    MCLandmarkExtract extractor(extractParams);
    testing::internal::CaptureStdout();
    std::unique_ptr<MCFileSet> set(extractor.runAll(paths));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(set->getFiles().size(), 5u);

    MCClusterSync sync{MCClusterSyncParams(extractParams)};
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(sync.run(set.get(), nullptr),
                                                                    deleteClusterResult);
    ASSERT_EQ(result->size(), 2u);
    std::map<std::string, float> offsets;
    std::size_t largest = 0;
    for (const ClusterSet* c : *result) {
        largest = std::max(largest, c->size());
        if (c->size() == 1) {
            EXPECT_EQ((*c->begin())->name, "other");
            EXPECT_EQ((*c->begin())->offset, 0.0f);
        }
        for (const MCClusterElem* e : *c) {
            offsets[e->name] = e->offset;
        }
    }
    EXPECT_EQ(largest, 4u);
    const float frame = 256.0f / 8000.0f;
    for (const Device& d : devices) {
        EXPECT_NEAR(offsets.at(d.name), d.start, frame) << d.name;
    }
}
