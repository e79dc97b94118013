#include "MCExtractParams.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

using Trelis::MCExtractParams;

// Each setter refuses what is out of range and keeps the value it had; the bounds themselves are
// accepted. The hop is not compared with the FFT size here (the extractor refuses that).
TEST(MCExtractParams, SettersRefuseOutOfRangeValuesAndKeepTheOld) {
    for (const auto& [value, accepted] :
         std::initializer_list<std::pair<unsigned, bool>>{{0u, false},
                                                          {1u, false},
                                                          {2u, false},
                                                          {4u, false},
                                                          {1000u, false},
                                                          {0x80000001u, false},
                                                          {8u, true},
                                                          {1024u, true},
                                                          {0x80000000u, true}}) {
        MCExtractParams p;
        EXPECT_EQ(p.setFftSize(value), accepted) << value;
        EXPECT_EQ(p.getFftSize(), accepted ? value : 512u) << value;
    }
    MCExtractParams p;
    EXPECT_FALSE(p.setSampleRate(3999));
    EXPECT_FALSE(p.setHopSize(0));
    EXPECT_FALSE(p.setMaxPairsPerPeak(0));
    EXPECT_EQ(p.getSampleRate(), 8000u);
    EXPECT_EQ(p.getHopSize(), 256u);
    EXPECT_EQ(p.getMaxPairsPerPeak(), 10u);
    EXPECT_TRUE(p.setSampleRate(4000));
    EXPECT_TRUE(p.setHopSize(1024));
    EXPECT_TRUE(p.setMaxPairsPerPeak(1));
    EXPECT_EQ(p.getSampleRate(), 4000u);
    EXPECT_EQ(p.getHopSize(), 1024u);
    EXPECT_EQ(p.getMaxPairsPerPeak(), 1u);
}
