#include "run/RecordingNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MCFileSet.h"

// Each rule only where the one before gives a name twice: base name, file name, path within.
TEST(RecordingNames, OnlyCollidingNamesGrow) {
    const std::vector<std::string> paths = {"/cards/a/DCIM/GX010001.MP4",
                                            "/cards/b/DCIM/GX010001.MP4",
                                            "/cards/b/GX010001.LRV.wav",
                                            "/cards/clip.mp4",
                                            "/cards/clip.mkv",
                                            "/cards/zoom.wav",
                                            "/cards/README",
                                            "/cards/LICENSE"};
    EXPECT_EQ(
        Trelis::recordingNames(paths, "/cards"),
        (std::vector<std::string>{"a/DCIM/GX010001.MP4", "b/DCIM/GX010001.MP4", "GX010001.LRV",
                                  "clip.mp4", "clip.mkv", "zoom", "README", "LICENSE"}));

    Trelis::MCFileSet set;
    set.idToName = {{1, "clip"}, {2, "clip"}};
    set.nameToId = {{"clip", 2}};
    Trelis::nameRecordings(set, {"clip.mp4", "clip.mkv"});
    EXPECT_EQ(set.idToName.at(1), "clip.mp4");
    EXPECT_EQ(set.nameToId, (std::map<std::string, int>{{"clip.mkv", 2}, {"clip.mp4", 1}}));
}
