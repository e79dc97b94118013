#include "evaluation/Evaluation.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Capture.h"
#include "support/WavImage.h"

using Trelis::Evaluation;
using Trelis::FoundFile;
using Trelis::TruthFile;

// An imperfect run: one pair right (its offset off by 32 ms at the frame, 0.3 ms refined on a
// clock 100 ppm fast), one wrong pair, three missed, a file the truth does not name and one the
// run did not cluster.
TEST(Evaluation, ScoresAnImperfectClustering) {
    const std::vector<TruthFile> truth = {{"a.wav", 0, 0.0, 1e-4}, {"b.wav", 0, 2.0, 0.0},
                                          {"c.wav", 0, 5.0, 0.0},  {"d.wav", 1, 0.0, 0.0},
                                          {"e.wav", 1, 1.0, 0.0},  {"f.wav", 2, 0.0, 0.0}};
    const std::vector<FoundFile> found = {
        {"a.wav", 0, 0.0, 0.0, "a.wav"}, {"b.wav", 0, 2.032, 2.0005, "a.wav"},
        {"c.wav", 1, 0.0, 0.0, "c.wav"}, {"d.wav", 1, 1.0, 1.0, "c.wav"},
        {"e.wav", 2, 0.0, 0.0, "e.wav"}, {"x.wav", 3, 0.0, 0.0, "x.wav"}};
    const Evaluation e = Trelis::evaluate(truth, found);
    EXPECT_EQ(e.scored, 5u);
    EXPECT_EQ(e.inTruth, 6u);
    EXPECT_EQ(e.clustered, 6u);
    EXPECT_EQ(e.trueClusters, 2u);
    EXPECT_EQ(e.foundClusters, 3u);
    EXPECT_EQ(e.together, 1u);
    EXPECT_EQ(e.onlyInResult, 1u);
    EXPECT_EQ(e.onlyInTruth, 3u);
    EXPECT_DOUBLE_EQ(e.precision, 0.5);
    EXPECT_DOUBLE_EQ(e.recall, 0.25);
    EXPECT_NEAR(e.f1, 1.0 / 3.0, 1e-12);
    EXPECT_EQ(e.frameAccurate.pairs, 1u);
    EXPECT_NEAR(e.frameAccurate.median, 32.0, 1e-9);
    EXPECT_NEAR(e.refined.max, 0.3, 1e-9);
    EXPECT_EQ(e.notInTruth, std::vector<std::string>{"x.wav"});
    EXPECT_EQ(e.notClustered, std::vector<std::string>{"f.wav"});

    // Nothing placed together: precision has nothing to judge, no offset is measured.
    const Evaluation alone =
        Trelis::evaluate(truth, {{"a.wav", 0, 0.0, 0.0, "a.wav"}, {"b.wav", 1, 0.0, 0.0, "b.wav"}});
    EXPECT_DOUBLE_EQ(alone.precision, 1.0);
    EXPECT_DOUBLE_EQ(alone.recall, 0.0);
    EXPECT_DOUBLE_EQ(alone.f1, 0.0);
    EXPECT_EQ(alone.refined.pairs, 0u);
}

// A truth file's clusters, offsets and drifts (ppm as a fraction); what is wrong in one is named
// with its line.
TEST(Evaluation, ReadsTruthFilesAndNamesWhatIsWrong) {
    TrelisTest::TempDir dir;
    const std::string path = dir.path("truth.xml");
    std::ofstream(path) << "<truth>\n<cluster><file name=\"a.wav\" offset=\"1.5\" drift=\"-20\"/>"
                           "<file name=\"b.wav\"/></cluster>\n<cluster><file name=\"c.wav\" "
                           "offset=\"0\"/></cluster></truth>";
    const std::vector<TruthFile> files = Trelis::readTruth(path);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "a.wav");
    EXPECT_EQ(files[0].cluster, 0);
    EXPECT_EQ(files[0].offset, 1.5);
    EXPECT_DOUBLE_EQ(files[0].drift, -20e-6);
    EXPECT_FALSE(files[1].offset.has_value());
    EXPECT_EQ(files[2].cluster, 1);

    const std::pair<const char*, const char*> bad[] = {
        {"<truth><cluster><file offset=\"1\"/></cluster></truth>",
         ": line 1: a <file> without a name"},
        {"<truth><cluster>\n<file name=\"a.wav\" drift=\"fast\"/></cluster></truth>",
         ": line 2: the drift of a.wav is not a number of ppm"},
        {"<truth><cluster><file name=\"a.wav\" offset=\"x\"/></cluster></truth>",
         ": line 1: the offset of a.wav is not a number of seconds"},
        {"<truth><cluster><file name=\"a\"/><file name=\"a\"/></cluster></truth>",
         ": line 1: a is listed twice"},
        {"<truth><file name=\"a\"/></truth>", ": line 1: <file> where a <cluster> belongs"},
        {"<clusters/>", ": the root element must be <truth>"},
    };
    for (const auto& [text, message] : bad) {
        std::ofstream(path) << text;
        EXPECT_EQ(TrelisTest::errorOf([&] { Trelis::readTruth(path); }), path + message);
    }
    std::ofstream(path) << "<truth><cluster>";
    EXPECT_THROW(Trelis::readTruth(path), std::runtime_error);
}

// The block the run prints, and the files left out named on standard error.
TEST(Evaluation, PrintsTheBlockAndNamesTheFilesLeftOut) {
    Evaluation e;
    e.scored = 1;
    e.inTruth = 2;
    e.clustered = 2;
    e.notInTruth = {"x.wav"};
    e.notClustered = {"ghost.wav"};
    e.refined = {3, 0.25, 1.5, 2.0};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Trelis::printEvaluation(e, "t.xml");
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err,
              "[WARNING]: x.wav is not in t.xml; it is left out of the evaluation\n"
              "[WARNING]: t.xml names ghost.wav, which is not among the recordings clustered; it "
              "is left out of the evaluation\n");
    EXPECT_EQ(out,
              "EVALUATION\nfiles scored: 1 (in the truth: 2, clustered: 2)\nclusters: true 0, "
              "found 0\npairwise precision: 1.000 recall: 1.000 F1: 1.000 (together in both: 0, "
              "only in the result: 0, only in the truth: 0)\noffset error (ms), frame-accurate: no "
              "pair to measure\noffset error (ms), refined: median 0.250 p95 1.500 max 2.000 (3 "
              "pairs)\n");
}
