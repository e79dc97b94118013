#include "sync/MCClusterBuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "sync/FileGroups.h"
#include "sync/SyncTestSupport.h"

using namespace Trelis;
using TrelisTest::addRecord;

namespace {

// Statistics that pass or fail the acceptance test with the default thresholds.
MCMatchStats* link(int id1, int id2, float matchCount, float offset, bool passes = true) {
    auto* s = new MCMatchStats(nullptr);
    s->id1 = id1;
    s->id2 = id2;
    s->matchCount = matchCount;
    s->offset = offset;
    s->overlapLength = 1000.0f;
    s->templateLength = passes ? 500.0f : 10.0f;
    s->percentMatchF1 = 0.5f;
    s->percentMatchF2 = 0.5f;
    s->histMean = 0.0f;
    s->histStd = 0.1f;
    return s;
}

struct Built {
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result{nullptr, deleteClusterResult};
    // file id -> (cluster index by smallest member, offset in seconds)
    std::map<int, std::pair<int, float>> where;
    std::size_t elements = 0;
};

Built build(MCFileSet& set, MatchStatsMap& stats) {
    MCClusterBuilder builder{MCClusterSyncParams(MCExtractParams())};
    Built b;
    b.result.reset(builder.buildClusters(&set, &stats));
    for (const ClusterSet* cluster : *b.result) {
        const int first = (*cluster->begin())->fileId;
        for (const MCClusterElem* e : *cluster) {
            EXPECT_EQ(e->name, "TODO");
            b.where[e->fileId] = {first, e->offset};
            ++b.elements;
        }
    }
    return b;
}

class Stats : public MatchStatsMap {
public:
    Stats(std::initializer_list<MCMatchStats*> records) {
        for (MCMatchStats* r : records) {
            (*this)[{r->id1, r->id2}] = r;
        }
    }
    ~Stats() {
        for (auto& entry : *this) {
            delete entry.second;
        }
    }
};

}  // namespace

TEST(MCClusterBuilder, UnmatchedFilesAreClustersOfTheirOwn) {
    MCFileSet set;
    for (int id : {1, 2, 3}) {
        addRecord(set, id, {});
    }
    Stats stats{link(1, 2, 50, 10, false)};
    const Built b = build(set, stats);
    EXPECT_EQ(b.result->size(), 3u);
    EXPECT_EQ(b.elements, 3u);
    for (const auto& entry : b.where) {
        EXPECT_EQ(entry.second.first, entry.first);
        EXPECT_EQ(entry.second.second, 0.0f);
    }
    EXPECT_FALSE(stats.at({1, 2})->accepted);

    MCClusterBuilder builder{MCClusterSyncParams(MCExtractParams())};
    EXPECT_EQ(builder.buildClusters(nullptr, &stats), nullptr);
    EXPECT_EQ(builder.buildClusters(&set, nullptr), nullptr);
}

TEST(MCClusterBuilder, OffsetSignDecidesWhoStartsFirst) {
    MCFileSet set;
    addRecord(set, 1, {});
    addRecord(set, 2, {});
    Stats later{link(1, 2, 50, 100)};
    Built b = build(set, later);
    EXPECT_TRUE(later.at({1, 2})->accepted);
    EXPECT_EQ(b.where.at(1).second, 0.0f);
    EXPECT_EQ(b.where.at(2).second, 3.2f);  // 100 frames at 31.25 per second

    Stats earlier{link(1, 2, 50, -50)};
    b = build(set, earlier);
    EXPECT_EQ(b.where.at(1).second, 1.6f);
    EXPECT_EQ(b.where.at(2).second, 0.0f);
}

