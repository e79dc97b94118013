#include "MCFileSet.h"

#include <gtest/gtest.h>

#include <vector>

#include "Landmark.h"
#include "MCFile.h"

using Trelis::Landmark;
using Trelis::MCFile;
using Trelis::MCFileSet;

// Records iterate in id order; a null record is refused; landmarks go to the record added last.
TEST(MCFileSet, RecordsInIdOrderAndLandmarksToTheCurrentOne) {
    MCFileSet set;
    MCFile* b = set.addFile(new MCFile(2));
    MCFile* a = set.addFile(new MCFile(1));
    EXPECT_EQ(set.currentId, 1);
    EXPECT_EQ(set.addFile(nullptr), nullptr);
    EXPECT_EQ(set.currentId, 1);
    std::vector<int> ids;
    for (const auto& entry : set.getFiles()) {
        ids.push_back(entry.first);
        EXPECT_EQ(entry.second->getId(), entry.first);
    }
    EXPECT_EQ(ids, (std::vector<int>{1, 2}));
    set.addLandmark(new Landmark{4, a, 1u});
    set.addLandmark(nullptr);
    EXPECT_TRUE(b->landmarks.empty());
    ASSERT_EQ(a->landmarks.size(), 1u);
    EXPECT_EQ(a->getFirstFrame(), 4);
}

// The sanitizer build turns a wrong delete here into a failure: a leak of the set's records, a
// double delete, or a use of the caller's record after the set went.
TEST(MCFileSet, DuplicateIdKeepsTheFirstRecordAndLeavesTheSecondToTheCaller) {
    auto* second = new MCFile(2);
    second->addLandmark(new Landmark{9, second, 1u});
    {
        MCFileSet set;
        auto* first = set.addFile(new MCFile(2));
        first->addLandmark(new Landmark{3, first, 1u});
        EXPECT_EQ(set.addFile(second), second);
        EXPECT_EQ(set.getFiles().at(2), first);
        EXPECT_EQ(set.getFiles().size(), 1u);
        EXPECT_EQ(set.currentId, 2);
    }
    EXPECT_EQ(second->getId(), 2);
    EXPECT_EQ(second->getFirstFrame(), 9);
    delete second;
}
