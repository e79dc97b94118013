// Verified matching: the candidates' chance model on votes made by hand, and whole runs on
// synthetic recordings of an event with a drifting clock, a noisy clip, unrelated sound and
// material that repeats, on one machine and from votes summed over hash partitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "Landmark.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "MCPairVotes.h"
#include "MCProgress.h"
#include "MCVerifiedSync.h"
#include "support/Devices.h"
#include "support/MemoryInput.h"
#include "support/MemorySource.h"
#include "sync/OffsetCandidates.h"
#include "sync/SyncTestSupport.h"
#include "synth/Synth.h"

using namespace Trelis;
using TrelisTest::heardBy;
using TrelisTest::MemoryInput;
using TrelisTest::MemorySource;

namespace {

std::uint64_t vote(std::int32_t offset, std::int32_t time) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(offset) ^ 0x80000000u) << 32) |
           (static_cast<std::uint32_t>(time) ^ 0x80000000u);
}

// Coincidences of two unrelated files: landmark frames drawn uniformly from each.
void strayVotes(std::vector<std::uint64_t>& votes, std::size_t count, int length1, int length2,
                std::mt19937& rng) {
    std::uniform_int_distribution<int> t1(0, length1 - 1), t2(0, length2 - 1);
    for (std::size_t k = 0; k < count; ++k) {
        const int a = t1(rng);
        votes.push_back(vote(a - t2(rng), a));
    }
}

}  // namespace

// Ten minutes of overlap of clocks 150 ppm apart: the true votes drift over three bins, while a
// repeat holds fewer votes in one bin than the true offset's best bin... and more than it would
// hold alone. Both are kept, the true offset first, and nothing of the stray votes.
TEST(OffsetCandidates, GathersADriftingPairAndKeepsItsRepeat) {
    std::mt19937 rng(7);
    std::vector<std::uint64_t> votes;
    const int length = 20000;  // frames
    strayVotes(votes, 30000, length, length, rng);
    for (int t = 0; t < length - 500; t += 300) {
        votes.push_back(vote(500 + static_cast<int>(t * 150e-6), t + 500));
    }
    int repeat = 0;
    for (int t = 4000; t < 9000; t += 150) {
        votes.push_back(vote(3000, t));
        ++repeat;
    }
    std::map<int, int> bins;
    for (std::uint64_t v : votes) {
        ++bins[static_cast<std::int32_t>(static_cast<std::uint32_t>(v >> 32) ^ 0x80000000u)];
    }
    ASSERT_LT(std::max({bins[500], bins[501], bins[502]}), repeat);  // no single bin wins

    OffsetCandidates finder(200e-6, 62.5, 1.0, 3);
    const auto found = finder.find(votes, length, length);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NEAR(found[0].offset, 501.0, 1.0);
    EXPECT_GE(found[0].votes, bins[500] + bins[501] + bins[502] - 3);
    EXPECT_NEAR(found[1].offset, 3000.0, 1.0);
    EXPECT_GT(found[0].surprise, found[1].surprise);
    EXPECT_LT(found[0].chance, 0.2 * found[0].votes);
}

// Two hundred pairs of unrelated files of many lengths and landmark counts: the model expects one
// candidate in ten pairs at a surprise of 1, and far fewer at 3.
TEST(OffsetCandidates, ChanceAloneRarelyStandsOut) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> lengths(300, 60000);
    std::uniform_int_distribution<int> counts(10, 40000);
    OffsetCandidates lax(200e-6, 62.5, 1.0, 3);
    OffsetCandidates strict(200e-6, 62.5, 3.0, 3);
    int atOne = 0, atThree = 0;
    for (int pair = 0; pair < 200; ++pair) {
        const int l1 = lengths(rng), l2 = lengths(rng);
        std::vector<std::uint64_t> votes;
        strayVotes(votes, static_cast<std::size_t>(counts(rng)), l1, l2, rng);
        atOne += static_cast<int>(lax.find(votes, l1, l2).size());
        atThree += static_cast<int>(strict.find(votes, l1, l2).size());
    }
    EXPECT_LE(atOne, 40);
    EXPECT_LE(atThree, 4);
}

// The saddle-point tail against the Poisson tail summed term by term.
TEST(OffsetCandidates, LogTailFollowsThePoissonTail) {
    for (const auto& [k, mean] :
         std::vector<std::pair<int, double>>{{3, 0.1}, {10, 2.0}, {50, 20.0}, {400, 300.0}}) {
        double term = std::exp(-mean), tail = 0.0;
        for (int i = 1; i <= k + 2000; ++i) {
            if (i - 1 >= k) {
                tail += term;
            }
            term *= mean / i;
        }
        EXPECT_NEAR(OffsetCandidates::logTail(k, mean), std::log(tail),
                    0.05 * std::fabs(std::log(tail)))
            << k << " over " << mean;
    }
}

namespace {

struct Outcome {
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> clusters{nullptr, deleteClusterResult};
    std::vector<PairMatch> pairs;
    std::map<int, std::pair<const ClusterSet*, double>> placed;  // id -> cluster, offset
};

}  // namespace

