#include "MCPairVotes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "MCClusterSync.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCRunParams.h"
#include "sync/FlatLandmarkIndex.h"
#include "sync/SyncTestSupport.h"

using namespace Trelis;

namespace {

// Files cut from a few events (each a stream of landmarks), with their own noise landmarks and
// hashes repeated within a file, ids with gaps: enough shared material that pairs are accepted.
void eventSet(MCFileSet& set, std::mt19937& rng) {
    const int events = 1 + static_cast<int>(rng() % 3);
    const std::uint32_t hashes = 500 + rng() % 4000;
    std::vector<std::vector<std::pair<int, std::uint32_t>>> material(events);
    for (auto& event : material) {
        for (int t = 0; t < 1500; ++t) {
            for (unsigned k = rng() % 3; k > 0; --k) {
                event.emplace_back(t, static_cast<std::uint32_t>(rng() % hashes));
            }
        }
    }
    const int files = 3 + static_cast<int>(rng() % 9);
    for (int i = 0; i < files; ++i) {
        MCFile* file = TrelisTest::addRecord(set, static_cast<int>(rng() % 3) + 3 * i, {});
        const auto& event = material[rng() % material.size()];
        const int start = static_cast<int>(rng() % 900);
        const int length = 150 + static_cast<int>(rng() % 600);
        const int base = static_cast<int>(rng() % 40);
        for (const auto& [t, hash] : event) {
            if (t >= start && t < start + length && rng() % 10 < 7) {
                file->addLandmark(new Landmark{t - start + base, file, hash});
            }
        }
        for (int k = static_cast<int>(rng() % 300); k > 0; --k) {
            file->addLandmark(new Landmark{base + static_cast<int>(rng() % length), file,
                                           static_cast<std::uint32_t>(rng() % hashes)});
        }
        const auto hum = static_cast<std::uint32_t>(rng() % hashes);
        for (int k = static_cast<int>(rng() % 40); k > 0; --k) {
            file->addLandmark(new Landmark{base + static_cast<int>(rng() % length), file, hum});
        }
        file->computeCLF();
    }
}

}  // namespace

// Votes gathered in 1, 2 and 5 hash partitions and summed give every pair the statistics of the
// one-machine matching to the bit, with either popularity rule, from the landmark counts alone;
// clustering from them gives the clusters, offsets and accepted pairs of MCClusterSync::run.
TEST(MCPairVotes, PartitionedVotesGiveTheOneMachineRun) {
    std::mt19937 rng(18);
    std::size_t pairs = 0, acceptedPairs = 0, joined = 0;
    for (int trial = 0; trial < 24; ++trial) {
        MCFileSet set;
        eventSet(set, rng);
        const bool perRecording = trial % 2 == 1;
        const unsigned maxLandmarks = trial % 3 == 0 ? 250 : 3 + rng() % 60;

        MCFileSet counts;  // what a machine without the landmarks knows
        TrelisTest::copyCounts(set, counts);

        FlatLandmarkIndex index(maxLandmarks, 1, perRecording);
        index.run(&set, nullptr);
        std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> expected(index.takeMatchStats(),
                                                                          deleteMatchStats);
        MCExtractParams extract;
        MCClusterSyncParams params(extract);
        ASSERT_TRUE(params.setMaxLandmarks(maxLandmarks));
        MCRunParams run;
        if (perRecording) {
            run.setPopularity(MCRunParams::Popularity::PerRecording);
        }
        std::vector<MCMatchStats> acceptedOne;
        std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> one(
            MCClusterSync(params).run(&set, nullptr, run, &acceptedOne), deleteClusterResult);

        for (unsigned parts : {1u, 2u, 5u}) {
            SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::to_string(parts) +
                         " partitions");
            const std::vector<MCMatchStats> stats =
                TrelisTest::partitionedVotes(set, parts, maxLandmarks, perRecording, rng)
                    .statistics(&counts);
            ASSERT_EQ(stats.size(), expected->size());
            std::size_t k = 0;
            for (const auto& [key, e] : *expected) {
                const MCMatchStats& s = stats[k++];
                ASSERT_EQ(s.id1, key.first);
                ASSERT_EQ(s.id2, key.second);
                TrelisTest::expectSameBits(s, *e);
            }
            pairs += stats.size();

            // Only the accepted pairs travel to the machine that clusters.
            std::vector<MCMatchStats> accepted;
            std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> many(
                MCClusterSync(params).cluster(&counts, MCClusterSync(params).accept(stats),
                                              &accepted),
                deleteClusterResult);
            ASSERT_EQ(accepted.size(), acceptedOne.size());
            for (std::size_t a = 0; a < accepted.size(); ++a) {
                EXPECT_EQ(accepted[a].id1, acceptedOne[a].id1);
                EXPECT_EQ(accepted[a].id2, acceptedOne[a].id2);
                TrelisTest::expectSameBits(accepted[a], acceptedOne[a]);
            }
            acceptedPairs += accepted.size();
            ASSERT_EQ(many->size(), one->size());
            std::vector<std::vector<std::tuple<int, std::string, float>>> a, b;
            for (const auto* result : {one.get(), many.get()}) {
                auto& into = result == one.get() ? a : b;
                for (const ClusterSet* cluster : *result) {
                    into.emplace_back();
                    for (const MCClusterElem* e : *cluster) {
                        into.back().emplace_back(e->fileId, e->name, e->offset);
                    }
                }
                std::sort(into.begin(), into.end());
            }
            EXPECT_EQ(a, b);
            for (const auto& cluster : a) {
                joined += cluster.size() > 1;
            }
        }
    }
    // The sets really exercise what is compared.
    EXPECT_GT(pairs, 1000u);
    EXPECT_GT(acceptedPairs, 50u);
    EXPECT_GT(joined, 20u);
}
