#include "dsp/FftEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

using namespace Trelis;

namespace {

constexpr float kSentinel = 12345.0f;
constexpr unsigned char kWorkSentinel = 0xA5;

// A plan with its work buffer, and a frame buffer of N + 4 floats followed by sentinels.
class Transform {
public:
    explicit Transform(int order, int flag = fftNoDivByAny) : n_(std::size_t{1} << order) {
        EXPECT_EQ(fftInitAlloc(&spec_, order, flag, fftAlgHintFast), fftStsNoErr);
        int bytes = -1;
        EXPECT_EQ(fftGetBufSize(spec_, &bytes), fftStsNoErr);
        EXPECT_GE(bytes, 0);
        work_.assign(static_cast<std::size_t>(bytes) + 64, kWorkSentinel);
        workBytes_ = static_cast<std::size_t>(bytes);
        buffer_.assign(n_ + 4 + 8, kSentinel);
    }
    ~Transform() { EXPECT_EQ(fftFree(spec_), fftStsNoErr); }

    // Transforms x forward (or a packed spectrum backward), checks that nothing beyond the N + 2
    // packed floats and the work buffer was written, and returns them.
    std::vector<float> run(const std::vector<float>& x, bool inverse = false) {
        std::copy(x.begin(), x.end(), buffer_.begin());
        EXPECT_EQ(
            (inverse ? fftInverseInPlace : fftForwardInPlace)(buffer_.data(), spec_, work_.data()),
            fftStsNoErr);
        for (std::size_t i = n_ + 2; i < buffer_.size(); ++i) {
            EXPECT_EQ(buffer_[i], kSentinel) << "overrun at " << i;
        }
        for (std::size_t i = workBytes_; i < work_.size(); ++i) {
            EXPECT_EQ(work_[i], kWorkSentinel) << "work overrun at " << i;
        }
        return std::vector<float>(buffer_.begin(), buffer_.begin() + n_ + 2);
    }

private:
    std::size_t n_;
    FftSpec* spec_ = nullptr;
    std::vector<unsigned char> work_;
    std::size_t workBytes_ = 0;
    std::vector<float> buffer_;
};

// The direct DFT in double precision, bins 0 .. N/2.
std::vector<std::complex<double>> naiveDft(const std::vector<float>& x) {
    const std::size_t n = x.size();
    std::vector<double> cosTable(n), sinTable(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double angle = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n);
        cosTable[i] = std::cos(angle);
        sinTable[i] = std::sin(angle);
    }
    std::vector<std::complex<double>> out(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        double re = 0.0, im = 0.0;
        std::size_t index = 0;  // k * i mod n
        for (std::size_t i = 0; i < n; ++i) {
            re += x[i] * cosTable[index];
            im -= x[i] * sinTable[index];
            index += k;
            if (index >= n) {
                index -= n;
            }
        }
        out[k] = {re, im};
    }
    return out;
}

std::vector<float> randomSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) {
        v = dist(rng);
    }
    return x;
}

}  // namespace

class FftOrder : public ::testing::TestWithParam<int> {};

// The error bound that holds for every order: the largest error of any bin, against the exact
// DFT, stays below 2^-23 x log2(N) x the signal's 2-norm (1.2e-7 x log2 N x ||x||). Measured on
// random input, the worst error reaches 0.6 of that bound (0.45 to 0.7 for orders 3 to 14).
TEST_P(FftOrder, MatchesDirectDftWithinTheStatedBoundAndInverts) {
    const int order = GetParam();
    const std::size_t n = std::size_t{1} << order;
    Transform t(order);
    const auto x = randomSignal(n, 7 + order);
    const auto got = t.run(x);
    const auto want = naiveDft(x);
    double norm = 0.0;
    for (float v : x) {
        norm += static_cast<double>(v) * v;
    }
    norm = std::sqrt(norm);
    double worst = 0.0;
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double re = got[2 * k] - want[k].real();
        const double im = got[2 * k + 1] - want[k].imag();
        worst = std::max(worst, std::sqrt(re * re + im * im));
    }
    const double bound = std::ldexp(1.0, -23) * std::max(order, 1) * norm;
    EXPECT_LE(worst, bound) << "N = " << n;
    EXPECT_EQ(got[1], 0.0f);
    EXPECT_EQ(got[n + 1], 0.0f);

    // Forward then inverse gives N x back.
    const auto back = t.run(got, true);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(back[i], static_cast<double>(n) * x[i], 2.0 * bound * n) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, FftOrder, ::testing::Range(0, 15));

