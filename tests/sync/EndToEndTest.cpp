// The whole library on a synthetic event: four recordings of one minute of music-like sound,
// started at different moments, with different gains, their own noise and a short echo, plus one
// unrelated recording.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MCClusterSync.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "support/MemoryInput.h"
#include "support/WavImage.h"
#include "synth/Synth.h"

using namespace Trelis;

TEST(EndToEnd, FourRecordingsOfOneEventClusterWithOffsetsWithinOneFrame) {
    TrelisTest::TempDir dir;
    const auto event = TrelisSynth::musicLike(31, 70.0);
    // Starts at multiples of the hop (5.12 s is 160 hops) and between them.
    const TrelisSynth::Device devices[] = {
        {"cam1", 0.0, 40.0, 0.9, 0.01, 0.011},
        {"cam2", 10.0, 45.0, 0.5, 0.02, 0.023},
        {"cam3", 5.12, 40.0, 1.2, 0.005, 0.0},
        {"cam4", 20.3, 40.0, 0.7, 0.03, 0.017},
    };
    std::vector<std::string> paths;
    std::uint32_t seed = 100;
    for (const TrelisSynth::Device& d : devices) {
        paths.push_back(dir.path(d.name + ".wav"));
        TrelisSynth::writeWav(paths.back(), TrelisSynth::record(event, d, seed++));
    }
    paths.push_back(dir.path("other.wav"));
    TrelisSynth::writeWav(paths.back(), TrelisSynth::musicLike(77, 30.0));

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
    for (const TrelisSynth::Device& d : devices) {
        EXPECT_NEAR(offsets.at(d.name), d.start, frame) << d.name;
    }
}
