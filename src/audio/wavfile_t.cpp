#include "wavfile_t.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Trelis {

namespace {

// A frame holds at most 16 samples of at most 4 bytes.
constexpr std::uint32_t kMaxChannels = 16;
constexpr std::size_t kFrameBufferBytes = 64;
// Samples are read in blocks of this many bytes; large enough that the stream call per block
// costs nothing next to the conversion, small enough for the stack.
constexpr std::size_t kBlockBytes = 32768;

const char* const kNoRiff = "wavfile_t::wavfile_t() : File doesn't start with 'RIFF'";
const char* const kNoWave = "wavfile_t::wavfile_t() : File doesn't have 'WAVE' id";
const char* const kNoFmt = "wavfile_t::wavfile_t() : Could not locate 'fmt ' chunk";
const char* const kNoData = "wavfile_t::wavfile_t() : Could not locate 'data' chunk";
const char* const kBadFormat =
    "wavfile_t::wavfile_t() : WAVE file isn't PCM MCFloat,"
    "16-bit or 8-bit, can't read that format";

// Reads n little-endian bytes; bytes the stream no longer holds read as 0.
std::uint32_t readLE(std::fstream& stream, int n) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    stream.read(reinterpret_cast<char*>(bytes), n);
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// True when the next four bytes are exactly `id`.
bool readId(std::fstream& stream, const char* id) {
    char bytes[4] = {0, 0, 0, 0};
    stream.read(bytes, 4);
    return stream.gcount() == 4 && std::memcmp(bytes, id, 4) == 0;
}

void writeLE(std::fstream& stream, std::uint32_t value, int n) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF),
                           static_cast<char>((value >> 24) & 0xFF)};
    stream.write(bytes, n);
}

// Walks chunks by their sizes (no pad byte after odd sizes) until the one named `id`; throws
// `error` once the stream fails or ends first.
void findChunk(std::fstream& stream, const char* id, const char* error) {
    if (!stream.good()) {
        throw std::runtime_error(error);
    }
    for (;;) {
        char bytes[4] = {0, 0, 0, 0};
        stream.read(bytes, 4);
        if (stream.gcount() != 4) {
            throw std::runtime_error(error);
        }
        if (std::memcmp(bytes, id, 4) == 0) {
            return;
        }
        const std::uint32_t size = readLE(stream, 4);
        stream.seekg(static_cast<std::streamoff>(size), std::ios::cur);
        if (!stream.good()) {
            throw std::runtime_error(error);
        }
    }
}

// First channel of one frame, as a float of full scale +-1.0.
inline float sample8(const unsigned char* p) {
    return static_cast<float>(static_cast<int>(p[0]) - 128) * 0.0078125f;
}
inline float sample16(const unsigned char* p) {
    const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    return static_cast<float>(value) * 3.0517578125e-05f;
}
inline float sample32(const unsigned char* p) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

float firstSample(const unsigned char* frame, int bits) {
    switch (bits) {
        case 8:
            return sample8(frame);
        case 16:
            return sample16(frame);
        default:
            return sample32(frame);
    }
}

// Converts `count` whole frames of `stride` bytes. The stride is a template constant for mono and
// stereo so that those loops vectorise.
template <float (*Sample)(const unsigned char*), std::size_t Stride>
void convertFixed(const unsigned char* in, std::size_t count, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = Sample(in + i * Stride);
    }
}

template <float (*Sample)(const unsigned char*)>
void convertStrided(const unsigned char* in, std::size_t count, std::size_t stride, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = Sample(in + i * stride);
    }
}

template <float (*Sample)(const unsigned char*), std::size_t Width>
void convertWidth(const unsigned char* in, std::size_t count, std::size_t stride, float* out) {
    if (stride == Width) {
        convertFixed<Sample, Width>(in, count, out);
    } else if (stride == 2 * Width) {
        convertFixed<Sample, 2 * Width>(in, count, out);
    } else {
        convertStrided<Sample>(in, count, stride, out);
    }
}

void convertFrames(const unsigned char* in, std::size_t count, std::size_t stride, int bits,
                   float* out) {
    switch (bits) {
        case 8:
            convertWidth<sample8, 1>(in, count, stride, out);
            break;
        case 16:
            convertWidth<sample16, 2>(in, count, stride, out);
            break;
        default:
            convertWidth<sample32, 4>(in, count, stride, out);
            break;
    }
}

}  // namespace

wavfile_t::wavfile_t(const std::string& path, int openMode, unsigned int channels,
                     unsigned int rate)
    : numChannels(channels),
      numFrames(0),
      sampleRate(rate),
      mode(0),
      bitsPerSample(0),
      dataStart(0) {
    if (openMode == 1) {
        openForReading(path);
    } else if (openMode == 2) {
        openForWriting(path);
    }
}

