// DriftResampler: interleaved float audio moved from a recorder's clock onto a reference clock, at
// the same nominal rate and channel count, by libswresample's soxr engine.
//
// A recorder whose clock runs `ppm` parts per million faster than the reference records
// (1 + ppm 1e-6) R of its samples per reference second at its nominal rate R; the output holds R:
// output frame k is input frame k (1 + ppm 1e-6), from frame 0 on (the resampler's delay is taken
// out), and N frames in give N / (1 + ppm 1e-6) out, to within a frame. libswresample takes the
// ratio as two integer rates: here 10^9 + 1000 ppm rounded, and 10^9, so that it is off by at
// most 0.0005 ppm. Channels are resampled each on its own. Memory does not grow with the length.
#pragma once

#include <cstddef>
#include <vector>

struct SwrContext;

namespace Trelis {

class DriftResampler {
public:
    // Throws std::invalid_argument for no channel, or a drift that is not finite or lies beyond
    // +-100000 ppm (a wrong rate, not a clock's drift); std::runtime_error when FFmpeg fails.
    DriftResampler(int channels, double ppm);
    ~DriftResampler();
    DriftResampler(const DriftResampler&) = delete;
    DriftResampler& operator=(const DriftResampler&) = delete;

    // Takes `count` frames of `in` (count x channels floats, a block: below 2^31) and leaves in
    // `out` the frames that are ready, which may be fewer or more; returns how many. `out` keeps
    // its capacity from call to call.
    std::size_t push(const float* in, std::size_t count, std::vector<float>& out);
    // After the last push: the frames the resampler still holds, into `out`; returns how many.
    std::size_t finish(std::vector<float>& out);

private:
    // Converts into `out` from frame `at` on, keeping the frames before it.
    std::size_t convert(const float* in, std::size_t count, std::vector<float>& out,
                        std::size_t at);

    int channels_;
    SwrContext* swr_ = nullptr;
};

}  // namespace Trelis
