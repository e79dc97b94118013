#include "sync/MatchStatistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "support/Capture.h"
#include "sync/MatchStatsMap.h"
#include "sync/SyncTestSupport.h"

using namespace Trelis;
using TrelisTest::addRecord;

namespace {

// A histogram whose bins hold the given numbers of votes, all for `voter`.
OffsetHistogram histogramOf(std::initializer_list<std::pair<int, int>> bins, Landmark* voter) {
    OffsetHistogram h;
    for (const auto& [offset, votes] : bins) {
        h[offset].assign(static_cast<std::size_t>(votes), voter);
    }
    return h;
}

// Records spanning frames [first, last] with one landmark per frame.
MCFile* spanning(MCFileSet& set, int id, int first, int last) {
    MCFile* file = addRecord(set, id, {});
    for (int f = first; f <= last; ++f) {
        file->addLandmark(new Landmark{f, file, 1u});
    }
    file->computeCLF();
    return file;
}

MCMatchStats passing() {
    MCMatchStats s(nullptr);
    s.matchCount = 30.0f;
    s.overlapLength = 599.0f;
    s.templateLength = 200.0f;
    s.percentMatchF1 = 0.05f;
    s.percentMatchF2 = 0.05f;
    s.histMean = 0.06f;
    s.histStd = 1.24f;
    return s;
}

bool accept(const MCMatchStats& s) {
    return acceptMatch(s, 5, 31.25f, 3.0f, 3.0f, 0.0025f);
}

}  // namespace

TEST(MCMatchStats, WinningBinIsTheLargestOffsetAmongEqualCounts) {
    MCFileSet set;
    spanning(set, 1, 0, 99);
    spanning(set, 2, 0, 99);
    Landmark voter{5, nullptr, 1u};
    OffsetHistogram h = histogramOf({{10, 5}, {20, 5}, {-4, 2}}, &voter);
    PairHistogramMap pairs{{{1, 2}, &h}};
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> stats(computeMatchStats(&set, &pairs),
                                                                   deleteMatchStats);
    ASSERT_EQ(stats->size(), 1u);
    const MCMatchStats& s = *stats->at({1, 2});
    EXPECT_EQ(s.id1, 1);
    EXPECT_EQ(s.id2, 2);
    EXPECT_EQ(s.offset, 20.0f);
    EXPECT_EQ(s.matchCount, 5.0f);
    EXPECT_EQ(s.templateLength, 0.0f);  // one landmark voted five times
    EXPECT_FALSE(s.accepted);
    EXPECT_EQ(s.histogram, &h);
    EXPECT_EQ(computeMatchStats(nullptr, &pairs), nullptr);
    EXPECT_EQ(computeMatchStats(&set, nullptr), nullptr);

    // The spread has a floor.
    spanning(set, 3, 0, 300);
    spanning(set, 4, 100, 300);
    OffsetHistogram few = histogramOf({{0, 3}}, &voter);
    PairHistogramMap other{{{3, 4}, &few}};
    stats.reset(computeMatchStats(&set, &other));
    const MCMatchStats& floored = *stats->at({3, 4});
    EXPECT_EQ(floored.overlapLength, 200.0f);
    EXPECT_NEAR(floored.histStd, std::sqrt(0.1f), 1e-6f);
    EXPECT_EQ(floored.overlapLandmarksF1, 201.0f);
    EXPECT_EQ(floored.percentMatchF1, 3.0f / 201.0f);
}

// The overlap of staggered files, counted at the right ends; of disjoint files, negative (and
// rejected); of a missing record, nothing.
TEST(MCMatchStats, OverlapOfStaggeredDisjointAndMissingFiles) {
    MCFileSet set;
    MCFile* a = spanning(set, 1, 0, 999);
    MCFile* b = spanning(set, 2, 0, 999);
    float n1 = 0, n2 = 0;
    EXPECT_EQ(computeOverlap(a, b, 400.0f, n1, n2), 599.0f);
    EXPECT_EQ(n1, 600.0f);  // frames 400 to 999
    EXPECT_EQ(n2, 600.0f);  // frames 0 to 599
    EXPECT_EQ(computeOverlap(a, b, -400.0f, n1, n2), 599.0f);
    EXPECT_EQ(n1, 600.0f);  // frames 0 to 599
    EXPECT_EQ(n2, 600.0f);  // frames 400 to 999

    // Check the ranges themselves with sparse records: landmarks only at 0, 450 and 999.
    MCFile* c = addRecord(set, 3, {{0, 1}, {450, 1}, {999, 1}});
    MCFile* d = addRecord(set, 4, {{0, 1}, {450, 1}, {999, 1}});
    c->computeCLF();
    d->computeCLF();
    computeOverlap(c, d, 400.0f, n1, n2);
    EXPECT_EQ(n1, 2.0f);  // 450 and 999 lie in 400..999
    EXPECT_EQ(n2, 2.0f);  // 0 and 450 lie in 0..599

    MCFile* early = spanning(set, 5, 0, 99);
    MCFile* late = spanning(set, 6, 500, 999);
    EXPECT_EQ(computeOverlap(early, late, 0.0f, n1, n2), -401.0f);
    MCMatchStats s = passing();
    s.overlapLength = -401.0f;
    EXPECT_FALSE(acceptMatch(s, 0, 31.25f, 0.0f, -100.0f, 0.0f));  // condition 6 alone

    n1 = n2 = 7;
    EXPECT_EQ(computeOverlap(early, nullptr, 3.0f, n1, n2), 0.0f);
    EXPECT_EQ(n1, 7.0f);
    EXPECT_EQ(n2, 7.0f);
}

