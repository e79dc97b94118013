// FftPlan: a real FFT of length 2^order with the tables and the work buffer it needs, made once
// and used for any number of transforms of that length.
//
// forward() turns N real samples into the packed spectrum of bins 0 .. N/2 in place:
// buffer[2k] = Re X[k], buffer[2k+1] = Im X[k]; inverse() turns such a spectrum back into N real
// samples. The buffer holds at least N + 2 floats. The inverse is divided by N when the plan is
// made with InverseByN, so that forward then inverse gives the input back; with None neither
// direction is scaled. A plan is not shared between threads (its work buffer is its own).
#pragma once

#include <cstdint>
#include <vector>

#include "TrelisExport.h"

namespace Trelis {

struct FftSpec;

class TRELIS_EXPORT FftPlan {
public:
    enum class Scaling { None, InverseByN };

    // Throws std::invalid_argument for an order outside 0 .. 29, std::bad_alloc when the tables
    // can't be allocated.
    FftPlan(int order, Scaling scaling);
    ~FftPlan();
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;

    std::uint32_t size() const { return size_; }
    void forward(float* buffer);
    void inverse(float* buffer);

private:
    FftSpec* spec_ = nullptr;
    std::uint32_t size_ = 0;
    std::vector<unsigned char> work_;
};

}  // namespace Trelis
