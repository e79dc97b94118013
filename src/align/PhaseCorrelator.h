// PhaseCorrelator: the whitened cross-correlation of a window of one recording against a longer
// window of another, over a range of lags, in units of the correlation's noise.
//
// For a of length n and b of length n + 2m, it gives z[l] = c(l - m) / sigma for l = 0 .. 2m,
// where c(lag) = sum over k of a[k] b[k + m + lag] after both are whitened together (each
// frequency of the cross spectrum weighted by its magnitude to the power -0.75, which keeps the
// peak sharp under reverberation and coloured noise without raising empty bands to full
// weight), and sigma is the root mean square of the correlation at the lags outside the searched
// range. Transform plans and buffers are made once per size and reused; one correlator per
// thread.
#pragma once

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
    Plan* planFor(long long size);

    std::map<int, std::unique_ptr<Plan>> plans_;
};

}  // namespace Trelis
