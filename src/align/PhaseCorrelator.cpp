#include "align/PhaseCorrelator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "FftPlan.h"

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
    // In blocks of the lanes: the interleaved bins are split into plain arrays first, whose
    // square roots then vectorize.
    float* magnitude = fb;
    const auto cross = [&](std::uint32_t k, float& re, float& im) {
        const float ar = sa[2 * k], ai = sa[2 * k + 1];
        const float br = sb[2 * k], bi = sb[2 * k + 1];
        re = ar * br + ai * bi;
        im = ar * bi - ai * br;
        fa[2 * k] = re;
        fa[2 * k + 1] = im;
    };
    std::uint32_t first = 0;
    for (; first + kLanes <= bins; first += kLanes) {
        float re[kLanes], im[kLanes];
        for (std::uint32_t j = 0; j < kLanes; ++j) {
            cross(first + j, re[j], im[j]);
        }
        for (std::uint32_t j = 0; j < kLanes; ++j) {
            magnitude[first + j] = std::sqrt(re[j] * re[j] + im[j] * im[j]);
        }
    }
    for (; first < bins; ++first) {
        float re, im;
        cross(first, re, im);
        magnitude[first] = std::sqrt(re * re + im * im);
    }
    float lanes[kLanes] = {0.0f};
    std::uint32_t k = 0;
    for (; k + kLanes <= bins; k += kLanes) {
        for (std::uint32_t j = 0; j < kLanes; ++j) {
            lanes[j] += magnitude[k + j];
        }
    }
    double total = 0.0;
    for (; k < bins; ++k) {
        total += magnitude[k];
    }
    for (float lane : lanes) {
        total += lane;
    }
    const float floor = static_cast<float>(kFloor * total / bins) + 1e-30f;
    float* weight = fb;  // in place of the magnitudes
    for (k = 0; k < bins; ++k) {
        weight[k] = 1.0f / (magnitude[k] + floor);
    }
    for (k = 0; k < bins; ++k) {
        fa[2 * k] *= weight[k];
        fa[2 * k + 1] *= weight[k];
    }
    plan->fft.inverse(fa);

    // The noise: every lag outside the searched ones (they compare unrelated stretches).
    float squares[kLanes] = {0.0f};
    std::uint32_t l = static_cast<std::uint32_t>(span);
    for (; l + kLanes <= size; l += kLanes) {
        for (std::uint32_t j = 0; j < kLanes; ++j) {
            squares[j] += fa[l + j] * fa[l + j];
        }
    }
    double sum = 0.0;
    for (; l < size; ++l) {
        sum += static_cast<double>(fa[l]) * fa[l];
    }
    for (float lane : squares) {
        sum += lane;
    }
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
