#include "FftPlan.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include "dsp/FftEngine.h"

namespace Trelis {

FftPlan::FftPlan(int order, Scaling scaling) {
    const int flag = scaling == Scaling::InverseByN ? fftDivInvByN : fftNoDivByAny;
    const int status = fftInitAlloc(&spec_, order, flag, fftAlgHintFast);
    if (status == fftStsMemAllocErr) {
        throw std::bad_alloc();
    }
    if (status != fftStsNoErr) {
        throw std::invalid_argument("FftPlan: no transform of order " + std::to_string(order));
    }
    int bytes = 0;
    fftGetBufSize(spec_, &bytes);
    work_.resize(static_cast<std::size_t>(std::max(bytes, 1)));
    size_ = 1u << order;
}

FftPlan::~FftPlan() {
    if (spec_ != nullptr) {
        fftFree(spec_);
    }
}

void FftPlan::forward(float* buffer) {
    fftForwardInPlace(buffer, spec_, work_.data());
}

void FftPlan::inverse(float* buffer) {
    fftInverseInPlace(buffer, spec_, work_.data());
}

}  // namespace Trelis
