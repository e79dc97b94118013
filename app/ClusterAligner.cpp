#include "ClusterAligner.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "RecordingReader.h"
#include "array.h"
#include "dsp/FftEngine.h"

namespace Trelis {

namespace {

// Cross power, relative to its average, below which a bin's weight falls off.
constexpr double kPhaseFloor = 1e-3;

struct Lag {
    double samples;   // interpolated lag of the peak
    double strength;  // peak over the spread of the correlation
};

// Whitened cross-correlation c[l] = sum over k of a[k] b[k + l], searched for l in [0, maxLag].
Lag bestLag(const std::vector<float>& a, const std::vector<float>& b, int maxLag) {
    std::uint32_t n = 2;
    int order = 1;
    while (n < a.size() + b.size()) {
        n *= 2;
        ++order;
    }
    FftSpec* spec = nullptr;
    if (fftInitAlloc(&spec, order, fftDivInvByN, fftAlgHintFast) != fftStsNoErr) {
        return {0.0, 0.0};
    }
    std::unique_ptr<FftSpec, int (*)(FftSpec*)> plan(spec, fftFree);
    int bytes = 0;
    fftGetBufSize(spec, &bytes);
    array<unsigned char> work(static_cast<std::uint32_t>(bytes));
    array<float> fa(n + 4), fb(n + 4);
    fa.fill(0.0f);
    fb.fill(0.0f);
    std::copy(a.begin(), a.end(), fa.data);
    std::copy(b.begin(), b.end(), fb.data);
    fftForwardInPlace(fa.data, spec, work.data);
    fftForwardInPlace(fb.data, spec, work.data);
    // conj(A) B, then only its phase. Bins far below the average cross power (the empty band
    // above a recording's own bandwidth, when it is read at a higher rate) are not raised to full
    // weight: their phase is noise.
    double total = 0.0;
    for (std::uint32_t k = 0; k <= n / 2; ++k) {
        const float ar = fa.data[2 * k], ai = fa.data[2 * k + 1];
        const float br = fb.data[2 * k], bi = fb.data[2 * k + 1];
        const float re = ar * br + ai * bi;
        const float im = ar * bi - ai * br;
        fa.data[2 * k] = re;
        fa.data[2 * k + 1] = im;
        total += std::sqrt(static_cast<double>(re) * re + static_cast<double>(im) * im);
    }
    const float floor = static_cast<float>(kPhaseFloor * total / (n / 2 + 1)) + 1e-20f;
    for (std::uint32_t k = 0; k <= n / 2; ++k) {
        const float re = fa.data[2 * k], im = fa.data[2 * k + 1];
        const float magnitude = std::sqrt(re * re + im * im) + floor;
        fa.data[2 * k] = re / magnitude;
        fa.data[2 * k + 1] = im / magnitude;
    }
    fftInverseInPlace(fa.data, spec, work.data);

    int peak = 0;
    for (int l = 1; l <= maxLag; ++l) {
        if (fa.data[l] > fa.data[peak]) {
            peak = l;
        }
    }
    // The spread of the correlation away from the peak: its root mean square over every lag
    // more than a few samples from it.
    double sum = 0.0;
    std::size_t count = 0;
    for (std::uint32_t l = 0; l < n; ++l) {
        const long long distance = std::llabs(static_cast<long long>(l) - peak);
        if (distance > 4 && static_cast<long long>(n) - distance > 4) {
            sum += static_cast<double>(fa.data[l]) * fa.data[l];
            ++count;
        }
    }
    const double spread = std::sqrt(sum / std::max<std::size_t>(count, 1));
    double fraction = 0.0;
    if (peak > 0 && peak < maxLag) {
        const double left = fa.data[peak - 1], centre = fa.data[peak], right = fa.data[peak + 1];
        const double curvature = left - 2.0 * centre + right;
        if (curvature < 0.0) {
            fraction = std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
        }
    }
    return {peak + fraction, spread > 0.0 ? fa.data[peak] / spread : 0.0};
}

}  // namespace

std::map<int, double> ClusterAligner::align(const ClusterSet& cluster) const {
    std::map<int, double> offsets;
    const MCClusterElem* reference = nullptr;
    for (const MCClusterElem* elem : cluster) {
        offsets[elem->fileId] = elem->offset;
        if (elem->offset == 0.0f) {
            reference = elem;
        }
    }
    if (reference == nullptr || cluster.size() < 2) {
        return offsets;
    }
    // Every readable member with its frame-accurate start, in samples after the reference.
    const double rate = settings_.sampleRate;
    struct Member {
        int id;
        long long start;
        std::unique_ptr<RecordingReader> reader;
    };
    std::vector<Member> members;
    for (const MCClusterElem* elem : cluster) {
        try {
            members.push_back(
                {elem->fileId, std::llround(static_cast<double>(elem->offset) * rate),
                 std::make_unique<RecordingReader>(idToPath_.at(elem->fileId), settings_.sampleRate,
                                                   settings_.decodeAll)});
        } catch (const std::exception&) {
            // An unreadable member keeps its frame-accurate offset.
        }
    }
    const auto overlap = [](const Member& x, const Member& y) {
        return std::min<long long>(x.start + x.reader->numFrames(),
                                   y.start + y.reader->numFrames()) -
               std::max(x.start, y.start);
    };

    // From the reference outwards: each step aligns the member that overlaps an aligned one the
    // most against that one, so members that do not overlap the reference are reached through
    // the others.
    std::map<int, double> refined;  // samples after the reference
    for (const Member& m : members) {
        if (m.id == reference->fileId) {
            refined[m.id] = 0.0;
        }
    }
    if (refined.empty()) {
        return offsets;
    }
    const double maxShift = 2.0 * settings_.hopSize;  // two frames
    while (refined.size() < members.size()) {
        const Member* next = nullptr;
        const Member* partner = nullptr;
        long long best = LLONG_MIN;
        for (const Member& m : members) {
            if (refined.count(m.id) != 0) {
                continue;
            }
            for (const Member& p : members) {
                if (refined.count(p.id) != 0 && overlap(m, p) > best) {
                    best = overlap(m, p);
                    next = &m;
                    partner = &p;
                }
            }
        }
        const std::optional<double> shift =
            measure(*partner->reader, *next->reader, next->start - partner->start);
        double start = static_cast<double>(next->start);
        if (shift) {
            const double aligned = refined[partner->id] + (next->start - partner->start) + *shift;
            if (std::fabs(aligned - next->start) <= maxShift) {
                start = aligned;
            }
        }
        refined[next->id] = start;
    }
    for (const auto& [id, start] : refined) {
        offsets[id] = start / rate;
    }
    const double earliest =
        std::min_element(offsets.begin(), offsets.end(), [](const auto& x, const auto& y) {
            return x.second < y.second;
        })->second;
    for (auto& entry : offsets) {
        entry.second -= earliest;
    }
    return offsets;
}

std::optional<double> ClusterAligner::measure(RecordingReader& first, RecordingReader& second,
                                              long long start) const {
    // `second` starts `start` samples after `first` by the frame-accurate estimate. Their overlap
    // on the time axis of `first`, less the search margin on each side.
    const double rate = settings_.sampleRate;
    const int maxShift = static_cast<int>(2 * settings_.hopSize);
    const long long from = std::max(0LL, start) + maxShift;
    const long long to = std::min(first.numFrames(), start + second.numFrames()) - maxShift;
    const long long usable = to - from;
    if (usable < static_cast<long long>(settings_.minimumSeconds * rate)) {
        return std::nullopt;
    }
    // Two windows, a quarter and three quarters into the overlap, must agree on the lag:
    // unrelated audio gives lags that agree only by chance. In each, a[k] = b[k + maxShift -
    // shift] where `second` really starts `shift` samples after the estimate. An overlap too
    // short for two windows gets one, held to a higher peak.
    const bool twoWindows = usable >= static_cast<long long>(2 * settings_.minimumSeconds * rate);
    const long long length = std::min(twoWindows ? usable / 2 : usable,
                                      static_cast<long long>(settings_.windowSeconds / 2 * rate));
    const auto lagAt = [&](long long centre) {
        const long long begin = centre - length / 2;
        const std::vector<float> a = first.window(begin, length);
        const std::vector<float> b = second.window(begin - start - maxShift, length + 2 * maxShift);
        return bestLag(a, b, 2 * maxShift);
    };
    if (twoWindows) {
        // The lags may differ by what clocks off by 100 ppm each drift apart between the
        // windows; the shift is then carried to the start of `second` along the line through
        // both.
        const long long earlyAt = from + usable / 4;
        const long long lateAt = from + 3 * usable / 4;
        const Lag early = lagAt(earlyAt);
        const Lag late = lagAt(lateAt);
        const double apart = static_cast<double>(lateAt - earlyAt);
        if (std::fabs(early.samples - late.samples) > 1.5 + 2e-4 * apart ||
            std::min(early.strength, late.strength) < settings_.minimumPeak) {
            return std::nullopt;
        }
        const double earlyShift = maxShift - early.samples;
        const double lateShift = maxShift - late.samples;
        return earlyShift + (lateShift - earlyShift) * static_cast<double>(start - earlyAt) / apart;
    }
    const Lag lag = lagAt((from + to) / 2);
    if (lag.strength < 2.0 * settings_.minimumPeak) {
        return std::nullopt;
    }
    // a[k] = b[k + maxShift - shift] where `second` really starts `shift` samples after the
    // estimate.
    return maxShift - lag.samples;
}

}  // namespace Trelis
