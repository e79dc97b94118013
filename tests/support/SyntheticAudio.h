// Deterministic test audio: music-like notes with harmonics, chirps and noise bursts, made from a
// seed alone (no library random distributions, whose output differs between standard libraries).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MCInput.h"

namespace TrelisTest {

// `seconds` of audio at `rate` Hz, full scale below 1.0.
std::vector<float> musicLike(std::uint32_t seed, double seconds, std::uint32_t rate = 8000);

// The samples as 16-bit PCM, rounded to nearest and clipped.
std::vector<std::int16_t> toPcm16(const std::vector<float>& samples);

// Writes a 16-bit mono WAVE file.
void writeWav(const std::string& path, const std::vector<float>& samples,
              std::uint32_t rate = 8000);

// An MCInput over samples in memory, with the end-of-input rule of the WAVE source: a read that
// reaches past the end fills what is left and leaves the rest of the block as it was.
class MemoryInput : public Trelis::MCInput {
public:
    explicit MemoryInput(std::vector<float> samples) : samples_(std::move(samples)) {}
    std::uint64_t getNumSamples() override { return samples_.size(); }
    bool read(Trelis::array<float>& block) override;
    bool rewind() override {
        position_ = 0;
        ++rewinds;
        return true;
    }
    int reads = 0;
    int rewinds = 0;

private:
    std::vector<float> samples_;
    std::size_t position_ = 0;
};

}  // namespace TrelisTest
