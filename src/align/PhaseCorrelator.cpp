#include "align/PhaseCorrelator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "FftPlan.h"
#include "dsp/KernelClones.h"

namespace Trelis {

namespace {

// Cross power, relative to the mean, below which a bin's weight stops growing: bins with no
// energy (above a recording's bandwidth) carry noise, not phase.
constexpr double kFloor = 1e-3;
constexpr std::uint32_t kLanes = 8;
// Memory for the spectra kept for reuse: at the default rate, the windows of the members that one
// stretch of a cluster's time line holds, for clusters of a few dozen members; beyond it, the
// cache would cost more in memory traffic than the transforms it saves.
constexpr std::size_t kSpectrumBytes = std::size_t{16} << 20;

// conj(A) B of the spectra `sa` and `sb` into `cross`, interleaved, and its magnitude into
// `magnitude`. Eight bins at a time, their real and imaginary parts apart, so that the
// arithmetic and the square roots run on whole vectors.
TRELIS_KERNEL
void crossPower(std::uint32_t bins, const float* sa, const float* sb, float* cross,
                float* magnitude) {
    std::uint32_t first = 0;
#if defined(TRELIS_BLOCKS)
    static_assert(sizeof(Block) == kLanes * sizeof(float), "a block of the lanes");
    for (; first + kLanes <= bins; first += kLanes) {
        Block ar, ai, br, bi;
        loadComplex(ar, ai, sa + 2 * first);
        loadComplex(br, bi, sb + 2 * first);
        const Block re = ar * br + ai * bi;
        const Block im = ar * bi - ai * br;
        storeComplex(cross + 2 * first, re, im);
        const Block power = re * re + im * im;
        for (std::uint32_t j = 0; j < kLanes; ++j) {
            magnitude[first + j] = std::sqrt(power[j]);
        }
    }
#endif
    for (; first < bins; ++first) {
        const float ar = sa[2 * first], ai = sa[2 * first + 1];
        const float br = sb[2 * first], bi = sb[2 * first + 1];
        const float re = ar * br + ai * bi;
        const float im = ar * bi - ai * br;
        cross[2 * first] = re;
        cross[2 * first + 1] = im;
        magnitude[first] = std::sqrt(re * re + im * im);
    }
}

// The sum of values[from .. to) (of their squares with `squared`): kLanes running sums over the
// whole blocks, the rest in double, then the lanes added in turn. The order is fixed, whatever
// the instruction set.
TRELIS_KERNEL
double laneSum(const float* values, std::uint32_t from, std::uint32_t to, bool squared) {
    float lanes[kLanes] = {0.0f};
    std::uint32_t k = from;
#if defined(TRELIS_BLOCKS)
    Block sums = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (; k + kLanes <= to; k += kLanes) {
        Block v;
        loadBlock(v, values + k);
        sums += squared ? v * v : v;
    }
    storeBlock(lanes, sums);
#else
    for (; k + kLanes <= to; k += kLanes) {
        for (std::uint32_t j = 0; j < kLanes; ++j) {
            lanes[j] += squared ? values[k + j] * values[k + j] : values[k + j];
        }
    }
#endif
    double sum = 0.0;
    for (; k < to; ++k) {
        sum += squared ? static_cast<double>(values[k]) * values[k] : values[k];
    }
    for (float lane : lanes) {
        sum += lane;
    }
    return sum;
}

// Each bin of `cross` divided by its magnitude plus `floor`.
TRELIS_KERNEL
void whiten(std::uint32_t bins, float floor, const float* magnitude, float* cross) {
    std::uint32_t k = 0;
#if defined(TRELIS_BLOCKS)
    for (; k + kLanes <= bins; k += kLanes) {
        Block m, re, im;
        loadBlock(m, magnitude + k);
        loadComplex(re, im, cross + 2 * k);
        const Block weight = 1.0f / (m + floor);
        storeComplex(cross + 2 * k, re * weight, im * weight);
    }
#endif
    for (; k < bins; ++k) {
        const float weight = 1.0f / (magnitude[k] + floor);
        cross[2 * k] *= weight;
        cross[2 * k + 1] *= weight;
    }
}

}  // namespace

struct PhaseCorrelator::Plan {
    explicit Plan(int order) : fft(order, FftPlan::Scaling::InverseByN), size(fft.size()) {}

