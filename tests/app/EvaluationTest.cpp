#include "evaluation/Evaluation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
