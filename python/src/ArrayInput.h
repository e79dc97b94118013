// ArrayInput: a MonoAudio as the library's MCInput, read block by block.
//
// `poll`, when given, is called with the fraction read after every block, on the reading
// thread, and may throw to stop the extraction (the extractor lets it through).
#pragma once

#include <cstdint>
#include <functional>

#include "MCInput.h"
#include "MonoAudio.h"

namespace TrelisPython {

class ArrayInput final : public Trelis::MCInput {
public:
    explicit ArrayInput(MonoAudio audio, std::function<void(double)> poll = {})
        : audio_(std::move(audio)), poll_(std::move(poll)) {}

    std::uint64_t getNumSamples() override { return audio_.count(); }
    bool read(Trelis::array<float>& block) override;
    bool rewind() override {
        position_ = 0;
        return true;
    }

private:
    MonoAudio audio_;
    std::function<void(double)> poll_;
    std::uint64_t position_ = 0;
};

}  // namespace TrelisPython
