#include "MCClusterSync.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "sync/SyncTestSupport.h"

using namespace Trelis;
using TrelisTest::addRecord;
using TrelisTest::RecordingProgress;

namespace {

using Result = std::unique_ptr<ClusterResult, void (*)(ClusterResult*)>;

Result cluster(MCFileSet* set, MCProgress* progress = nullptr) {
    MCClusterSync sync{MCClusterSyncParams(MCExtractParams())};
    return Result(sync.run(set, progress), deleteClusterResult);
}

// name -> offset, and the number of clusters.
std::pair<std::map<std::string, float>, std::size_t> flatten(const ClusterResult& result) {
    std::map<std::string, float> members;
    for (const ClusterSet* c : result) {
        for (const MCClusterElem* e : *c) {
            members[e->name] = e->offset;
        }
    }
    return {members, result.size()};
}

// Two records of one event, the second starting `shift` frames later, and one unrelated record.
void eventOfTwo(MCFileSet& set, int shift) {
    MCFile* a = addRecord(set, 1, {});
    MCFile* b = addRecord(set, 2, {});
    addRecord(set, 3, {{0, 999999u}, {500, 999998u}});
    for (int f = 0; f < 600; ++f) {
        const auto hash = static_cast<std::uint32_t>((f * 2654435761u) >> 12);
        a->addLandmark(new Landmark{f, a, hash});
        if (f >= shift) {
            b->addLandmark(new Landmark{f - shift, b, hash});
        }
    }
}

}  // namespace

TEST(MCClusterSync, StagesArriveInOrderWithProgressInsideStageOne) {
    MCFileSet set;
    eventOfTwo(set, 100);
    RecordingProgress progress;
    const Result withObserver = cluster(&set, &progress);
    std::size_t firstProgress = 0, lastProgress = 0;
    for (std::size_t i = 0; i < progress.calls.size(); ++i) {
        if (progress.calls[i][0] == 'P') {
            firstProgress = firstProgress ? firstProgress : i;
            lastProgress = i;
        }
    }
    EXPECT_EQ(progress.stages, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(progress.calls[firstProgress - 1], "S1");
    EXPECT_EQ(progress.calls[lastProgress + 1], "S2");

    const Result without = cluster(&set);
    EXPECT_EQ(flatten(*withObserver), flatten(*without));
}

TEST(MCClusterSync, EmptyAndSingleFileSets) {
    MCFileSet empty;
    RecordingProgress progress;
    const Result none = cluster(&empty, &progress);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(progress.calls.back(), "S5");

    MCFileSet one;
    addRecord(one, 4, {{3, 1}});
    one.idToName[4] = "take";
    const Result single = cluster(&one);
    ASSERT_EQ(single->size(), 1u);
    ASSERT_EQ((*single->begin())->size(), 1u);
    const MCClusterElem* e = *(*single->begin())->begin();
    EXPECT_EQ(e->name, "take");
    EXPECT_EQ(e->fileId, 4);
    EXPECT_EQ(e->offset, 0.0f);

    EXPECT_TRUE(cluster(nullptr)->empty());

    // An id without a name gets an empty one.
    MCFileSet unnamed;
    unnamed.addFile(new MCFile(6));
    EXPECT_EQ((*(*cluster(&unnamed)->begin())->begin())->name, "");
    EXPECT_EQ(unnamed.idToName.count(6), 1u);
}

// The event is grouped at its offset and the unrelated record left alone; runs are independent
// and their results outlive the file set.
TEST(MCClusterSync, GroupsTheEventInRunsThatOutliveTheFileSet) {
    auto* set = new MCFileSet();
    eventOfTwo(*set, 37);
    const Result first = cluster(set);
    const Result second = cluster(set);
    EXPECT_EQ(flatten(*first), flatten(*second));
    delete set;
    const auto [members, clusters] = flatten(*first);
    EXPECT_EQ(clusters, 2u);
    EXPECT_EQ(members.at("f1"), 0.0f);
    EXPECT_FLOAT_EQ(members.at("f2"), 37.0f / 31.25f);
    EXPECT_EQ(members.at("f3"), 0.0f);
}
