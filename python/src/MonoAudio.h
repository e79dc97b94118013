// MonoAudio: a recording as the library reads it: mono float samples at one rate, either the
// caller's array read in place (AudioArray, at its own rate) or samples the module made
// (resampled), shared by the copies of this value.
//
// at() gives the recording at another rate, resampling span by span so that only the result is
// held whole. Reading touches no Python object: it may run on any thread without the GIL.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "AudioArray.h"

namespace TrelisPython {

class MonoAudio {
public:
    explicit MonoAudio(std::shared_ptr<const AudioArray> array);
    MonoAudio(std::shared_ptr<const std::vector<float>> samples, unsigned int rate);

    std::uint64_t count() const;
    unsigned int rate() const { return rate_; }

    // Samples [start, start + count) into `out`; the range lies within the recording.
    void read(std::uint64_t start, std::uint64_t count, float* out) const;

    // This recording at `rate`: itself when it is at that rate. `poll(fraction)` is called now
    // and then while resampling, and may throw to stop.
    MonoAudio at(unsigned int rate, const std::function<void(double)>& poll = {}) const;

private:
    std::shared_ptr<const AudioArray> array_;
    std::shared_ptr<const std::vector<float>> samples_;
    unsigned int rate_;
};

}  // namespace TrelisPython
