// MediaInput: the sound of any media file FFmpeg reads, as the extractor's source: every channel
// mixed with equal weights, at the extraction sample rate (see MediaDecoder).
#pragma once

#include <string>

#include "MCInput.h"
#include "MediaDecoder.h"

namespace Trelis {

class MediaInput : public MCInput {
public:
    // Throws std::runtime_error with the reason when the file can't be decoded.
    MediaInput(const std::string& path, unsigned int sampleRate)
        : decoder_(path, static_cast<int>(sampleRate), true) {}

    std::uint64_t getNumSamples() override { return decoder_.numFrames(); }
    // Past the last sample, the rest of the block is left as it was.
    bool read(array<float>& block) override;
    bool rewind() override;

    const MediaDecoder& decoder() const { return decoder_; }

private:
    MediaDecoder decoder_;
};

}  // namespace Trelis
