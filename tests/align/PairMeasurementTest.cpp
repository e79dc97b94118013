// The windows of a short overlap added up: a line of lag that no window holds alone.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "MCAlignParams.h"
#include "align/PairMeasurement.h"

using namespace Trelis;

// Fifteen seconds of overlap make four windows; each holds a peak of 4 noise spreads at the
// same lag, 37 samples, too low for any of them to agree on its own.
TEST(PairMeasurement, StackingFindsALineNoWindowHoldsAlone) {
    const PairMeasurement m(MCAlignParams(), 120000, 120000, 0, 0);
    ASSERT_EQ(m.windowCount(), 4u);
    // +-100 ms and 200 ppm of 15 s: a margin of 1024 lags.
    const long long margin = 1024;
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<std::vector<float>> z(4, std::vector<float>(2 * margin + 1));
    for (auto& window : z) {
        for (float& v : window) {
            v = 0.8f * noise(rng);
        }
    }
    const std::vector<std::vector<float>> pure = z;
    for (auto& window : z) {
        window[margin + 37] = 4.0f;
    }
    EXPECT_FALSE(m.fit(z).alignment.measured);
    const PairAlignment stacked = m.stack(z);
    ASSERT_TRUE(stacked.measured);
    EXPECT_EQ(stacked.windows, 4);
    EXPECT_GT(stacked.strength, 7.0);
    EXPECT_NEAR(stacked.offset * 8000.0, -37.0, 0.5);
    EXPECT_TRUE(std::isinf(stacked.driftError));
    // Noise alone adds up to far less, and one window is not a stack.
    EXPECT_LT(m.stack(pure).strength, 5.0);
    EXPECT_FALSE(m.stack({z[0], {}, {}, {}}).measured);
}
