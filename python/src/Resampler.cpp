#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace TrelisPython {

namespace {

// The zeroth-order modified Bessel function of the first kind, by its power series (the terms
// fall below 1e-17 of the sum well before 60 for the arguments a Kaiser window of beta 8 needs).
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    const double quarter = x * x / 4.0;
    for (int k = 1; k < 60 && term > sum * 1e-17; ++k) {
        term *= quarter / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

constexpr double kPi = 3.14159265358979323846;

}  // namespace

Resampler::Resampler(unsigned int inRate, unsigned int outRate, bool allowTable) {
    if (inRate == 0 || outRate == 0) {
        throw std::invalid_argument("Resampler: a sample rate of 0");
    }
    const std::uint64_t common = std::gcd<std::uint64_t, std::uint64_t>(inRate, outRate);
    up_ = outRate / common;
    down_ = inRate / common;
    // In input samples: the slower rate's sample period, and the sinc's cutoff below its Nyquist.
    const double slowPeriod = inRate > outRate ? static_cast<double>(inRate) / outRate : 1.0;
    cutoff_ = kCutoff * 0.5 / slowPeriod;
    halfWidth_ = kHalfZeros * slowPeriod;
    taps_ = 2 * static_cast<int>(std::ceil(halfWidth_));
    if (allowTable && up_ * static_cast<std::uint64_t>(taps_) <= kMaxTableFloats) {
        table_.resize(up_ * static_cast<std::size_t>(taps_));
        for (std::uint64_t phase = 0; phase < up_; ++phase) {
            for (int tap = 0; tap < taps_; ++tap) {
                table_[phase * taps_ + tap] = static_cast<float>(weight(phase, tap));
            }
        }
    }
}

// The weight of input sample base - taps/2 + 1 + tap for an output at input time base + phase/up:
// that sample lies `distance` input samples before the output.
double Resampler::weight(std::uint64_t phase, int tap) const {
    const double distance =
        static_cast<double>(phase) / static_cast<double>(up_) + (taps_ / 2 - 1 - tap);
    const double ratio = distance / halfWidth_;
    if (ratio <= -1.0 || ratio >= 1.0) {
        return 0.0;
    }
    const double x = 2.0 * cutoff_ * distance;
    const double sinc = x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
    const double window = besselI0(kBeta * std::sqrt(1.0 - ratio * ratio)) / besselI0(kBeta);
    return 2.0 * cutoff_ * sinc * window;
}

std::uint64_t Resampler::outputCount(std::uint64_t count) const {
    return (count * up_ + down_ - 1) / down_;
}

std::pair<std::uint64_t, std::uint64_t> Resampler::inputSpan(std::uint64_t from, std::uint64_t to,
                                                             std::uint64_t count) const {
    if (to <= from) {
        return {0, 0};
    }
    const auto first = static_cast<std::int64_t>(from * down_ / up_) - (taps_ / 2 - 1);
    const auto last = static_cast<std::int64_t>((to - 1) * down_ / up_) - (taps_ / 2 - 1) + taps_;
    const auto total = static_cast<std::int64_t>(count);
    return {static_cast<std::uint64_t>(std::clamp<std::int64_t>(first, 0, total)),
            static_cast<std::uint64_t>(std::clamp<std::int64_t>(last, 0, total))};
}

void Resampler::process(const float* window, std::uint64_t windowStart, std::uint64_t count,
                        std::uint64_t from, std::uint64_t to, float* out) const {
    const std::int64_t first = -(taps_ / 2 - 1);  // of the taps, relative to the base sample
    std::vector<float> weights(table_.empty() ? static_cast<std::size_t>(taps_) : 0);
    for (std::uint64_t n = from; n < to; ++n) {
        const std::uint64_t position = n * down_;
        const std::uint64_t phase = position % up_;
        const auto base = static_cast<std::int64_t>(position / up_);
        const float* w = nullptr;
        if (table_.empty()) {
            for (int tap = 0; tap < taps_; ++tap) {
                weights[tap] = static_cast<float>(weight(phase, tap));
            }
            w = weights.data();
        } else {
            w = table_.data() + phase * taps_;
        }
        // The taps that fall inside the input; the rest weigh silence.
        const std::int64_t low = std::max<std::int64_t>(0, base + first);
        const std::int64_t high =
            std::min<std::int64_t>(static_cast<std::int64_t>(count), base + first + taps_);
        const float* x = window + (low - static_cast<std::int64_t>(windowStart));
        const float* v = w + (low - (base + first));
        const std::int64_t length = high - low;
        // Eight running sums, added up in a fixed order: the same bits on every machine, and a
        // loop the compiler vectorizes without reassociating anything.
        float lanes[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        std::int64_t j = 0;
        for (; j + 8 <= length; j += 8) {
            for (int l = 0; l < 8; ++l) {
                lanes[l] += x[j + l] * v[j + l];
            }
        }
        for (int l = 0; j < length; ++j, ++l) {
            lanes[l] += x[j] * v[j];
        }
        out[n - from] = ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) +
                        ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
    }
}

}  // namespace TrelisPython
