#include "MCClusterSyncParams.h"

#include <gtest/gtest.h>

#include <cmath>

#include "MCExtractParams.h"

using Trelis::MCClusterSyncParams;
using Trelis::MCExtractParams;

// The frame rate is taken from the extraction settings when made, divided in single precision;
// later changes to them do not reach it.
TEST(MCClusterSyncParams, FramesPerSecondIsFixedWhenMade) {
    MCExtractParams extract;
    extract.setSampleRate(44100);
    extract.setHopSize(384);
    const MCClusterSyncParams p(extract);
    extract.setHopSize(128);
    extract.setSampleRate(16000);
    EXPECT_EQ(p.getFramesPerSecond(), 44100.0f / 384.0f);
    EXPECT_EQ(p.getHopSize(), 384u);

    // Rebased on the final extraction settings, every threshold stays.
    MCClusterSyncParams tuned(p);
    tuned.setMinPercentMatch(0.5f);
    tuned.setMinOverlapLength(7.0f);
    tuned.setMinTemplateLength(2.0f);
    tuned.setMaxLandmarks(99);
    tuned.setAcceptThreshold(12);
    const MCClusterSyncParams rebased = tuned.withExtraction(extract);
    EXPECT_EQ(rebased.getFramesPerSecond(), 16000.0f / 128.0f);
    EXPECT_EQ(rebased.getHopSize(), 128u);
    EXPECT_EQ(rebased.getMinPercentMatch(), 0.5f);
    EXPECT_EQ(rebased.getMinOverlapLength(), 7.0f);
    EXPECT_EQ(rebased.getMinTemplateLength(), 2.0f);
    EXPECT_EQ(rebased.getMaxLandmarks(), 99u);
    EXPECT_EQ(rebased.getAcceptThreshold(), 12u);
}

// Each setter refuses what is out of range and keeps the value it had; the bounds themselves are
// accepted, and NaN passes the ordered comparisons.
TEST(MCClusterSyncParams, SettersRefuseOutOfRangeValuesAndKeepTheOld) {
    MCClusterSyncParams p{MCExtractParams()};
    EXPECT_FALSE(p.setMinPercentMatch(1.5f));
    EXPECT_FALSE(p.setMinPercentMatch(-0.1f));
    EXPECT_FALSE(p.setMinOverlapLength(-1.0f));
    EXPECT_FALSE(p.setMinTemplateLength(-0.001f));
    EXPECT_FALSE(p.setMaxLandmarks(0));
    EXPECT_EQ(p.getMinPercentMatch(), 0.0025f);
    EXPECT_EQ(p.getMinOverlapLength(), 3.0f);
    EXPECT_EQ(p.getMinTemplateLength(), 3.0f);
    EXPECT_EQ(p.getMaxLandmarks(), 250u);

    EXPECT_TRUE(p.setMinPercentMatch(1.0f));
    EXPECT_EQ(p.getMinPercentMatch(), 1.0f);
    EXPECT_TRUE(p.setMinPercentMatch(0.0f));
    EXPECT_EQ(p.getMinPercentMatch(), 0.0f);
    EXPECT_TRUE(p.setMinOverlapLength(0.0f));
    EXPECT_TRUE(p.setMinTemplateLength(0.0f));
    EXPECT_EQ(p.getMinTemplateLength(), 0.0f);
    EXPECT_TRUE(p.setMaxLandmarks(1));
    EXPECT_EQ(p.getMaxLandmarks(), 1u);
    EXPECT_TRUE(p.setAcceptThreshold(0));
    EXPECT_EQ(p.getAcceptThreshold(), 0u);
    EXPECT_TRUE(p.setMinPercentMatch(NAN));
    EXPECT_TRUE(std::isnan(p.getMinPercentMatch()));
    EXPECT_TRUE(p.setMinOverlapLength(NAN));
    EXPECT_TRUE(std::isnan(p.getMinOverlapLength()));
}
