#include "MCExtractParams.h"

#include <gtest/gtest.h>

using Trelis::MCExtractParams;

class FftSizeSetter : public ::testing::TestWithParam<std::pair<unsigned, bool>> {};

TEST_P(FftSizeSetter, StoresOnlyPowersOfTwoAboveFour) {
    MCExtractParams p;
    const auto [value, accepted] = GetParam();
    EXPECT_EQ(p.setFftSize(value), accepted);
    EXPECT_EQ(p.getFftSize(), accepted ? value : 512u);
}

INSTANTIATE_TEST_SUITE_P(Values, FftSizeSetter,
                         ::testing::Values(std::make_pair(0u, false), std::make_pair(1u, false),
                                           std::make_pair(2u, false), std::make_pair(4u, false),
                                           std::make_pair(1000u, false),
                                           std::make_pair(0x80000001u, false),
                                           std::make_pair(8u, true), std::make_pair(1024u, true),
                                           std::make_pair(0x80000000u, true)));

TEST(MCExtractParams, SampleRateBoundaryIsFourThousand) {
    MCExtractParams p;
    EXPECT_FALSE(p.setSampleRate(3999));
    EXPECT_EQ(p.getSampleRate(), 8000u);
    EXPECT_TRUE(p.setSampleRate(4000));
    EXPECT_EQ(p.getSampleRate(), 4000u);
}

TEST(MCExtractParams, ZeroHopAndZeroPairsAreRefusedAndLaterValuesStillStored) {
    MCExtractParams p;
    EXPECT_FALSE(p.setHopSize(0));
    EXPECT_FALSE(p.setMaxPairsPerPeak(0));
    EXPECT_EQ(p.getHopSize(), 256u);
    EXPECT_EQ(p.getMaxPairsPerPeak(), 10u);
    EXPECT_TRUE(p.setHopSize(1024));  // not compared with the FFT size
    EXPECT_TRUE(p.setMaxPairsPerPeak(1));
    EXPECT_EQ(p.getHopSize(), 1024u);
    EXPECT_EQ(p.getMaxPairsPerPeak(), 1u);
}

TEST(MCExtractParams, CopyIsIndependentOfTheOriginal) {
    MCExtractParams original;
    original.freqRange = 30;
    original.setFftSize(1024);
    const MCExtractParams copy = original;
    original.freqRange = 99;
    original.setFftSize(2048);
    original.setSampleRate(16000);
    EXPECT_EQ(copy.freqRange, 30u);
    EXPECT_EQ(copy.getFftSize(), 1024u);
    EXPECT_EQ(copy.getSampleRate(), 8000u);
}
