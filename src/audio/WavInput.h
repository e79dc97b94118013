// WavInput: the samples of one WAVE file as an MCInput, through a wavfile_t that it owns.
//
// The reader comes from the extractor's loadFile, which checks the file's sample rate and yields
// null (after printing why) when the file can't be used; a source with a null reader must not be
// read. Exceptions of the reader pass through read().
#pragma once

#include <string>

#include "MCInput.h"

namespace Trelis {

class MCLandmarkExtract;
class wavfile_t;

class WavInput : public MCInput {
public:
    WavInput(const std::string& path, MCLandmarkExtract* extractor);
    ~WavInput();

    WavInput(const WavInput&) = delete;
    WavInput& operator=(const WavInput&) = delete;

    // The file's frame count: one mono sample per frame.
    std::uint64_t getNumSamples() override;
    // The first channel of the next block.size() frames.
    bool read(array<float>& block) override;
    // Back to the first sample, also after the end of the file was met.
    bool rewind() override;

    wavfile_t* reader;
};

}  // namespace Trelis
