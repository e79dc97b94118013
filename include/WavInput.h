// WavInput: the samples of one WAVE file as an MCInput, through a wavfile_t that it owns.
//
// Built for an extractor, the reader comes from the extractor's loadFile, which checks the file's
// sample rate and yields null (after printing why) when the file can't be used; a source with a
// null reader must not be read. Built from a path alone, it opens the file itself, prints nothing
// and throws the reader's std::runtime_error when the file can't be opened; the caller checks the
// rate (reader->sampleRate). Exceptions of the reader pass through read().
#pragma once

#include <string>

#include "MCInput.h"
#include "TrelisExport.h"

namespace Trelis {

class MCLandmarkExtract;
class wavfile_t;

class TRELIS_EXPORT WavInput final : public MCInput {
public:
    WavInput(const std::string& path, MCLandmarkExtract* extractor);
    explicit WavInput(const std::string& path);
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
