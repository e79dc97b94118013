#include "DriftResampler.h"

#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace Trelis {

namespace {

// The reference clock's rate as libswresample sees it: only the ratio of the two rates matters
// to the soxr engine, and this one leaves a rounding of half a part in 10^9. The engine offers no
// fractional ratio, and its rate compensation is the other engine's alone.
constexpr double kScale = 1e9;
constexpr double kMaxPpm = 1e5;

std::runtime_error failure(const std::string& what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return std::runtime_error(what + ": " + text);
}

}  // namespace

DriftResampler::DriftResampler(int channels, double ppm) : channels_(channels) {
    if (channels <= 0) {
        throw std::invalid_argument("no channel to resample");
    }
    if (!std::isfinite(ppm) || std::fabs(ppm) > kMaxPpm) {
        std::ostringstream text;
        text << "a drift of " << ppm << " ppm is not a clock's (at most 100000 ppm either way)";
        throw std::invalid_argument(text.str());
    }
    const auto out = static_cast<int>(kScale);
    const auto in = static_cast<int>(std::llround(kScale + ppm * (kScale / 1e6)));
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    int code = swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_FLT, out, &layout,
                                   AV_SAMPLE_FMT_FLT, in, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (code >= 0) {
        code = av_opt_set_int(swr_, "resampler", SWR_ENGINE_SOXR, 0);
    }
    if (code >= 0) {
        code = swr_init(swr_);
    }
    if (code < 0) {
        swr_free(&swr_);
        throw failure("cannot set up the drift resampler", code);
    }
}

DriftResampler::~DriftResampler() {
    swr_free(&swr_);
}

std::size_t DriftResampler::push(const float* in, std::size_t count, std::vector<float>& out) {
    return convert(in, count, out, 0);
}

std::size_t DriftResampler::finish(std::vector<float>& out) {
    // Flushing may take more than one call to drain.
    std::size_t total = 0;
    for (std::size_t made; (made = convert(nullptr, 0, out, total)) > 0;) {
        total += made;
    }
    return total;
}

std::size_t DriftResampler::convert(const float* in, std::size_t count, std::vector<float>& out,
                                    std::size_t at) {
    const int inCount = static_cast<int>(count);
    const int room = swr_get_out_samples(swr_, inCount) + 16;
    out.resize((at + static_cast<std::size_t>(room)) * channels_);
    auto* to = reinterpret_cast<std::uint8_t*>(out.data() + at * channels_);
    const auto* from = reinterpret_cast<const std::uint8_t*>(in);
    const int made = swr_convert(swr_, &to, room, in != nullptr ? &from : nullptr, inCount);
    if (made < 0) {
        throw failure("cannot resample", made);
    }
    out.resize((at + static_cast<std::size_t>(made)) * channels_);
    return static_cast<std::size_t>(made);
}

}  // namespace Trelis
