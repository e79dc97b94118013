// The cluster's solve on measured pairs made by hand: offsets and clock rates from pairs that
// agree, a pair's other line taken when its best does not close a cycle, a pair dropped when no
// line of it does, and the anchor's choice; and on random clusters, the same to the bit as
// solving every switch in full.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "align/ClusterSolver.h"

using Trelis::ClusterSolver;

namespace {

// Member m starts at start[m] seconds on the reference clock and counts rate[m] reference seconds
// per second of its own. The pair (a, b) observed at `atA` seconds into a, as its measurement
// would give it, shifted by `error` seconds.
ClusterSolver::Line observed(const std::vector<double>& start, const std::vector<double>& rate,
                             int a, int b, double atA, double error = 0.0) {
    const double instant = start[a] + rate[a] * atA;
    ClusterSolver::Line line;
    line.atA = atA;
    line.atB = (instant - start[b]) / rate[b] + error;
    line.sigma = 20e-6;
    line.logRate = std::log(rate[a] / rate[b]);
    line.logRateVariance = 1e-14;  // 0.1 ppm
    return line;
}

ClusterSolver::Pair pair(int a, int b, std::vector<ClusterSolver::Line> lines) {
    ClusterSolver::Pair p;
    p.a = a;
    p.b = b;
    p.lines = std::move(lines);
    p.confidence = 0.9;
    return p;
}

// The pairs of a random cluster of `count` members with drifting clocks, which disagree: lines
// off by a reflection's delay, pairs with no true line, pairs that do not tell the rate.
std::vector<ClusterSolver::Pair> disagreeingPairs(std::mt19937& random, int count) {
    const auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(random);
    };
    std::vector<double> start(count), rate(count);
    for (int m = 0; m < count; ++m) {
        start[m] = uniform(0.0, 600.0);
        rate[m] = 1.0 + (random() % 3 == 0 ? uniform(-40e-6, 40e-6) : 0.0);
    }
    std::vector<ClusterSolver::Pair> pairs;
    for (int a = 0; a < count; ++a) {
        for (int b = a + 1; b < count; ++b) {
            if (uniform(0.0, 1.0) < 0.4) {
                continue;
            }
            const double atA = uniform(10.0, 900.0);
            const int lines = 1 + static_cast<int>(random() % 3);
            const int truth = uniform(0.0, 1.0) < 0.15 ? -1 : static_cast<int>(random() % lines);
            std::vector<ClusterSolver::Line> measured;
            for (int l = 0; l < lines; ++l) {
                const double error =
                    l == truth ? uniform(-30e-6, 30e-6) : uniform(0.5e-3, 3e-3) * (l % 2 ? 1 : -1);
                ClusterSolver::Line line = observed(start, rate, a, b, atA, error);
                line.logRate += uniform(-0.2e-6, 0.2e-6);
                line.share = l == 0 ? 1.0 : uniform(0.5, 1.0);
                if (random() % 5 == 0) {
                    line.logRateVariance = std::numeric_limits<double>::infinity();
                }
                measured.push_back(line);
            }
            pairs.push_back(pair(a, b, measured));
        }
    }
    return pairs;
}

}  // namespace

// Four members, one of them 40 ppm fast (it counts fewer reference seconds per own second); every
// pair measured once, all consistent: offsets and rates come back exactly, anchored at the most
// preferred member.
TEST(ClusterSolver, RecoversOffsetsAndRatesOnTheAnchorsClock) {
    const std::vector<double> start = {0.0, 12.5, 30.25, 61.0};
    const std::vector<double> rate = {1.0, 1.0, 1.0 / (1.0 + 40e-6), 1.0};
    std::vector<ClusterSolver::Pair> pairs;
    for (int a = 0; a < 4; ++a) {
        for (int b = a + 1; b < 4; ++b) {
            pairs.push_back(pair(a, b, {observed(start, rate, a, b, 70.0)}));
        }
    }
    ClusterSolver solver(4, {0, 1, 2, 3}, 50.0);
    ASSERT_EQ(solver.solve(pairs), 0);
    for (int m = 0; m < 4; ++m) {
        EXPECT_TRUE(solver.members()[m].linked);
        EXPECT_NEAR(solver.members()[m].offset, start[m], 1e-6) << m;
        EXPECT_NEAR(solver.members()[m].logRate, std::log(rate[m]), 1e-8) << m;
    }
    for (const auto& p : pairs) {
        EXPECT_TRUE(p.used);
        EXPECT_EQ(p.chosen, 0);
    }
    EXPECT_DOUBLE_EQ(solver.members()[0].confidence, 1.0);
    EXPECT_NEAR(solver.offsetDifferenceVariance(1, 0), 0.0, 1e-8);
}

