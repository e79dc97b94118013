#include "RecordingReader.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "array.h"
#include "extract/PathNames.h"
#include "wavfile_t.h"
#if TRELIS_WITH_MEDIA
#include "MediaDecoder.h"
#endif

namespace Trelis {

RecordingReader::RecordingReader(const std::string& path, unsigned int sampleRate, bool decodeAll) {
    if (!decodeAll) {
        auto wave = std::make_unique<wavfile_t>(path, 1, 1, 16000);
        if (wave->sampleRate == sampleRate) {
            frames_ = wave->numFrames;
            wave_ = wave.release();
            return;
        }
    }
#if TRELIS_WITH_MEDIA
    media_ = new MediaDecoder(path, static_cast<int>(sampleRate), true);
    frames_ = static_cast<long long>(media_->numFrames());
#else
    throw std::runtime_error("not a WAVE file at " + std::to_string(sampleRate) +
                             " Hz, and this build has no media decoder");
#endif
}

RecordingInfo RecordingReader::describe(const std::string& path) {
    RecordingInfo info;
    if (isWavePath(path)) {
        try {
            const wavfile_t wave(path, 1, 1, 16000);
            info.frames = wave.numFrames;
            info.sampleRate = static_cast<int>(wave.sampleRate);
            info.channels = static_cast<int>(wave.numChannels);
            return info;
        } catch (const std::exception&) {
#if !TRELIS_WITH_MEDIA
            throw;
#endif
        }
    }
#if TRELIS_WITH_MEDIA
    const MediaDecoder decoder(path, 0, false);
    info.frames = static_cast<long long>(decoder.numFrames());
    info.sampleRate = decoder.sampleRate();
    info.channels = decoder.channels();
    info.hasVideo = decoder.info().hasVideo;
    info.frameRateNum = decoder.info().frameRateNum;
    info.frameRateDen = decoder.info().frameRateDen;
    info.width = decoder.info().width;
    info.height = decoder.info().height;
    return info;
#else
    throw std::runtime_error("not a WAVE file, and this build has no media decoder");
#endif
}

RecordingReader::~RecordingReader() {
    delete wave_;
#if TRELIS_WITH_MEDIA
    delete media_;
#endif
}

std::vector<float> RecordingReader::window(long long start, long long count) {
    std::vector<float> out(static_cast<std::size_t>(count), 0.0f);
    const long long first = std::max(0LL, start);
    const long long last = std::min(start + count, frames_);
    if (last <= first) {
        return out;
    }
    float* into = out.data() + (first - start);
    if (wave_ != nullptr) {
        const long long frameBytes =
            static_cast<long long>(wave_->numChannels) * (wave_->bitsPerSample / 8);
        wave_->stream.clear();
        wave_->stream.seekg(wave_->dataStart + static_cast<std::streamoff>(first * frameBytes));
        array<float> block(static_cast<std::uint32_t>(last - first));
        block.fill(0.0f);
        wave_->read_mono(block);
        std::copy(block.data, block.data + block.size(), into);
    }
#if TRELIS_WITH_MEDIA
    if (media_ != nullptr) {
        media_->seek(static_cast<std::uint64_t>(first));
        media_->read(into, static_cast<std::size_t>(last - first));
    }
#endif
    return out;
}

}  // namespace Trelis