void wavfile_t::openForReading(const std::string& path) {
    stream.open(path, std::ios::in | std::ios::binary);
    stream.seekg(0, std::ios::beg);
    if (!readId(stream, "RIFF")) {
        throw std::runtime_error(kNoRiff);
    }
    stream.seekg(4, std::ios::cur);
    if (!readId(stream, "WAVE")) {
        throw std::runtime_error(kNoWave);
    }

    findChunk(stream, "fmt ", kNoFmt);
    const std::uint32_t formatSize = readLE(stream, 4);
    const auto formatTag = static_cast<std::int16_t>(readLE(stream, 2));
    numChannels = static_cast<std::uint32_t>(static_cast<std::int16_t>(readLE(stream, 2)));
    sampleRate = readLE(stream, 4);
    readLE(stream, 4);               // byte rate, not used
    stream.seekg(2, std::ios::cur);  // block align, not used
    bitsPerSample = static_cast<std::int16_t>(readLE(stream, 2));

    const bool knownWidth = bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 32;
    if (formatTag > 1 && !knownWidth) {
        throw std::runtime_error(kBadFormat);
    }
    if (numChannels == 0 || numChannels > kMaxChannels || bitsPerSample < 8) {
        throw std::runtime_error(kBadFormat);
    }

    // A format chunk below 16 bytes wraps this skip past the end; the data search then fails.
    stream.seekg(static_cast<std::streamoff>(formatSize - 16u), std::ios::cur);
    findChunk(stream, "data", kNoData);
    numFrames = readLE(stream, 4);
    numFrames = numFrames / static_cast<std::uint32_t>(bitsPerSample / 8) / numChannels;
    mode = 1;
    if (!stream.good()) {
        // The file ends inside the data size: it holds no samples. Keep the stream usable so that
        // the data start is a real position and rewinding works.
        stream.clear();
        stream.seekg(0, std::ios::end);
    }
    dataStart = stream.tellg();
}

void wavfile_t::openForWriting(const std::string& path) {
    stream.open(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    bitsPerSample = 16;
    stream.write("RIFF", 4);
    writeLE(stream, 0, 4);
    stream.write("WAVEfmt ", 8);
    writeLE(stream, 16, 4);
    writeLE(stream, 1, 2);
    writeLE(stream, numChannels & 0xFFFF, 2);
    writeLE(stream, sampleRate, 4);
    writeLE(stream, sampleRate * numChannels * 2, 4);
    writeLE(stream, numChannels * 2, 2);
    writeLE(stream, 16, 2);
    stream.write("data", 4);
    writeLE(stream, 0, 4);
    dataStart = stream.tellp();
    mode = 2;
}

wavfile_t::~wavfile_t() {
    if (mode == 2 && stream.is_open()) {
        stream.clear();
        stream.seekp(0, std::ios::end);
        const auto length = static_cast<std::uint32_t>(static_cast<std::streamoff>(stream.tellp()));
        stream.seekp(4, std::ios::beg);
        writeLE(stream, length - 8, 4);
        stream.seekp(40, std::ios::beg);
        writeLE(stream, length - 44, 4);
    }
    stream.close();
}

bool wavfile_t::read_mono(array<float>& out) {
    if (mode == 2) {
        throw std::runtime_error("wavfile_t::read_mono(): Can't read from a write file");
    }
    readSamples(out.data, out.size());
    return true;
}

bool wavfile_t::read_mono(array<float>& out, int numSamples) {
    if (mode == 2) {
        throw std::runtime_error("wavfile_t::read_mono(): Can't read from a write file");
    }
    if (numSamples > out.size()) {
        throw std::runtime_error("wavfile_t::read_mono(): input array is too small for numSamples");
    }
    readSamples(out.data, numSamples);
    return true;
}

// Gives, block by block, exactly what reading one frame at a time gives: each frame is read into
// a zeroed 16-sample frame buffer, its first sample is stored, and reading stops after the element
// whose read met the end of the stream. A short read leaves the earlier bytes of the frame buffer
// in place, so that element is built from the partial frame over the last whole frame.
void wavfile_t::readSamples(float* out, int count) {
    const int bits = bitsPerSample;
    if (bits != 8 && bits != 16 && bits != 32) {
        return;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(numChannels) * (bits / 8);
    const std::size_t framesPerBlock = kBlockBytes / frameBytes;
    unsigned char frame[kFrameBufferBytes] = {};
    alignas(64) unsigned char block[kBlockBytes];

    int i = 0;
    while (i < count) {
        const std::size_t wanted =
            std::min(static_cast<std::size_t>(count - i), framesPerBlock) * frameBytes;
        stream.read(reinterpret_cast<char*>(block), static_cast<std::streamsize>(wanted));
        const auto got = static_cast<std::size_t>(stream.gcount());
        const std::size_t whole = got / frameBytes;
        convertFrames(block, whole, frameBytes, bits, out + i);
        i += static_cast<int>(whole);
        if (whole > 0) {
            std::memcpy(frame, block + (whole - 1) * frameBytes, frameBytes);
        }
        if (got == wanted) {
            continue;
        }
        std::memcpy(frame, block + whole * frameBytes, got - whole * frameBytes);
        const float last = firstSample(frame, bits);
        if (stream.eof()) {
            out[i] = last;
            return;
        }
        // A stream that had already failed short of its end reads nothing more and never meets
        // the end: every remaining element gets the frame buffer's sample.
        std::fill(out + i, out + count, last);
        return;
    }
}

}  // namespace Trelis
