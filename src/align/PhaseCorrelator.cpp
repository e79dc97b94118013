#include "align/PhaseCorrelator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/FftEngine.h"

namespace Trelis {

namespace {

// Cross power, relative to the mean, below which a bin's weight stops growing: bins with no
// energy (above a recording's bandwidth) carry noise, not phase.
constexpr double kFloor = 1e-3;

}  // namespace

struct PhaseCorrelator::Plan {
    FftSpec* spec = nullptr;
    std::uint32_t size = 0;
    array<unsigned char> work{0};
    array<float> fa{0};
    array<float> fb{0};

    ~Plan() {
        if (spec != nullptr) {
            fftFree(spec);
        }
    }
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
        auto plan = std::make_unique<Plan>();
        if (fftInitAlloc(&plan->spec, order, fftDivInvByN, fftAlgHintFast) != fftStsNoErr) {
            return nullptr;
        }
        int bytes = 0;
        fftGetBufSize(plan->spec, &bytes);
        plan->size = 1u << order;
        plan->work.resize(static_cast<std::uint32_t>(std::max(bytes, 1)));
        plan->fa.resize(plan->size + 4);
        plan->fb.resize(plan->size + 4);
        slot = std::move(plan);
    }
    return slot.get();
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
    float* fa = plan->fa.data;
    float* fb = plan->fb.data;
    std::copy(a, a + n, fa);
    std::fill(fa + n, fa + size + 4, 0.0f);
    std::copy(b, b + n + 2 * m, fb);
    std::fill(fb + n + 2 * m, fb + size + 4, 0.0f);
    fftForwardInPlace(fa, plan->spec, plan->work.data);
    fftForwardInPlace(fb, plan->spec, plan->work.data);

    // conj(A) B, then weighted by its magnitude.
    const std::uint32_t bins = size / 2 + 1;
    double total = 0.0;
    for (std::uint32_t k = 0; k < bins; ++k) {
        const float ar = fa[2 * k], ai = fa[2 * k + 1];
        const float br = fb[2 * k], bi = fb[2 * k + 1];
        const float re = ar * br + ai * bi;
        const float im = ar * bi - ai * br;
        fa[2 * k] = re;
        fa[2 * k + 1] = im;
        total += std::sqrt(static_cast<double>(re) * re + static_cast<double>(im) * im);
    }
    const float floor = static_cast<float>(kFloor * total / bins) + 1e-30f;
    for (std::uint32_t k = 0; k < bins; ++k) {
        const float re = fa[2 * k], im = fa[2 * k + 1];
        // |C|^-0.75: the full phase transform (|C|^-1) lets bins with little energy add as much
        // noise to the peak as the strong ones add signal.
        const float magnitude = std::sqrt(re * re + im * im) + floor;
        const float root = std::sqrt(magnitude);
        const float weight = 1.0f / (root * std::sqrt(root));
        fa[2 * k] = re * weight;
        fa[2 * k + 1] = im * weight;
    }
    fftInverseInPlace(fa, plan->spec, plan->work.data);

    // The noise: every lag outside the searched ones (they compare unrelated stretches).
    double sum = 0.0;
    for (std::uint32_t l = static_cast<std::uint32_t>(span); l < size; ++l) {
        sum += static_cast<double>(fa[l]) * fa[l];
    }
    const double count = static_cast<double>(size) - static_cast<double>(span);
    const double sigma = count > 0.0 ? std::sqrt(sum / count) : 0.0;
    if (!(sigma > 0.0)) {
        return true;  // silence: no lag stands out
    }
    const auto scale = static_cast<float>(1.0 / sigma);
    for (long long l = 0; l < span; ++l) {
        z[static_cast<std::size_t>(l)] = fa[l] * scale;
    }
    return true;
}

}  // namespace Trelis
