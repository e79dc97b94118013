// MediaInput: the sound of any media file FFmpeg reads, as the extractor's source: every channel
// mixed with equal weights, at the extraction sample rate (see MediaDecoder).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "MCInput.h"
#include "MediaDecoder.h"

namespace Trelis {

class MediaInput final : public MCInput {
public:
    // Throws std::runtime_error with the reason when the file can't be decoded. `stream` as for
    // MediaDecoder.
    MediaInput(const std::string& path, unsigned int sampleRate, int stream = 0)
        : decoder_(path, static_cast<int>(sampleRate), true, stream) {}

    std::uint64_t getNumSamples() override { return decoder_.numFrames(); }
    // Past the last sample, the rest of the block is left as it was.
    bool read(array<float>& block) override;
    bool rewind() override;

    const MediaDecoder& decoder() const { return decoder_; }

private:
    // Decoding runs ahead in large chunks rather than one extraction block at a time: switching
    // between the decoder and the extraction every block costs more than either's caches hold.
    static constexpr std::size_t kChunk = 16384;

    MediaDecoder decoder_;
    std::vector<float> chunk_ = std::vector<float>(kChunk);
    std::size_t chunkAt_ = 0;
    std::size_t chunkEnd_ = 0;
};

}  // namespace Trelis