// A reflection 1.4 ms late outscored the direct sound in one pair of a triangle: the solve takes
// the pair's second line, which closes the cycle, rather than drop a pair or spread the error.
TEST(ClusterSolver, TakesThePairsOtherLineThatClosesTheCycle) {
    const std::vector<double> start = {0.0, 4.0, 9.0};
    const std::vector<double> rate = {1.0, 1.0, 1.0};
    std::vector<ClusterSolver::Pair> pairs = {
        pair(0, 1, {observed(start, rate, 0, 1, 20.0)}),
        pair(1, 2, {observed(start, rate, 1, 2, 20.0)}),
        pair(0, 2, {observed(start, rate, 0, 2, 20.0, 1.4e-3), observed(start, rate, 0, 2, 20.0)}),
    };
    pairs[2].lines[1].share = 0.8;
    ClusterSolver solver(3, {0, 1, 2}, 50.0);
    ASSERT_EQ(solver.solve(pairs), 0);
    EXPECT_EQ(pairs[2].chosen, 1);
    EXPECT_TRUE(pairs[2].used);
    EXPECT_NEAR(solver.members()[2].offset, 9.0, 1e-6);
}

// With four members every pair lies on two cycles, so the one pair 1.4 ms off with no other line
// stands out: it is dropped, and the offsets are those of the others.
TEST(ClusterSolver, DropsThePairThatClosesNoCycle) {
    const std::vector<double> start = {0.0, 4.0, 9.0, 11.0};
    const std::vector<double> rate(4, 1.0);
    std::vector<ClusterSolver::Pair> pairs;
    for (int a = 0; a < 4; ++a) {
        for (int b = a + 1; b < 4; ++b) {
            const double error = a == 0 && b == 2 ? 1.4e-3 : 0.0;
            pairs.push_back(pair(a, b, {observed(start, rate, a, b, 20.0, error)}));
        }
    }
    ClusterSolver solver(4, {0, 1, 2, 3}, 50.0);
    ASSERT_EQ(solver.solve(pairs), 0);
    for (const auto& p : pairs) {
        EXPECT_EQ(p.used, !(p.a == 0 && p.b == 2)) << p.a << "-" << p.b;
    }
    EXPECT_NEAR(solver.members()[2].offset, 9.0, 1e-6);
}

// Two groups that no pair links: the larger is solved, anchored at its most preferred member,
// even when a member of the smaller one is preferred; members outside it are not linked. With no
// pair at all there is nothing to solve.
TEST(ClusterSolver, SolvesTheLargestLinkedGroup) {
    const std::vector<double> start = {0.0, 2.0, 3.0, 5.0, 8.0};
    const std::vector<double> rate(5, 1.0);
    std::vector<ClusterSolver::Pair> pairs = {
        pair(0, 1, {observed(start, rate, 0, 1, 10.0)}),
        pair(2, 3, {observed(start, rate, 2, 3, 10.0)}),
        pair(3, 4, {observed(start, rate, 3, 4, 10.0)}),
    };
    ClusterSolver solver(5, {0, 1, 3, 2, 4}, 50.0);
    ASSERT_EQ(solver.solve(pairs), 3);
    EXPECT_FALSE(solver.members()[0].linked);
    EXPECT_TRUE(solver.members()[2].linked);
    EXPECT_NEAR(solver.members()[4].offset - solver.members()[2].offset, 5.0, 1e-6);

    std::vector<ClusterSolver::Pair> none;
    ClusterSolver empty(2, {0, 1}, 50.0);
    EXPECT_EQ(empty.solve(none), -1);
}

