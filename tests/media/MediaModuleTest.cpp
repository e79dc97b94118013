// The program loads FFmpeg, through the media module, only when a run needs it: a run on WAVE
// files at the extraction rate never maps it, and one that needs it without the module says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/Process.h"

using TrelisTest::contains;
using TrelisTest::Outcome;
using TrelisTest::readFile;
using TrelisTest::run;
using TrelisTest::TempDir;
namespace fs = std::filesystem;

namespace {

class MediaModule : public ::testing::Test {
protected:
    void SetUp() override {
        event = dir.path("demo/event");
        ASSERT_EQ(run(TRELIS_MAKE_DEMO, {event}, dir).status, 0);
    }
    // What the dynamic loader reports loading during a run of the program with `args`.
    std::string loadedBy(const std::vector<std::string>& args, const std::string& name) {
        const std::string log = dir.path(name);
        std::vector<std::string> command = {"LD_DEBUG=libs", "LD_DEBUG_OUTPUT=" + log, TRELIS_APP};
        command.insert(command.end(), args.begin(), args.end());
        const Outcome o = run("env", command, dir);
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        std::string loaded;
        for (const auto& entry : fs::directory_iterator(dir.path(""))) {
            if (entry.path().filename().string().rfind(name + ".", 0) == 0) {
                loaded += readFile(entry.path().string());
            }
        }
        return loaded;
    }
    TempDir dir;
    std::string event;
};

}  // namespace

TEST_F(MediaModule, OnlyRunsThatDecodeLoadFfmpeg) {
    const std::string plain = loadedBy({"-f", event}, "plain");
    ASSERT_TRUE(contains(plain, "Trelis")) << plain;  // the loader did report
    EXPECT_FALSE(contains(plain, "libavformat")) << plain;
    EXPECT_FALSE(contains(plain, "libavcodec")) << plain;
    EXPECT_FALSE(contains(plain, "libtrelis_media")) << plain;

    const std::string all = loadedBy({"-f", event, "-media", "all"}, "all");
    EXPECT_TRUE(contains(all, "libtrelis_media.so")) << all;
    EXPECT_TRUE(contains(all, "libavformat")) << all;
}

TEST_F(MediaModule, WithoutTheModuleAPlainRunWorksAndMediaRunsSayWhy) {
    // The program with its library, away from its module, each where the build puts it
    // relative to the program; a file that is not WAVE beside the recordings.
    const std::string alone = dir.path("alone/bin/Trelis");
    const auto placed = [&](const std::string& built) {
        const fs::path relative =
            fs::path(built).lexically_relative(fs::path(TRELIS_APP).parent_path());
        return (fs::path(alone).parent_path() / relative).lexically_normal().string();
    };
    const std::string library = placed(TRELIS_LIBRARY);
    fs::create_directories(fs::path(alone).parent_path());
    fs::create_directories(fs::path(library).parent_path());
    fs::copy_file(TRELIS_APP, alone);
    fs::copy_file(TRELIS_LIBRARY, library);
    std::ofstream(event + "/notes.txt") << "shot list\n";

    const Outcome expected = run(TRELIS_APP, {"-f", event}, dir);
    ASSERT_EQ(expected.status, 0) << expected.err;
    const Outcome plain = run(alone, {"-f", event}, dir);
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, expected.out);
    EXPECT_EQ(plain.err, expected.err);

    // Where the program looks for its module.
    const std::string module = placed(TRELIS_MEDIA_MODULE_FILE);
    for (const auto& [flag, need] :
         {std::pair<std::vector<std::string>, std::string>{{"-media", "all"},
                                                           "-media all needs the media decoder"},
          {{"-driftcorrect"}, "-driftcorrect needs FFmpeg's resampler"}}) {
        std::vector<std::string> args = {"-f", event};
        args.insert(args.end(), flag.begin(), flag.end());
        const Outcome o = run(alone, args, dir);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err.rfind("[ERROR]: " + need + ": cannot load the media module " + module +
                                  " (" + module + ": cannot open shared object file",
                              0),
                  0u)
            << o.err;
        EXPECT_FALSE(contains(o.out, "STARTING")) << o.out;  // refused before any work
    }

    // Beside the program where the build puts it, the module is found again.
    fs::create_directories(fs::path(module).parent_path());
    fs::copy_file(TRELIS_MEDIA_MODULE_FILE, module);
    const Outcome all = run(alone, {"-f", event, "-media", "all"}, dir);
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, run(TRELIS_APP, {"-f", event, "-media", "all"}, dir).out);
}
