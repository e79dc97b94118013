#include "align/PairMeasurement.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "align/LagLineFit.h"
#include "align/PhaseCorrelator.h"
#include "align/RecordingWindows.h"

namespace Trelis {

namespace {

// Windows a short overlap is cut into, and the shortest of them.
constexpr long long kShortWindows = 3;
constexpr double kShortestWindowSeconds = 1.0;
// Share of the windows that must agree: talks and quiet passages leave many windows with
// nothing to correlate, while a repeated passage that drew the frame-accurate offset to itself
// agrees only where it repeats.
constexpr double kAgreeingShare = 0.2;
// Lags, in seconds and at least in samples, within which a window's peak counts as on the line.
constexpr double kToleranceSeconds = 0.00025;
constexpr double kToleranceSamples = 1.5;
// Longest stretch of drift searched for, in seconds of lag either side.
constexpr double kLongestDriftSeconds = 2.0;
// Windows of a long overlap: beyond this many, every second (third...) grid window is taken. The
// fit's precision hardly grows past it, and the time an hour's overlap takes stays bounded.
constexpr double kMostWindows = 64.0;

// The window length, at most `length`, that together with the search margins fills a transform
// of a power of two: a window a few per cent shorter than asked for can halve the transform.
long long fitted(long long length, long long margin) {
    long long size = 1;
    while (size * 2 <= length + 2 * margin) {
        size *= 2;
    }
    const long long shorter = size - 2 * margin;
    return 4 * shorter >= 3 * length ? shorter : length;
}

}  // namespace

PairMeasurement::PairMeasurement(const MCAlignParams& params, long long lengthA, long long lengthB,
                                 long long startA, long long startB)
    : params_(params), startA_(startA), expected_(startB - startA), margin_(0) {
    const double rate = params.getSampleRate();
    const long long lo = std::max(0LL, expected_);
    const long long hi = std::min(lengthA, expected_ + lengthB);
    const long long usable = hi - lo;
    if (usable < static_cast<long long>(std::ceil(params.getMinOverlap() * rate))) {
        return;
    }
    // The frame-accurate offset may hold at either end of the overlap when the clocks drift.
    const double drift = std::min(params.getMaxDriftPpm() * 1e-6 * static_cast<double>(usable),
                                  kLongestDriftSeconds * rate);
    // A power of two, so that the pairs of a cluster mostly share their margins, hence the
    // lengths of their windows, and a member's window is transformed once for all its pairs.
    const auto needed = static_cast<long long>(std::ceil(params.getSearchSeconds() * rate + drift));
    margin_ = 1;
    while (margin_ < needed) {
        margin_ *= 2;
    }

    const long long length = fitted(std::llround(params.getWindowSeconds() * rate), margin_);
    const double step = std::max(params.getWindowSpacing(), params.getWindowSeconds()) * rate;
    if (static_cast<double>(usable) >= kShortWindows * step) {
        // Grid windows: cluster time k * step, inside the overlap; of many, every stride-th, so
        // that pairs with the same stride share their stretches too.
        const double first = std::ceil((static_cast<double>(lo + startA)) / step);
        const double last = std::floor(static_cast<double>(hi - length + startA) / step);
        const double stride = std::ceil((last - first + 1.0) / kMostWindows);
        for (double k = std::ceil(first / stride) * stride; k <= last; k += stride) {
            windows_.push_back({std::llround(k * step) - startA, length});
        }
        return;
    }
    // Shorter overlaps are cut into windows that cover them: as many of the usual length as
    // fit, and at least three when each can still be a second long, so a slope can be fitted.
    const long long shortest = std::llround(kShortestWindowSeconds * rate);
    const long long count =
        std::max({(usable + length - 1) / length, std::min(kShortWindows, usable / shortest), 1LL});
    const long long each = usable / count;
    const long long used = fitted(each, margin_);
    for (long long i = 0; i < count; ++i) {
        // A window shortened to fit its transform keeps the middle of its share.
        windows_.push_back({lo + i * each + (each - used) / 2, used});
    }
}

void PairMeasurement::require(RecordingWindows& a, RecordingWindows& b) const {
    for (const Window& w : windows_) {
        a.require(w.start, w.length);
        b.require(w.start - expected_ - margin_, w.length + 2 * margin_);
    }
}

long long PairMeasurement::windowTime(std::size_t i) const {
    return windows_[i].start + startA_;
}

bool PairMeasurement::correlate(std::size_t i, const RecordingWindows& a, const RecordingWindows& b,
                                PhaseCorrelator& correlator, std::vector<float>& z) const {
    const Window& w = windows_[i];
    const float* x = a.at(w.start, w.length);
    const float* y = b.at(w.start - expected_ - margin_, w.length + 2 * margin_);
    if (!correlator.correlate(x, w.length, y, margin_, z)) {
        z.clear();
        return false;
    }
    return true;
}

PairMeasurement::Result PairMeasurement::measure(const RecordingWindows& a,
                                                 const RecordingWindows& b,
                                                 PhaseCorrelator& correlator) const {
    std::vector<std::vector<float>> correlations(windows_.size());
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        correlate(i, a, b, correlator, correlations[i]);
    }
    return fit(correlations);
}

