// RecordingWindows: the stretches of one recording that the alignment needs, read in one pass.
//
// Stretches are asked for in samples with require(), in any order, and may reach outside the
// recording: what lies outside reads as 0. load() rewinds the input and reads it straight
// through once, keeping only the merged stretches; skipped parts are read and dropped, so every
// source, decoded media included, gives exactly the samples of a straight read.
#pragma once

#include <cstdint>
#include <vector>

namespace Trelis {

class MCInput;

class RecordingWindows {
public:
    void require(long long start, long long length);

    // Reads the required stretches of `input`, which holds `numSamples` samples.
    void load(MCInput& input, std::uint64_t numSamples);

    // The samples from `start` on; [start, start + length) must lie within one required stretch.
    const float* at(long long start, long long length) const;

    // Samples kept in memory.
    std::size_t footprint() const;

private:
    struct Stretch {
        long long start;
        long long end;
        std::vector<float> samples;
    };
    std::vector<std::pair<long long, long long>> wanted_;
    std::vector<Stretch> stretches_;  // merged, in order
};

}  // namespace Trelis