// Three files, every link accepted: the strongest links merge first, ties go to the later key,
// and a transferred link that ties with the survivor's own leaves the survivor's.
TEST(MCClusterBuilder, MergesAlongTheStrongestLinksAndBreaksTiesByKey) {
    const struct {
        std::vector<std::tuple<int, int, float, float>> links;  // ids, weight, offset in frames
        float second, third;                                    // where 2 and 3 start, in frames
    } cases[] = {
        // The link (2, 3) re-expressed through 2 beats the weaker direct link (1, 3).
        {{{1, 2, 50, 100}, {2, 3, 30, -20}, {1, 3, 10, 85}}, 100, 80},
        // (1, 3) and (2, 3) weigh the same: (2, 3) merges first, 3 at +30 from 2. Its link (1, 3)
        // becomes (1, 2) with offset 50 - 30 = 20 and weight 40 > 20.
        {{{1, 2, 20, 10}, {1, 3, 40, 50}, {2, 3, 40, 30}}, 20, 50},
        // (1, 2) merges first; 2's link to 3 (weight 30, 3 at 100 + 5) ties with 1's own (3 at 60).
        {{{1, 2, 50, 100}, {1, 3, 30, 60}, {2, 3, 30, 5}}, 100, 60},
        // Three links of one weight that disagree: (2, 3) goes first, and 1's own link to 2 stays.
        {{{1, 2, 40, 10}, {2, 3, 40, 30}, {1, 3, 40, 0}}, 10, 40},
    };
    for (const auto& c : cases) {
        MCFileSet set;
        for (int id : {1, 2, 3}) {
            addRecord(set, id, {});
        }
        Stats stats{};
        for (const auto& [id1, id2, weight, offset] : c.links) {
            stats[{id1, id2}] = link(id1, id2, weight, offset);
        }
        const Built b = build(set, stats);
        ASSERT_EQ(b.result->size(), 1u);
        EXPECT_EQ(b.where.at(1).second, 0.0f);
        EXPECT_EQ(b.where.at(2).second, c.second / 31.25f);
        EXPECT_EQ(b.where.at(3).second, c.third / 31.25f);
        for (const auto& entry : stats) {
            EXPECT_TRUE(entry.second->accepted);
        }
    }
}

TEST(MCClusterBuilder, ChainOfFourIsOneCluster) {
    MCFileSet set;
    for (int id : {1, 2, 3, 4, 5}) {
        addRecord(set, id, {});
    }
    Stats stats{link(1, 2, 10, 31.25f), link(2, 3, 11, 31.25f), link(3, 4, 12, 31.25f),
                link(1, 4, 99, 0, false)};
    const Built b = build(set, stats);
    EXPECT_EQ(b.result->size(), 2u);
    EXPECT_EQ(b.elements, 5u);
    for (int id : {1, 2, 3, 4}) {
        EXPECT_EQ(b.where.at(id).first, 1);
        EXPECT_FLOAT_EQ(b.where.at(id).second, id - 1.0f);
    }
    EXPECT_EQ(b.where.at(5).first, 5);
    EXPECT_FALSE(stats.at({1, 4})->accepted);
}

TEST(FileGroups, JoiningComponents) {
    MCFileSet set;
    for (int id : {4, 1, 2, 3}) {
        addRecord(set, id, {});
    }
    FileGroups groups;
    groups.initFromFiles(&set);
    EXPECT_EQ(groups.components, (std::set<std::set<int>>{{1}, {2}, {3}, {4}}));
    groups.joinComponents(3, 1);
    groups.joinComponents(1, 3);  // already one component: unchanged
    groups.joinComponents(2, 2);
    groups.joinComponents(4, 9);  // 9 is in no component
    EXPECT_EQ(groups.components, (std::set<std::set<int>>{{1, 3}, {2}, {4}}));
    groups.initFromFiles(nullptr);  // nothing at all
    EXPECT_EQ(groups.components.size(), 3u);
}

TEST(ClusterCandidate, MergeAndNormalize) {
    ClusterCandidate c;
    c.initGroups({1, 2, 3});
    c.mergeGroups(1, 2, 100.0f);
    c.mergeGroups(1, 3, -20.0f);
    c.mergeGroups(1, 1, 5.0f);  // nothing
    ASSERT_EQ(c.groups.size(), 1u);
    EXPECT_EQ(c.groups.at(1), (std::map<int, float>{{1, 0.0f}, {2, 100.0f}, {3, -20.0f}}));
    c.normalizeOffsets();
    std::set<std::map<int, float>> out{{{9, 9.0f}}};
    c.getGroups(out);
    EXPECT_EQ(out, (std::set<std::map<int, float>>{{{1, 20.0f}, {2, 120.0f}, {3, 0.0f}}}));
}