// Ids 1 to 3 record one event: 2 from 60 s with a clock 80 ppm fast, 3 a 15 s clip at 3 dB SNR.
// 4 is unrelated. 5 plays the 20 s passage that 1 holds at 40 s twice in a row, so that it fits
// 1 at two offsets alike: it is left out, named as ambiguous.
TEST(MCVerifiedSync, LinksTheEventAtItsOffsetsAndLeavesRepeatsAndStrangersOut) {
    const std::vector<float> event = TrelisSynth::musicLike(3, 200.0);
    MemorySource source;
    source.recordings[1] = heardBy(event, 0.0, 120.0, 0.0, 20.0, 1);
    source.recordings[2] = heardBy(event, 60.0, 120.0, 80.0, 10.0, 2);
    source.recordings[3] = heardBy(event, 100.0, 15.0, 0.0, 3.0, 3);
    source.recordings[4] = heardBy(TrelisSynth::musicLike(44, 90.0), 0.0, 90.0, 0.0, 20.0, 4);
    std::vector<float> twice = heardBy(event, 40.0, 20.0, 0.0, 20.0, 5);
    const std::vector<float> again = heardBy(event, 40.0, 20.0, 0.0, 20.0, 6);
    twice.insert(twice.end(), again.begin(), again.end());
    source.recordings[5] = twice;

    MCExtractParams extractParams;
    MCLandmarkExtract extractor(extractParams);
    MCFileSet files;
    for (auto& [id, samples] : source.recordings) {
        MemoryInput input(samples);
        files.addFile(extractor.run(&input, id));
        files.idToName[id] = "dev" + std::to_string(id);
    }
    TrelisTest::RecordingProgress progress;
    Outcome run;
    run.clusters.reset(MCVerifiedSync(MCClusterSyncParams(extractParams), MCVerifyParams())
                           .run(&files, source, &progress, &run.pairs));
    EXPECT_EQ(progress.stages, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(source.opened, source.closed);
    for (const ClusterSet* cluster : *run.clusters) {
        for (const MCClusterElem* elem : *cluster) {
            EXPECT_EQ(elem->name, "dev" + std::to_string(elem->fileId));
            run.placed[elem->fileId] = {cluster, elem->offset};
        }
    }
    ASSERT_EQ(run.placed.size(), 5u);
    EXPECT_EQ(run.placed[1].first, run.placed[2].first);
    EXPECT_EQ(run.placed[1].first, run.placed[3].first);
    EXPECT_EQ(run.placed[1].first->size(), 3u);
    EXPECT_EQ(run.placed[4].first->size(), 1u);
    EXPECT_EQ(run.placed[5].first->size(), 1u);
    // Offsets from the audio, not the frame grid: within a millisecond where the clocks agree.
    EXPECT_NEAR(run.placed[1].second, 0.0, 1e-3);
    EXPECT_NEAR(run.placed[2].second, 60.0, 5e-3);
    EXPECT_NEAR(run.placed[3].second, 100.0, 1e-3);

    std::map<std::pair<int, int>, PairMatch> byPair;
    for (const PairMatch& m : run.pairs) {
        EXPECT_LT(m.first, m.second);
        byPair[{m.first, m.second}] = m;
    }
    ASSERT_TRUE(byPair.count({1, 2}));
    const PairMatch& drifting = byPair[{1, 2}];
    EXPECT_EQ(drifting.status, PairMatch::Status::Linked);
    EXPECT_NEAR(drifting.alignment.driftPpm, 80.0, 10.0);
    EXPECT_GT(drifting.votes, drifting.chanceVotes);
    EXPECT_GE(drifting.alignment.strength, MCVerifyParams().getMinStrength());
    ASSERT_TRUE(byPair.count({1, 3}));
    EXPECT_EQ((byPair[{1, 3}].status), PairMatch::Status::Linked);
    ASSERT_TRUE(byPair.count({1, 5}));
    const PairMatch& repeated = byPair[{1, 5}];
    EXPECT_EQ(repeated.status, PairMatch::Status::Ambiguous);
    const double first = std::min(repeated.alignment.offset, repeated.rival.offset);
    const double second = std::max(repeated.alignment.offset, repeated.rival.offset);
    EXPECT_NEAR(first, 20.0, 1e-3);
    EXPECT_NEAR(second, 40.0, 1e-3);
    for (const auto& [key, m] : byPair) {
        EXPECT_TRUE(key.first != 4 && key.second != 4) << "linked the unrelated recording";
    }

    // The same from votes gathered in three hash partitions and summed, measured on a machine
    // that knows only the files' landmark counts, and decided on another.
    std::mt19937 shuffle(3);
    const MCPairVotes votes = TrelisTest::partitionedVotes(files, 3, 250, false, shuffle);
    MCFileSet counts;
    TrelisTest::copyCounts(files, counts);
    const MCVerifiedSync sync{MCClusterSyncParams(extractParams), MCVerifyParams()};
    std::vector<PairMatch> decided;
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> clusters(
        sync.cluster(&counts, sync.measure(votes, &counts, source), &decided), deleteClusterResult);
    ASSERT_EQ(decided.size(), run.pairs.size());
    for (std::size_t k = 0; k < decided.size(); ++k) {
        const PairMatch& a = decided[k];
        const PairMatch& b = run.pairs[k];
        EXPECT_EQ(std::tie(a.first, a.second, a.status), std::tie(b.first, b.second, b.status));
        EXPECT_EQ(std::tie(a.votes, a.chanceVotes, a.surprise),
                  std::tie(b.votes, b.chanceVotes, b.surprise));
        EXPECT_EQ(std::tie(a.alignment.offset, a.alignment.driftPpm, a.alignment.strength),
                  std::tie(b.alignment.offset, b.alignment.driftPpm, b.alignment.strength));
        EXPECT_EQ(a.rival.offset, b.rival.offset);
    }
    std::map<int, double> offsets;
    for (const ClusterSet* cluster : *clusters) {
        for (const MCClusterElem* elem : *cluster) {
            offsets[elem->fileId] = elem->offset;
            EXPECT_EQ(cluster->size(), run.placed[elem->fileId].first->size());
        }
    }
    for (const auto& [id, place] : run.placed) {
        EXPECT_EQ(offsets.at(id), place.second) << "file " << id;
    }
}
