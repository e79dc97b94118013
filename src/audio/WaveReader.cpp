#include "WaveReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Trelis {

namespace {

float ieeeFloat(const unsigned char* p) {
    const std::uint32_t raw = static_cast<std::uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16) |
                              (static_cast<std::uint32_t>(p[3]) << 24);
    float value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

// One sample of `width` bytes as 16-bit PCM; widths that can't be converted are 0.
std::int16_t pcm16Of(const unsigned char* p, int width, int bits) {
    switch (width) {
        case 1:
            return static_cast<std::int16_t>((p[0] - 128) * 256);
        case 2:
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        case 3:
            return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[1] | (p[2] << 8)));
        case 4:
            return bits == 32 ? WaveReader::toPcm16(ieeeFloat(p)) : 0;
        default:
            return 0;
    }
}

// One sample as a float of full scale +-1.0, by the rules of pcm16Of but with every bit of
// 24-bit and float samples.
float floatOf(const unsigned char* p, int width, int bits) {
    if (width == 3) {
        const std::uint32_t raw = static_cast<std::uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16);
        const auto value = static_cast<std::int32_t>(raw << 8) / 256;  // sign-extended
        return static_cast<float>(value) / 8388608.0f;
    }
    if (width == 4 && bits == 32) {
        const float value = ieeeFloat(p);
        return std::isfinite(value) ? value : 0.0f;
    }
    return static_cast<float>(pcm16Of(p, width, bits)) / 32768.0f;
}

constexpr std::size_t kBlockFrames = 4096;

}  // namespace

WaveReader::WaveReader(const std::string& path)
    : file_(path, 1, 1, 16000), left_(file_.numFrames) {}

std::int16_t WaveReader::toPcm16(float value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    const double scaled = std::round(static_cast<double>(value) * 32768.0);
    return static_cast<std::int16_t>(std::max(-32768.0, std::min(32767.0, scaled)));
}

bool WaveReader::seek(std::uint32_t frame) {
    frame = std::min(frame, file_.numFrames);
    const auto frameBytes = static_cast<std::streamoff>(file_.numChannels) *
                            static_cast<std::streamoff>(file_.bitsPerSample / 8);
    file_.stream.clear();
    file_.stream.seekg(file_.dataStart + static_cast<std::streamoff>(frame) * frameBytes);
    left_ = file_.numFrames - frame;
    return static_cast<bool>(file_.stream);
}

std::size_t WaveReader::readBytes(std::size_t count) {
    const std::size_t frameBytes =
        static_cast<std::size_t>(file_.numChannels) * (file_.bitsPerSample / 8);
    const std::size_t want = std::min<std::size_t>(count, left_);
    if (want == 0 || frameBytes == 0) {
        return 0;
    }
    bytes_.resize(want * frameBytes);
    file_.stream.read(reinterpret_cast<char*>(bytes_.data()),
                      static_cast<std::streamsize>(want * frameBytes));
    const std::size_t frames = static_cast<std::size_t>(file_.stream.gcount()) / frameBytes;
    left_ = frames < want ? 0 : left_ - static_cast<std::uint32_t>(frames);
    return frames;
}

std::size_t WaveReader::readPcm16(std::int16_t* out, std::size_t count) {
    const int width = file_.bitsPerSample / 8;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t frames = readBytes(std::min(count - done, kBlockFrames));
        const std::size_t values = frames * file_.numChannels;
        std::int16_t* to = out + done * file_.numChannels;
        for (std::size_t s = 0; s < values; ++s) {
            to[s] = pcm16Of(bytes_.data() + s * width, width, file_.bitsPerSample);
        }
        done += frames;
        if (frames == 0) {
            break;
        }
    }
    return done;
}

std::size_t WaveReader::readFloat(float* out, std::size_t count) {
    const int width = file_.bitsPerSample / 8;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t frames = readBytes(std::min(count - done, kBlockFrames));
        const std::size_t values = frames * file_.numChannels;
        float* to = out + done * file_.numChannels;
        for (std::size_t s = 0; s < values; ++s) {
            to[s] = floatOf(bytes_.data() + s * width, width, file_.bitsPerSample);
        }
        done += frames;
        if (frames == 0) {
            break;
        }
    }
    return done;
}

}  // namespace Trelis
