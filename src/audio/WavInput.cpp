#include "WavInput.h"

#include "MCLandmarkExtract.h"
#include "wavfile_t.h"

namespace Trelis {

WavInput::WavInput(const std::string& path, MCLandmarkExtract* extractor)
    : reader(extractor->loadFile(path)) {}

WavInput::WavInput(const std::string& path) : reader(new wavfile_t(path, 1, 1, 16000)) {}

WavInput::~WavInput() {
    delete reader;
}

std::uint64_t WavInput::getNumSamples() {
    return reader->numFrames;
}

bool WavInput::read(array<float>& block) {
    return reader->read_mono(block);
}

bool WavInput::rewind() {
    // Meeting the end of the file leaves the stream failed, and a failed stream does not seek.
    reader->stream.clear();
    reader->stream.seekg(reader->dataStart);
    return true;
}

}  // namespace Trelis
