#include "MCFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <sstream>
#include <string>

#include "Landmark.h"
#include "support/Capture.h"

using Trelis::Landmark;
using Trelis::MCFile;

namespace {

Landmark* at(MCFile& file, int frame, unsigned hash = 1) {
    return new Landmark{frame, &file, hash};
}

void fill(MCFile& file, std::initializer_list<int> frames) {
    for (int f : frames) {
        file.addLandmark(at(file, f));
    }
}

}  // namespace

TEST(MCFile, NewRecordIsEmptyAndDirty) {
    MCFile file(4);
    EXPECT_EQ(file.getId(), 4);
    EXPECT_EQ(file.getFirstFrame(), INT_MAX);
    EXPECT_EQ(file.getLastFrame(), INT_MIN);
    EXPECT_EQ(file.countLandmarks(0, 10), -1);
    file.computeCLF();
    EXPECT_TRUE(file.clf.empty());
    EXPECT_EQ(file.countLandmarks(0, 10), 0);
    EXPECT_EQ(file.countLandmarks(INT_MIN, INT_MAX), 0);
}

TEST(MCFile, ClfIsDenseOverTheFramesOfTheLandmarks) {
    MCFile file(1);
    fill(file, {8, 5, 5});
    file.addLandmark(nullptr);
    EXPECT_EQ(file.getFirstFrame(), 5);
    EXPECT_EQ(file.getLastFrame(), 8);
    file.computeCLF();
    EXPECT_EQ(file.clf, (std::map<int, int>{{5, 2}, {6, 2}, {7, 2}, {8, 3}}));
    // Looking up the empty frames left empty entries in the landmark map.
    EXPECT_EQ(file.landmarks.size(), 4u);
    EXPECT_TRUE(file.landmarks.at(6).empty());
}

// Counts over inclusive ranges, empty and reversed ones too, up to the edges of int.
TEST(MCFile, CountsLandmarksInAnInclusiveRange) {
    MCFile file(1);
    fill(file, {5, 5, 8});
    file.computeCLF();
    const int cases[][3] = {{5, 8, 3},
                            {6, 7, 0},
                            {0, 5, 2},
                            {8, 100, 1},
                            {9, 100, 0},
                            {7, 6, 0},
                            {0, 4, 0},
                            {-100, 100, 3},
                            {6, 8, 1},
                            {INT_MIN, INT_MAX, 0},
                            {INT_MIN + 1, INT_MAX, 3}};
    for (const auto& [from, to, expected] : cases) {
        EXPECT_EQ(file.countLandmarks(from, to), expected) << from << ".." << to;
    }
    MCFile edge(2);
    fill(edge, {INT_MAX, INT_MAX - 1});
    edge.computeCLF();
    EXPECT_EQ(edge.countLandmarks(INT_MAX, INT_MAX), 1);
    EXPECT_EQ(edge.countLandmarks(0, INT_MAX), 2);
}

TEST(MCFile, AddingAfterTheClfMakesItStaleUntilRecomputed) {
    MCFile file(1);
    fill(file, {5, 5, 8});
    file.computeCLF();
    file.addLandmark(at(file, 3));
    EXPECT_EQ(file.countLandmarks(3, 8), -1);
    file.computeCLF();
    EXPECT_EQ(file.countLandmarks(3, 8), 4);
    EXPECT_EQ(file.clf, (std::map<int, int>{{3, 1}, {4, 1}, {5, 3}, {6, 3}, {7, 3}, {8, 4}}));
    file.computeCLF();  // current: nothing changes
    EXPECT_EQ(file.countLandmarks(4, 5), 2);
}

TEST(MCFile, PrintListsAtMostTenFramesAndALandmarkItsHashAndTime) {
    std::string tenFrames = "Time Frame:0 Number of Landmarks:2\n";
    for (int f = 2; f <= 18; f += 2) {
        tenFrames += "Time Frame:" + std::to_string(f) + " Number of Landmarks:1\n";
    }
    for (int entries : {10, 11}) {
        MCFile file(1);
        for (int f = 0; f < entries; ++f) {
            file.addLandmark(at(file, f * 2));
        }
        file.addLandmark(at(file, 0));
        testing::internal::CaptureStdout();
        file.print();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  tenFrames + (entries == 11 ? "STOPPING PRINT: more than 10 entries\n" : ""));
    }
    const Landmark landmark{-3, nullptr, 3183668u};
    EXPECT_EQ(TrelisTest::stdoutOf([&] { landmark.print(); }), "HASH: 3183668 OFFSET TIME:-3\n");
}
