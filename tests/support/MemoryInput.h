// An MCInput over samples in memory, with the end-of-input rule of the WAVE source: a read that
// reaches past the end fills what is left and leaves the rest of the block as it was.
#pragma once

#include <cstdint>
#include <vector>

#include "MCInput.h"

namespace TrelisTest {

class MemoryInput final : public Trelis::MCInput {
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
