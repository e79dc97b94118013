#include "sync/MCLandmarkIndex.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/WavImage.h"
#include "sync/SyncTestSupport.h"

using namespace Trelis;
using TrelisTest::addRecord;
using TrelisTest::RecordingProgress;

namespace {

using Histograms = std::unique_ptr<PairHistogramMap, void (*)(PairHistogramMap*)>;

Histograms score(MCFileSet& set, unsigned maxLandmarks = 250, MCProgress* progress = nullptr) {
    MCLandmarkIndex index(maxLandmarks);
    Histograms result(index.run(&set, progress), deletePairHistograms);
    EXPECT_TRUE(index.entries.empty());
    return result;
}

}  // namespace

// The vote is the lower id's time minus the higher's.
TEST(MCLandmarkIndex, VoteIsTheLowerIdFileTimeMinusTheHigher) {
    MCFileSet set;
    MCFile* one = addRecord(set, 1, {{100, 7}});
    addRecord(set, 2, {{40, 7}});
    const auto histograms = score(set);
    ASSERT_EQ(histograms->size(), 1u);
    const OffsetHistogram& h = *histograms->at({1, 2});
    ASSERT_EQ(h.size(), 1u);
    ASSERT_EQ(h.at(60).size(), 1u);
    EXPECT_EQ(h.at(60)[0], one->landmarks.at(100)[0]);

    MCFileSet reversed;
    addRecord(reversed, 1, {{40, 7}});
    addRecord(reversed, 2, {{100, 7}});
    EXPECT_EQ(score(reversed)->at({1, 2})->count(-60), 1u);

    // Keys are lower id first, whatever the order of addition.
    MCFileSet added;
    addRecord(added, 7, {{50, 1}});
    addRecord(added, 3, {{20, 1}});
    const auto keyed = score(added);
    ASSERT_EQ(keyed->size(), 1u);
    EXPECT_EQ(keyed->begin()->first, (std::pair<int, int>{3, 7}));
    EXPECT_EQ(keyed->begin()->second->count(-30), 1u);

    // Landmarks without a file count as file 0; hashes of one file make no pair.
    MCFileSet orphans;
    addRecord(orphans, 1, {{5, 2}, {1, 4}, {2, 4}})->addLandmark(new Landmark{9, nullptr, 2u});
    addRecord(orphans, 2, {{1, 6}});
    const auto zero = score(orphans);
    ASSERT_EQ(zero->size(), 1u);
    EXPECT_EQ(zero->at({0, 1})->count(4), 1u);  // 9 - 5
}

TEST(MCLandmarkIndex, EveryPairOfHoldersVotes) {
    MCFileSet set;
    addRecord(set, 1, {{10, 5}, {20, 5}});
    addRecord(set, 2, {{1, 5}, {2, 5}, {3, 5}});
    const auto histograms = score(set);
    const OffsetHistogram& h = *histograms->at({1, 2});
    std::size_t votes = 0;
    std::map<int, int> perLandmark;
    for (const auto& bin : h) {
        votes += bin.second.size();
        for (const Landmark* l : bin.second) {
            ++perLandmark[l->time];
        }
    }
    EXPECT_EQ(votes, 6u);
    EXPECT_EQ(perLandmark, (std::map<int, int>{{10, 3}, {20, 3}}));
    EXPECT_EQ(h.at(18).size(), 1u);  // 20 - 2
    EXPECT_EQ(h.at(8).size(), 1u);   // 10 - 2
}

TEST(MCLandmarkIndex, HashesHeldByTooManyLandmarksAreDropped) {
    for (unsigned held : {250u, 251u}) {
        MCFileSet set;
        MCFile* a = addRecord(set, 1, {});
        MCFile* b = addRecord(set, 2, {});
        for (unsigned i = 0; i < held; ++i) {
            MCFile* owner = i % 2 ? b : a;
            owner->addLandmark(new Landmark{static_cast<int>(i), owner, 9u});
        }
        a->addLandmark(new Landmark{0, a, 3u});
        b->addLandmark(new Landmark{0, b, 3u});
        const auto histograms = score(set);
        std::size_t votes = 0;
        for (const auto& bin : *histograms->at({1, 2})) {
            votes += bin.second.size();
        }
        EXPECT_EQ(votes, held == 250 ? 1u + 125u * 125u : 1u) << held;
    }
}

TEST(MCLandmarkIndex, ProgressOfEmptyAndOneFileSets) {
    {
        MCFileSet empty;
        RecordingProgress progress;
        EXPECT_TRUE(score(empty, 250, &progress)->empty());
        EXPECT_EQ(progress.fractions, (std::vector<float>{0.0f, 0.0f}));
    }
    {
        MCFileSet one;
        addRecord(one, 1, {{1, 5}, {2, 5}, {3, 6}, {4, 6}, {5, 7}});
        RecordingProgress progress;
        EXPECT_TRUE(score(one, 250, &progress)->empty());
        // Building: 0 and 1; scoring: 0, then the two hashes held twice at 50% and 100%.
        EXPECT_EQ(progress.fractions, (std::vector<float>{0.0f, 1.0f, 0.0f, 0.5f, 1.0f}));
    }
    {
        MCLandmarkIndex index(250);
        RecordingProgress progress;
        Histograms none(index.run(nullptr, &progress), deletePairHistograms);
        ASSERT_NE(none, nullptr);
        EXPECT_TRUE(none->empty());
        EXPECT_EQ(progress.fractions, (std::vector<float>{0.0f}));
    }
}

TEST(MCLandmarkIndex, ScoringReportsAtMostOncePerPercent) {
    MCFileSet set;
    MCFile* a = addRecord(set, 1, {});
    MCFile* b = addRecord(set, 2, {});
    for (int h = 0; h < 1000; ++h) {
        a->addLandmark(new Landmark{h, a, static_cast<std::uint32_t>(h)});
        b->addLandmark(new Landmark{h + 3, b, static_cast<std::uint32_t>(h)});
    }
    RecordingProgress progress;
    score(set, 250, &progress);
    // 0, 0.5 and 1 for building two files; 0 and one report per percent for 1000 hashes.
    ASSERT_EQ(progress.fractions.size(), 3u + 101u);
    EXPECT_EQ(progress.fractions[3], 0.0f);
    EXPECT_EQ(progress.fractions[4], 0.01f);
    EXPECT_EQ(progress.fractions.back(), 1.0f);
}
