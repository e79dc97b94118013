// PhaseCorrelator: the whitened cross-correlation of a window of one recording against a longer
// window of another, over a range of lags, in units of the correlation's noise.
//
// For a of length n and b of length n + 2m, it gives z[l] = c(l - m) / sigma for l = 0 .. 2m,
// where c(lag) = sum over k of a[k] b[k + m + lag] after both are whitened together (each
// frequency of the cross spectrum divided by its magnitude, with a floor that keeps empty bands
// from full weight, so the peak stays sharp under reverberation and coloured noise), and sigma is
// the root mean square of the correlation at the lags outside the searched range. Transform plans
// and buffers are made once per size and reused, and the spectra of the last windows correlated are
// kept: a window of a member that several pairs share (the same samples, by address and length) is
// transformed once while it is in use. The caller keeps the samples where they are for the
// correlator's lifetime. One correlator per thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "array.h"

namespace Trelis {

struct FftSpec;

class PhaseCorrelator {
public:
    PhaseCorrelator();
    ~PhaseCorrelator();
    PhaseCorrelator(const PhaseCorrelator&) = delete;
    PhaseCorrelator& operator=(const PhaseCorrelator&) = delete;

    // Writes the 2m + 1 values of z into `z`. False when no transform can be planned.
    bool correlate(const float* a, long long n, const float* b, long long m, std::vector<float>& z);

private:
    struct Plan;
    struct Spectrum {
        const float* samples = nullptr;
        long long count = 0;
        std::uint32_t size = 0;
        std::uint64_t lastUse = 0;
        std::vector<float> values;  // packed, size + 4 floats
    };
    Plan* planFor(long long size);
    // The packed spectrum of `count` samples zero-padded to the plan's size, from the cache when
    // it holds it.
    const float* spectrum(Plan& plan, const float* samples, long long count);

    std::map<int, std::unique_ptr<Plan>> plans_;
    std::vector<Spectrum> spectra_;
    std::uint64_t uses_ = 0;
};

}  // namespace Trelis
