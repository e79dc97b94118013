// Resampler: mono float audio from one sample rate to another, for arrays given to the module at
// a rate other than the extraction or correlation rate (the program has FFmpeg do this for media
// files; the library itself has no resampler and takes no dependency for one).
//
// A windowed-sinc interpolator at the exact rational ratio out/in = up/down (reduced by their
// greatest common divisor): output sample n lies at input time n * down / up, and is the sum of
// the input samples within kHalfZeros zero crossings of the slower rate either side of it, each
// weighted by a sinc whose cutoff is kCutoff of the slower rate's Nyquist frequency, shaped by a
// Kaiser window (kBeta, about 80 dB of stopband). Samples before the first and after the last
// count as silence. No delay: output sample 0 is input sample 0, as a recording's start is
// kept. `in` samples give ceil(in * up / down) out, the last output lying before the input's end.
//
// The weights of each of the `up` phases are tabled at construction when the table stays below
// kMaxTableFloats; otherwise (rare ratios of two large coprime rates) each weight is computed
// when needed, the same way, so both give the same bits. process() is const and allocates
// nothing when tabled; a long input is resampled span by span, so that only a span of it need be
// held at a time. Throws std::invalid_argument for a rate of 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace TrelisPython {

class Resampler {
public:
    static constexpr int kHalfZeros = 24;
    static constexpr double kCutoff = 0.95;
    static constexpr double kBeta = 7.857;
    static constexpr std::size_t kMaxTableFloats = std::size_t{1} << 24;  // 64 MiB

    Resampler(unsigned int inRate, unsigned int outRate, bool allowTable = true);

    // How many samples `count` input samples give.
    std::uint64_t outputCount(std::uint64_t count) const;

    // The input samples [first, second) that outputs [from, to) of a `count`-sample input
    // weigh, within the input.
    std::pair<std::uint64_t, std::uint64_t> inputSpan(std::uint64_t from, std::uint64_t to,
                                                      std::uint64_t count) const;

    // Outputs [from, to) of the resampling of a `count`-sample input into `out`; `window` holds
    // the input samples from `windowStart` on, covering inputSpan(from, to, count). Resampling in
    // consecutive spans gives the same bits as in one.
    void process(const float* window, std::uint64_t windowStart, std::uint64_t count,
                 std::uint64_t from, std::uint64_t to, float* out) const;

    bool tabled() const { return !table_.empty(); }

private:
    double weight(std::uint64_t phase, int tap) const;

    std::uint64_t up_;
    std::uint64_t down_;
    int taps_;                  // weights per output sample, 2 * half-width in input samples
    double cutoff_;             // cycles per input sample
    double halfWidth_;          // input samples: where the window reaches zero
    std::vector<float> table_;  // up_ phases of taps_ weights, when tabled
};

}  // namespace TrelisPython
