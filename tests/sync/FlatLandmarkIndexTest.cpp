#include "sync/FlatLandmarkIndex.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "sync/MCLandmarkIndex.h"
#include "sync/SyncTestSupport.h"

using namespace Trelis;
using TrelisTest::RecordingProgress;

namespace {

// A random file set: few hashes so that they collide, files with gaps in their ids (now and then
// far wider than the landmarks), landmarks without a file or pointing at another record, shared
// offsets so some bins win clearly.
void randomSet(MCFileSet& set, std::mt19937& rng) {
    const int files = 1 + static_cast<int>(rng() % 6);
    const int spread = rng() % 5 == 0 ? 100000 : 4;
    std::vector<MCFile*> records;
    for (int i = 0; i < files; ++i) {
        const int id = static_cast<int>(rng() % 4) + spread * i;  // gaps, and id 0 sometimes
        records.push_back(TrelisTest::addRecord(set, id, {}));
    }
    const int hashes = 2 + static_cast<int>(rng() % 40);
    // Sometimes far-apart and negative times, so offsets spread over a wide range.
    const int stretch = rng() % 3 == 0 ? 97 : 1;
    const int base = rng() % 4 == 0 ? -5000 : 0;
    for (MCFile* file : records) {
        const int shift = static_cast<int>(rng() % 50);
        const int count = static_cast<int>(rng() % (rng() % 3 == 0 ? 900 : 120));
        for (int k = 0; k < count; ++k) {
            const int frame = static_cast<int>(rng() % 200);
            const auto hash = static_cast<std::uint32_t>(rng() % hashes);
            MCFile* owner = file;
            const unsigned odd = rng() % 50;
            if (odd == 0) {
                owner = nullptr;
            } else if (odd == 1) {
                owner = records[rng() % records.size()];
            }
            file->addLandmark(
                new Landmark{base + (frame + shift * (k % 2)) * stretch, owner, hash});
        }
        file->computeCLF();
    }
}

}  // namespace

// The flat index, on one to three threads, against the straightforward one, on random inputs: the
// same pairs, every field of every record the same to the bit, and the same progress reports.
TEST(FlatLandmarkIndex, MatchesTheStraightforwardIndexOnRandomSets) {
    std::mt19937 rng(2026);
    std::size_t compared = 0, dropping = 0;
    for (int trial = 0; trial < 300; ++trial) {
        MCFileSet set;
        randomSet(set, rng);
        const unsigned maxLandmarks = 1 + rng() % 60;

        RecordingProgress slowProgress;
        MCLandmarkIndex slowIndex(maxLandmarks);
        std::unique_ptr<PairHistogramMap, void (*)(PairHistogramMap*)> histograms(
            slowIndex.run(&set, &slowProgress), deletePairHistograms);
        std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> slow(
            computeMatchStats(&set, histograms.get()), deleteMatchStats);

        RecordingProgress fastProgress;
        FlatLandmarkIndex fastIndex(maxLandmarks, 1 + trial % 3);
        fastIndex.run(&set, &fastProgress);
        std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> fast(fastIndex.takeMatchStats(),
                                                                      deleteMatchStats);

        ASSERT_EQ(fastProgress.calls, slowProgress.calls) << "trial " << trial;
        ASSERT_EQ(fastProgress.fractions, slowProgress.fractions) << "trial " << trial;
        ASSERT_EQ(fast->size(), slow->size()) << "trial " << trial;
        compared += slow->size();
        dropping += (maxLandmarks < 10 && !slow->empty());
        for (const auto& [key, s] : *slow) {
            const MCMatchStats& f = *fast->at(key);
            SCOPED_TRACE("trial " + std::to_string(trial) + " pair " + std::to_string(key.first) +
                         "," + std::to_string(key.second));
            EXPECT_EQ(f.id1, s->id1);
            EXPECT_EQ(f.id2, s->id2);
            TrelisTest::expectSameBits(f, *s);
            EXPECT_EQ(f.accepted, s->accepted);
        }
    }
    // The random sets really exercise the comparison.
    EXPECT_GT(compared, 1000u);
    EXPECT_GT(dropping, 3u);
}

TEST(FlatLandmarkIndex, NullSetReportsLikeTheIndex) {
    RecordingProgress progress;
    FlatLandmarkIndex index(250);
    index.run(nullptr, &progress);
    EXPECT_EQ(progress.fractions, (std::vector<float>{0.0f}));
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> stats(index.takeMatchStats(),
                                                                   deleteMatchStats);
    EXPECT_TRUE(stats->empty());
}

// A crowd: 150 files holding one shared hash twice each (300 landmarks) at one offset, and one
// file repeating another hash 30 times. Over all files the shared hash is too popular; per
// recording it is kept, and only the file that repeats its hash loses those landmarks.
TEST(FlatLandmarkIndex, PerRecordingPopularityKeepsWhatACrowdShares) {
    MCFileSet set;
    for (int id = 1; id <= 150; ++id) {
        MCFile* file = TrelisTest::addRecord(set, id, {{100 + id, 7u}, {300 + id, 7u}});
        if (id <= 2) {
            for (int k = 0; k < (id == 1 ? 30 : 1); ++k) {
                file->addLandmark(new Landmark{10 * k + id, file, 9u});
            }
        }
        file->computeCLF();
    }
    const auto votesOf = [&](bool perRecording, int id1, int id2) {
        FlatLandmarkIndex index(250, 2, perRecording);
        index.run(&set, nullptr);
        std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> stats(index.takeMatchStats(),
                                                                       deleteMatchStats);
        const auto found = stats->find({id1, id2});
        return found == stats->end() ? 0.0f : found->second->matchCount;
    };
    EXPECT_EQ(votesOf(false, 3, 4), 0.0f);
    EXPECT_EQ(votesOf(true, 3, 4), 2.0f);   // both landmarks at offset -1
    EXPECT_EQ(votesOf(false, 1, 2), 1.0f);  // hash 9 is held 31 times: scored over all files
    EXPECT_EQ(votesOf(true, 1, 2), 2.0f);   // file 1 repeats hash 9: only hash 7 is left
}
