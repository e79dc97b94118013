// WaveReader: a WAVE file read as it is, every channel interleaved, from any frame: what copying
// or resampling a recording needs (wavfile_t gives the first channel as the extractor hears it).
//
// The header is read as wavfile_t reads it, with the same refusals. Samples of 8, 16, 24 and
// 32 bits are converted: 24-bit ones keep their upper 16 bits as PCM and every bit as floats;
// 32-bit ones are IEEE floats (not-a-number and infinities read as 0); other widths read as 0.
// A file that ends before its data size says ends there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TrelisExport.h"
#include "wavfile_t.h"

namespace Trelis {

class TRELIS_EXPORT WaveReader {
public:
    // Throws std::runtime_error with the reader's message when the file can't be read.
    explicit WaveReader(const std::string& path);

    std::uint32_t channels() const { return file_.numChannels; }
    std::uint32_t sampleRate() const { return file_.sampleRate; }
    std::uint32_t frames() const { return file_.numFrames; }  // as the data size states
    int bitsPerSample() const { return file_.bitsPerSample; }

    // Moves to `frame` (at most frames()); false when the file can't be positioned.
    bool seek(std::uint32_t frame);
    // Up to `count` frames from the current one into `out` (count * channels() values); returns
    // how many were read, 0 at the end.
    std::size_t readPcm16(std::int16_t* out, std::size_t count);
    std::size_t readFloat(float* out, std::size_t count);

    // A float sample of full scale +-1.0 as 16-bit PCM, rounded and clipped; not-a-number is 0.
    static std::int16_t toPcm16(float value);

private:
    // Reads up to `count` frames' bytes into bytes_; returns the whole frames read.
    std::size_t readBytes(std::size_t count);

    wavfile_t file_;
    std::uint32_t left_;  // frames the data size still holds
    std::vector<unsigned char> bytes_;
};

}  // namespace Trelis