    FftPlan fft;
    std::uint32_t size;
    array<float> fa{0};
    array<float> fb{0};
};

PhaseCorrelator::PhaseCorrelator() = default;
PhaseCorrelator::~PhaseCorrelator() = default;

PhaseCorrelator::Plan* PhaseCorrelator::planFor(long long size) {
    int order = 1;
    while ((1LL << order) < size) {
        ++order;
    }
    if (order > 29) {
        return nullptr;
    }
    auto& slot = plans_[order];
    if (!slot) {
        auto plan = std::make_unique<Plan>(order);
        plan->fa.resize(plan->size + 4);
        plan->fb.resize(plan->size + 4);
        slot = std::move(plan);
    }
    return slot.get();
}

const float* PhaseCorrelator::spectrum(Plan& plan, const float* samples, long long count) {
    ++uses_;
    for (Spectrum& entry : spectra_) {
        if (entry.samples == samples && entry.count == count && entry.size == plan.size) {
            entry.lastUse = uses_;
            return entry.values.data();
        }
    }
    // The least recently used entry makes room; a new one while there is room.
    Spectrum* slot = nullptr;
    const std::size_t room =
        std::max<std::size_t>(2, kSpectrumBytes / (sizeof(float) * (plan.size + 4)));
    if (spectra_.size() < room) {
        spectra_.emplace_back();
        slot = &spectra_.back();
    } else {
        slot = &*std::min_element(
            spectra_.begin(), spectra_.end(),
            [](const Spectrum& x, const Spectrum& y) { return x.lastUse < y.lastUse; });
    }
    slot->samples = samples;
    slot->count = count;
    slot->size = plan.size;
    slot->lastUse = uses_;
    slot->values.resize(plan.size + 4);
    float* buffer = slot->values.data();
    std::copy(samples, samples + count, buffer);
    std::fill(buffer + count, buffer + plan.size + 4, 0.0f);
    plan.fft.forward(buffer);
    return buffer;
}

bool PhaseCorrelator::correlate(const float* a, long long n, const float* b, long long m,
                                std::vector<float>& z) {
    const long long span = 2 * m + 1;
    z.assign(static_cast<std::size_t>(span), 0.0f);
    // Lags 0 .. 2m of the circular correlation are free of wrap-around once the size holds b.
    Plan* plan = planFor(std::max(n + 2 * m, 2 * (2 * m + 1)));
    if (plan == nullptr) {
        return false;
    }
    const std::uint32_t size = plan->size;
    const float* sa = spectrum(*plan, a, n);
    const float* sb = spectrum(*plan, b, n + 2 * m);
    float* fa = plan->fa.data;
    float* fb = plan->fb.data;

    // conj(A) B into the first buffer, its magnitude into the second; then each bin divided by its
    // magnitude (the phase transform): every frequency counts alike, so a room's colouring does
    // not widen the peak, and the direct sound stands above early reflections that a partly
    // whitened correlation lets outgrow it. Simple loops over plain arrays, so that they
    // vectorize; sums run in a fixed number of lanes, so their order is fixed too.
    const std::uint32_t bins = size / 2 + 1;
    float* magnitude = fb;
    crossPower(bins, sa, sb, fa, magnitude);
    const double total = laneSum(magnitude, 0, bins, false);
    const float floor = static_cast<float>(kFloor * total / bins) + 1e-30f;
    whiten(bins, floor, magnitude, fa);
    plan->fft.inverse(fa);

    // The noise: every lag outside the searched ones (they compare unrelated stretches).
    const double sum =
        span < size ? laneSum(fa, static_cast<std::uint32_t>(span), size, true) : 0.0;
    const double count = static_cast<double>(size) - static_cast<double>(span);
    const double sigma = count > 0.0 ? std::sqrt(sum / count) : 0.0;
    if (!(sigma > 0.0)) {
        return true;  // silence: no lag stands out
    }
    const auto scale = static_cast<float>(1.0 / sigma);
    for (long long i = 0; i < span; ++i) {
        z[static_cast<std::size_t>(i)] = fa[i] * scale;
    }
    return true;
}

}  // namespace Trelis