PairMeasurement::Result PairMeasurement::fit(
    const std::vector<std::vector<float>>& correlations) const {
    Result result;
    PairAlignment& out = result.alignment;
    if (windows_.empty()) {
        out.reason = AlignReason::ShortOverlap;
        return result;
    }
    const double rate = params_.getSampleRate();
    std::vector<LagLineFit::Window> fitted;
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        if (!correlations[i].empty()) {
            const Window& w = windows_[i];
            fitted.push_back({static_cast<double>(w.start) + 0.5 * static_cast<double>(w.length),
                              &correlations[i]});
        }
    }
    out.windows = static_cast<int>(fitted.size());
    out.reason = AlignReason::NoAgreement;
    const double tolerance = std::max(kToleranceSamples, kToleranceSeconds * rate);
    // Clocks drift little more often than much: a slope is held near 0 by a prior of half the
    // largest, which decides it where two or three windows close together cannot.
    const double prior = 0.5 * params_.getMaxDriftPpm() * 1e-6;
    const LagLineFit fit(params_.getMaxDriftPpm() * 1e-6, prior, params_.getMinPeak(), tolerance);
    const std::vector<LagLineFit::Line> lines = fit.fit(fitted, margin_);
    if (!lines.empty()) {
        out.agreeing = lines.front().agreeing;
        out.strength = lines.front().strength;
    }
    for (const LagLineFit::Line& line : lines) {
        const bool single =
            out.windows == 1 && line.agreeing == 1 && line.strength >= 2.0 * params_.getMinPeak();
        const bool several =
            line.agreeing >= 2 && line.agreeing >= std::ceil(kAgreeingShare * out.windows);
        if (!(single || several)) {
            continue;
        }
        // Sample x of the first member holds what sample x - expected + lag(x) of the second
        // does.
        Line measured;
        PairAlignment& p = measured.alignment;
        const double epsilon = line.slope;
        const double atB = line.centre - static_cast<double>(expected_) + line.delta;
        p.measured = true;
        p.windows = out.windows;
        p.agreeing = line.agreeing;
        p.strength = line.strength;
        p.offset = (static_cast<double>(expected_) - line.delta + epsilon * line.centre) /
                   (1.0 + epsilon) / rate;
        p.offsetError = std::sqrt(line.deltaVariance + atB * atB * line.slopeVariance) / rate;
        p.driftPpm = epsilon * 1e6;
        p.driftError = std::sqrt(line.slopeVariance) * 1e6;
        p.confidence = static_cast<double>(line.agreeing) / out.windows *
                       std::max(0.0, 1.0 - params_.getMinPeak() / line.strength);
        measured.atA = line.centre / rate;
        measured.atB = atB / rate;
        measured.sigma = std::sqrt(line.deltaVariance) / rate;
        measured.logRate = std::log1p(epsilon);
        // The solve weighs what the windows tell, not the prior.
        measured.logRateVariance = line.slopeDataVariance;
        measured.share = line.score / lines.front().score;
        result.lines.push_back(measured);
    }
    if (!result.lines.empty()) {
        out = result.lines.front().alignment;
    }
    return result;
}

PairAlignment PairMeasurement::stack(const std::vector<std::vector<float>>& correlations) const {
    PairAlignment out;
    std::vector<std::size_t> used;
    double mean = 0.0;
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        if (!correlations[i].empty()) {
            used.push_back(i);
            mean += static_cast<double>(windows_[i].start) + 0.5 * windows_[i].length;
        }
    }
    out.windows = static_cast<int>(used.size());
    out.reason = AlignReason::NoAgreement;
    if (used.size() < 2) {
        return out;
    }
    mean /= static_cast<double>(used.size());
    std::vector<double> from(used.size());  // each window's centre from the mean, in samples
    double farthest = 0.0;
    for (std::size_t k = 0; k < used.size(); ++k) {
        const Window& w = windows_[used[k]];
        from[k] = static_cast<double>(w.start) + 0.5 * w.length - mean;
        farthest = std::max(farthest, std::fabs(from[k]));
    }
    // Slopes a sample apart at the farthest window, up to the largest drift.
    const long long steps = static_cast<long long>(
        std::ceil(params_.getMaxDriftPpm() * 1e-6 * std::max(farthest, 1.0)));
    const auto span = static_cast<long long>(correlations[used.front()].size());
    double best = -std::numeric_limits<double>::infinity();
    long long bestLag = 0;
    double bestSlope = 0.0;
    std::vector<double> sum(static_cast<std::size_t>(span));
    for (long long j = -steps; j <= steps; ++j) {
        const double slope = farthest > 0.0 ? static_cast<double>(j) / farthest : 0.0;
        std::fill(sum.begin(), sum.end(), 0.0);
        for (std::size_t k = 0; k < used.size(); ++k) {
            const std::vector<float>& z = correlations[used[k]];
            const long long shift = std::llround(slope * from[k]);
            const long long lo = std::max(0LL, -shift);
            const long long hi = std::min(span, span - shift);
            for (long long l = lo; l < hi; ++l) {
                sum[static_cast<std::size_t>(l)] += z[static_cast<std::size_t>(l + shift)];
            }
        }
        for (long long l = 0; l < span; ++l) {
            if (sum[static_cast<std::size_t>(l)] > best) {
                best = sum[static_cast<std::size_t>(l)];
                bestLag = l;
                bestSlope = slope;
            }
        }
    }
    const double rate = params_.getSampleRate();
    const double delta = static_cast<double>(bestLag - margin_);
    out.measured = true;
    out.reason = AlignReason::None;
    out.agreeing = out.windows;
    out.strength = best / std::sqrt(static_cast<double>(used.size()));
    out.offset =
        (static_cast<double>(expected_) - delta + bestSlope * mean) / (1.0 + bestSlope) / rate;
    out.offsetError = std::sqrt(1.0 / 12.0) / rate;  // the lag is taken to the sample
    out.driftPpm = bestSlope * 1e6;
    out.driftError = std::numeric_limits<double>::infinity();
    out.confidence = std::max(0.0, 1.0 - params_.getMinPeak() / out.strength);
    return out;
}

}  // namespace Trelis
