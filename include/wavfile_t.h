// wavfile_t: a RIFF/WAVE file, read as a mono stream of floats or created with a 16-bit PCM header.
//
// Reading (mode 1): the constructor parses the header and leaves the stream at the first sample.
// read_mono() then delivers the first channel of each frame, full scale +-1.0: 16-bit samples as
// signed integers x 2^-15, 8-bit samples as unsigned bytes centred on 128 x 2^-7, 32-bit samples
// as IEEE floats whatever the format tag says. Other widths open but deliver nothing. Reading goes
// on to the end of the file (not of the data chunk); the element that meets the end is still
// written, from what the last frame read left in the frame buffer, and the elements after it keep
// their contents.
//
// Writing (mode 2): the constructor creates the file with a 44-byte 16-bit PCM header whose two
// sizes the destructor completes. No operation writes samples. Any other mode opens nothing.
//
// Refused at open with the format error: formats outside the acceptance rule (format tag above 1
// unless 8, 16 or 32 bits), and, since a frame must fit the 16-sample frame buffer and the frame
// count must not divide by zero, files with no channel, more than 16 channels or fewer than 8 bits
// per sample. All failures throw std::runtime_error naming "wavfile_t::"; nothing is printed.
// Created on the heap by its owner (a WavInput, the refinement) and never copied.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "TrelisExport.h"
#include "array.h"

namespace Trelis {

class TRELIS_EXPORT wavfile_t {
public:
    // mode 1 reads, mode 2 writes; channels and sampleRate matter only for writing.
    wavfile_t(const std::string& path, int mode, unsigned int channels, unsigned int sampleRate);
    ~wavfile_t();

    wavfile_t(const wavfile_t&) = delete;
    wavfile_t& operator=(const wavfile_t&) = delete;

    // Fills all out.size() elements from the current position.
    bool read_mono(array<float>& out);
    // Fills the first numSamples elements; numSamples must not exceed out.size().
    bool read_mono(array<float>& out, int numSamples);

    std::uint32_t numChannels;
    std::uint32_t numFrames;  // sample frames in the data chunk; 0 when writing
    std::uint32_t sampleRate;
    std::fstream stream;
    std::int32_t mode;  // 0 nothing opened, 1 reading, 2 writing
    std::int32_t bitsPerSample;
    std::streampos dataStart;  // position of the first sample byte

private:
    void openForReading(const std::string& path);
    void openForWriting(const std::string& path);
    void readSamples(float* out, int count);
};

}  // namespace Trelis