TEST(MCMatchStats, HistogramMeanAndSpread) {
    Landmark voter{0, nullptr, 1u};
    OffsetHistogram h = histogramOf({{-3, 2}, {400, 30}, {401, 4}}, &voter);
    float mean = 0, variance = 0;
    computeHistogramStats(&h, 599.0f, mean, variance);
    EXPECT_NEAR(mean, 0.0601f, 0.0001f);
    EXPECT_NEAR(variance, 1.5287f, 0.0001f);
    EXPECT_NEAR(mean + 10.0f * std::sqrt(variance), 12.42f, 0.01f);
    computeHistogramStats(nullptr, 599.0f, mean, variance);  // nothing happens
    EXPECT_NEAR(mean, 0.0601f, 0.0001f);
}

TEST(MCMatchStats, TemplateIsTheExtentOfTheVotingLandmarks) {
    MCFileSet set;
    Landmark early{120, nullptr, 1u}, late{470, nullptr, 1u}, elsewhere{5, nullptr, 1u};
    OffsetHistogram h;
    h[7] = {&late, &early, &late};
    h[8] = {&elsewhere};
    float length = -1.0f;
    computeTemplate(1, 2, &h, 7, length, &set);
    EXPECT_EQ(length, 350.0f);
    length = -1.0f;
    computeTemplate(1, 2, &h, 9, length, &set);  // no such bin: nothing written
    EXPECT_EQ(length, -1.0f);
}

TEST(MCMatchStatsDeathTest, EmptyWinningBinStopsTheProcess) {
    MCFileSet set;
    OffsetHistogram h;
    h[3] = {};
    float length = 0.0f;
    EXPECT_EXIT(computeTemplate(1, 2, &h, 3, length, &set), ::testing::ExitedWithCode(1),
                "\\[ERROR\\]: error in computing the region of overlap between proposed histogram "
                "points");
}

TEST(MCMatchStats, EachRejectionIsAStrictComparison) {
    EXPECT_TRUE(accept(passing()));
    MCMatchStats s = passing();
    s.templateLength = 93.0f;  // 1: below 3 s x 31.25
    EXPECT_FALSE(accept(s));
    s.templateLength = 93.75f;
    s.overlapLength = 93.75f;
    EXPECT_TRUE(accept(s));
    s = passing();
    s.matchCount = 4.0f;  // 2
    s.histMean = 0.0f;
    s.histStd = 0.0f;
    EXPECT_FALSE(accept(s));
    s.matchCount = 5.0f;
    EXPECT_TRUE(accept(s));
    s = passing();
    s.overlapLength = 90.0f;  // 3 (and 4)
    EXPECT_FALSE(accept(s));
    s = passing();
    s.templateLength = 600.0f;  // 4: template longer than the overlap, whatever the thresholds
    EXPECT_FALSE(acceptMatch(s, 0, 31.25f, 0.0f, 0.0f, 0.0f));
    s = passing();
    s.percentMatchF1 = 0.001f;  // 5 looks at the larger fraction
    s.percentMatchF2 = 0.003f;
    EXPECT_TRUE(accept(s));
    s.percentMatchF2 = 0.002f;
    EXPECT_FALSE(accept(s));
    s = passing();
    s.histStd = 2.994f;  // 7: 0.06 + 29.94 = 30.0 is not above 30
    EXPECT_TRUE(accept(s));
    s.histStd = 3.0f;
    EXPECT_FALSE(accept(s));
    s = passing();
    s.percentMatchF1 = NAN;  // no landmark counted: 0 / 0; NaN rejects nothing
    s.percentMatchF2 = NAN;
    s.histMean = NAN;
    EXPECT_TRUE(accept(s));
}

TEST(MCMatchStats, PrintMergeStatsListsEveryField) {
    MCMatchStats s = passing();
    s.id1 = 3;
    s.id2 = 8;
    s.offset = -12.0f;
    s.overlapLandmarksF1 = 600.0f;
    s.overlapLandmarksF2 = 512.0f;
    EXPECT_EQ(TrelisTest::stdoutOf([&] { printMergeStats(s); }),
              "MERGE STATS OF FILE 3 AND 8\noffset: -12\nmatch count: 30\nlength of overlap: "
              "599\npercentage of matches in F1: 0.05 out of: 600\npercentage of matches in F2: "
              "0.05 out of: 512\nlength of template region: 200\nmean of hist: 0.06\nstd of "
              "hist: 1.24\n");
}
