#include "align/PhaseCorrelator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

using namespace Trelis;

// A stretch found inside a longer noisy copy, for windows of 1,000 to 16,000 samples (transforms
// of 2^11 to 2^15): the peak stands at the true lag, far above the noise, and the correlations
// have the exact bits recorded from the straightforward scalar loops, whatever the instruction set
// the kernels run on.
TEST(PhaseCorrelator, FindsTheLagWithTheSameBitsAsTheScalarLoops) {
    std::uint64_t digest = 14695981039346656037ull;  // FNV-1a over the bits
    PhaseCorrelator correlator;
    for (int t = 0; t < 6; ++t) {
        std::mt19937 rng(static_cast<unsigned>(t));
        std::normal_distribution<float> noise(0.0f, 1.0f);
        const long long n = 1000 + 3000 * t, m = 50 + 97 * t;
        std::vector<float> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n + 2 * m));
        for (float& v : b) {
            v = noise(rng);
        }
        for (long long i = 0; i < n; ++i) {
            a[static_cast<std::size_t>(i)] =
                b[static_cast<std::size_t>(i + m / 3)] + 0.3f * noise(rng);
        }
        std::vector<float> z;
        ASSERT_TRUE(correlator.correlate(a.data(), n, b.data(), m, z));
        ASSERT_EQ(z.size(), static_cast<std::size_t>(2 * m + 1));
        const auto peak = std::max_element(z.begin(), z.end());
        EXPECT_EQ(peak - z.begin(), m / 3) << "window " << n;
        EXPECT_GT(*peak, 50.0f) << "window " << n;  // in noise deviations
        for (float v : z) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            digest = (digest ^ bits) * 1099511628211ull;
        }
    }
    EXPECT_EQ(digest, 1050461572228469177ull);
}