TEST(FftSpec, ScalingFlagsDivideTheirTransform) {
    const auto x = randomSignal(256, 5);
    Transform plain(8, fftNoDivByAny);
    Transform inverseOnly(8, fftDivInvByN);
    Transform byN(8, fftDivFwdByN);
    Transform bySqrtN(8, fftDivBySqrtN);
    const auto ref = plain.run(x);
    plain.run(randomSignal(256, 4));
    EXPECT_EQ(plain.run(x), ref);  // no state kept between calls
    EXPECT_EQ(inverseOnly.run(x), ref);
    const auto a = byN.run(x);
    const auto b = bySqrtN.run(x);
    for (std::size_t i = 0; i < ref.size(); ++i) {
        ASSERT_NEAR(a[i], ref[i] / 256.0f, 1e-6f) << i;
        ASSERT_NEAR(b[i], ref[i] / 16.0f, 1e-5f) << i;
    }
    // The flat spectrum of an impulse at 0: the inverse divided by N is the impulse again.
    std::vector<float> flat(258, 0.0f);
    for (std::size_t k = 0; k <= 128; ++k) {
        flat[2 * k] = 1.0f;
    }
    const auto impulse = inverseOnly.run(flat, true);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_NEAR(impulse[i], i == 0 ? 1.0f : 0.0f, 1e-6f) << i;
    }
}

TEST(FftSpec, StatusCodes) {
    FftSpec* spec = nullptr;
    EXPECT_EQ(fftInitAlloc(nullptr, 9, fftNoDivByAny, fftAlgHintFast), fftStsNullPtrErr);
    EXPECT_EQ(fftInitAlloc(&spec, -1, fftNoDivByAny, fftAlgHintFast), fftStsFftOrderErr);
    EXPECT_EQ(fftInitAlloc(&spec, 30, fftNoDivByAny, fftAlgHintFast), fftStsFftOrderErr);
    for (int flag : {0, 3, 5, 16, -8}) {
        EXPECT_EQ(fftInitAlloc(&spec, 9, flag, fftAlgHintFast), fftStsFftFlagErr) << flag;
    }
    EXPECT_EQ(spec, nullptr);  // failures store nothing

    int size = 0;
    float buffer[16] = {};
    unsigned char work[16] = {};
    EXPECT_EQ(fftGetBufSize(nullptr, &size), fftStsNullPtrErr);
    EXPECT_EQ(fftForwardInPlace(buffer, nullptr, work), fftStsNullPtrErr);
    EXPECT_EQ(fftFree(nullptr), fftStsNullPtrErr);

    // Some other object where a plan belongs.
    alignas(16) unsigned char notAPlan[256] = {};
    auto* fake = reinterpret_cast<FftSpec*>(notAPlan);
    EXPECT_EQ(fftGetBufSize(fake, &size), fftStsContextMatchErr);
    EXPECT_EQ(fftForwardInPlace(buffer, fake, work), fftStsContextMatchErr);
    EXPECT_EQ(fftInverseInPlace(buffer, fake, work), fftStsContextMatchErr);
    EXPECT_EQ(fftFree(fake), fftStsContextMatchErr);

    ASSERT_EQ(fftInitAlloc(&spec, 3, fftNoDivByAny, fftAlgHintFast), fftStsNoErr);
    EXPECT_EQ(fftGetBufSize(spec, nullptr), fftStsNullPtrErr);
    EXPECT_EQ(fftForwardInPlace(nullptr, spec, work), fftStsNullPtrErr);
    EXPECT_EQ(fftInverseInPlace(nullptr, spec, work), fftStsNullPtrErr);
    EXPECT_EQ(fftFree(spec), fftStsNoErr);
}

// The exact bits of forward and inverse transforms of every order up to 2^18, against digests
// recorded from the straightforward kernels: a faster kernel must give the same values, not only
// values as close to the DFT.
TEST(FftSpec, SameBitsAsTheStraightforwardKernels) {
    const std::uint64_t recorded[] = {
        4271401635839986301ull,  6262100426714746925ull,  11614442661481066409ull,
        6138816403576080216ull,  14600089796007209619ull, 1636474757582315395ull,
        10681249012710560591ull, 16026191875058854010ull, 18352856219062429818ull,
        16474473087794907908ull, 9093601863379381843ull,  8449973018253641192ull,
        4360749391049751141ull,  17887392883529404929ull, 5950338503652449168ull,
        10392420221360002301ull, 1191835953186167141ull,  15084845788518632308ull,
        6559011852789279558ull};
    static_assert(sizeof recorded / sizeof recorded[0] == 19, "orders 0 to 18");
    for (int order = 0; order <= 18; ++order) {
        Transform t(order);
        const auto x = randomSignal(std::size_t{1} << order, 100 + order);
        const auto spectrum = t.run(x);
        const auto back = t.run(spectrum, true);
        std::uint64_t digest = 14695981039346656037ull;  // FNV-1a over the bits
        for (const auto* values : {&spectrum, &back}) {
            for (float v : *values) {
                std::uint32_t bits = 0;
                std::memcpy(&bits, &v, sizeof bits);
                digest = (digest ^ bits) * 1099511628211ull;
            }
        }
        EXPECT_EQ(digest, recorded[order]) << "order " << order;
    }
}