// Random clusters of 8 to 24 members with drifting clocks, whose pairs disagree: lines off by a
// reflection's delay, pairs with no true line, pairs that do not tell the rate. Costing the
// switches by updates first must give what solving each in full gives, to the bit.
TEST(ClusterSolver, UpdatesChooseAsSolvingEverySwitchInFull) {
    std::mt19937 random(7);
    int switched = 0, dropped = 0;
    for (int cluster = 0; cluster < 16; ++cluster) {
        const int count = 8 + static_cast<int>(random() % 17);
        std::vector<ClusterSolver::Pair> pairs = disagreeingPairs(random, count);
        std::vector<int> preference(count);
        std::iota(preference.begin(), preference.end(), 0);
        std::shuffle(preference.begin(), preference.end(), random);
        std::vector<ClusterSolver::Pair> straight = pairs;
        ClusterSolver fast(count, preference, 50.0), full(count, preference, 50.0);
        full.setExhaustive(true);
        fast.setThreads(2);
        ASSERT_EQ(fast.solve(pairs), full.solve(straight)) << cluster;
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            ASSERT_EQ(pairs[k].used, straight[k].used) << cluster << " pair " << k;
            ASSERT_EQ(pairs[k].chosen, straight[k].chosen) << cluster << " pair " << k;
            dropped += pairs[k].used ? 0 : 1;
            switched += pairs[k].chosen != 0 ? 1 : 0;
        }
        for (int m = 0; m < count; ++m) {
            const ClusterSolver::Member& x = fast.members()[m];
            const ClusterSolver::Member& y = full.members()[m];
            ASSERT_EQ(x.linked, y.linked);
            const double got[] = {x.offset, x.logRate, x.logRateVariance, x.confidence,
                                  x.linked ? fast.offsetDifferenceVariance(m, 0) : 0.0};
            const double want[] = {y.offset, y.logRate, y.logRateVariance, y.confidence,
                                   y.linked ? full.offsetDifferenceVariance(m, 0) : 0.0};
            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << cluster << " member " << m;
        }
    }
    // The clusters did make the solve take other lines and drop pairs.
    EXPECT_GT(switched, 100);
    EXPECT_GT(dropped, 50);
}

// A cluster of 48 members solved with the updates on two threads, its solution to the bit as the
// plainly written solve gave it (recorded before the factorization, the inverse and the updates'
// loops were laid out for speed).
TEST(ClusterSolver, SolvesToTheRecordedBits) {
    std::mt19937 random(11);
    const int count = 48;
    std::vector<ClusterSolver::Pair> pairs = disagreeingPairs(random, count);
    std::vector<int> preference(count);
    std::iota(preference.begin(), preference.end(), 0);
    ClusterSolver solver(count, preference, 50.0);
    solver.setThreads(2);
    const int anchor = solver.solve(pairs);
    std::uint64_t digest = 14695981039346656037ull;  // FNV-1a
    const auto add = [&](const void* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            digest = (digest ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
        }
    };
    add(&anchor, sizeof anchor);
    for (const ClusterSolver::Pair& p : pairs) {
        const int state[] = {p.chosen, p.used ? 1 : 0};
        add(state, sizeof state);
    }
    for (int m = 0; m < count; ++m) {
        const ClusterSolver::Member& x = solver.members()[m];
        const double values[] = {x.offset, x.logRate, x.logRateVariance, x.confidence,
                                 x.linked ? solver.offsetDifferenceVariance(m, anchor) : 0.0};
        add(values, sizeof values);
    }
    EXPECT_EQ(digest, 2272376686530318329ull);
}
