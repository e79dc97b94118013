// AudioArray: a numpy array of samples seen as mono audio at its rate, without copying it.
//
// The array is 1-D (one channel) or 2-D, frames x channels; channels x frames is taken too when
// that is unambiguous (the shorter axis, at most kMaxChannels long, is the channels). Floats are
// full scale +-1; signed integers of n bits are divided by 2^(n-1); unsigned ones are centred
// first (uint8 128 is silence), as WAVE files store them. Channels are mixed with equal weights,
// as the program mixes media files. float32, float64 and every integer width of the machine's
// byte order are read in place, at any strides; other dtypes (float16, long double, swapped
// byte order) are converted to float64 once. Refused, with std::invalid_argument naming the
// problem: no samples, more than two dimensions, complex, bool or object dtypes, an ambiguous
// orientation, a rate of 0. Values that are not finite are refused when read.
//
// Built under the GIL (it keeps a reference to the array, released under the GIL); read()
// touches only the array's memory, and may run on any thread without the GIL.
#pragma once

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace TrelisPython {

class AudioArray {
public:
    static constexpr std::int64_t kMaxChannels = 64;

    // `what` names the argument in messages.
    AudioArray(const pybind11::object& samples, double rate, const std::string& what);

    std::int64_t frames() const { return frames_; }
    std::int64_t channels() const { return channels_; }
    unsigned int rate() const { return rate_; }
    // True when the array was read in place rather than converted.
    bool inPlace() const { return inPlace_; }

    // The mono samples of frames [start, start + count) into `out`; throws std::invalid_argument
    // at a value that is not finite.
    void read(std::int64_t start, std::int64_t count, float* out) const;

private:
    pybind11::array array_;  // owns the memory read
    const char* data_ = nullptr;
    char kind_ = 'f';  // 'f', 'i' or 'u'
    int itemSize_ = 4;
    std::int64_t frames_ = 0;
    std::int64_t channels_ = 1;
    std::int64_t frameStride_ = 0;  // bytes
    std::int64_t channelStride_ = 0;
    unsigned int rate_ = 0;
    bool inPlace_ = true;
    std::string what_;
};

}  // namespace TrelisPython
