#include "RecordingSource.h"

#include <memory>
#include <stdexcept>

#include "WavInput.h"
#include "extract/PathNames.h"
#include "wavfile_t.h"
#if TRELIS_WITH_MEDIA
#include "MediaLoader.h"
#endif

namespace Trelis {

namespace {

template <typename Input>
void destroy(MCInput* input) {
    delete static_cast<Input*>(input);
}

}  // namespace

RecordingSource::~RecordingSource() {
    for (const auto& [input, deleter] : open_) {
        deleter(input);
    }
}

MCInput* RecordingSource::open(int fileId, std::string& error) {
    const auto path = paths_.find(fileId);
    if (path == paths_.end()) {
        error = "no recording with id " + std::to_string(fileId);
        return nullptr;
    }
    try {
        if (!decodeAll_) {
            auto wave = std::make_unique<WavInput>(path->second);
            if (wave->reader->sampleRate == sampleRate_) {
                const std::lock_guard<std::mutex> guard(lock_);
                open_[wave.get()] = destroy<WavInput>;
                return wave.release();
            }
        }
#if TRELIS_WITH_MEDIA
        auto media = mediaComponent().openInput(path->second, sampleRate_, stream_);
        const std::lock_guard<std::mutex> guard(lock_);
        open_[media.get()] = destroy<MediaSoundInput>;
        return media.release();
#else
        error = "not a WAVE file at " + std::to_string(sampleRate_) +
                " Hz, and this build has no media decoder";
#endif
    } catch (const std::exception& e) {
        error = e.what();
    }
    return nullptr;
}

void RecordingSource::close(MCInput* input) {
    void (*deleter)(MCInput*) = nullptr;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const auto found = open_.find(input);
        if (found == open_.end()) {
            return;
        }
        deleter = found->second;
        open_.erase(found);
    }
    deleter(input);
}

RecordingInfo RecordingSource::describe(const std::string& path, [[maybe_unused]] int stream) {
    RecordingInfo info;
    if (isWavePath(path)) {
        try {
            const wavfile_t wave(path, 1, 1, 16000);
            info.frames = wave.numFrames;
            info.sampleRate = static_cast<int>(wave.sampleRate);
            info.channels = static_cast<int>(wave.numChannels);
            info.bitDepth = wave.bitsPerSample;
            return info;
        } catch (const std::exception&) {
#if !TRELIS_WITH_MEDIA
            throw;
#endif
        }
    }
#if TRELIS_WITH_MEDIA
    const auto decoder = mediaComponent().openSound(path, 0, false, stream);
    info.frames = static_cast<long long>(decoder->numFrames());
    info.sampleRate = decoder->sampleRate();
    info.channels = decoder->channels();
    info.hasVideo = decoder->info().hasVideo;
    info.frameRateNum = decoder->info().frameRateNum;
    info.frameRateDen = decoder->info().frameRateDen;
    info.width = decoder->info().width;
    info.height = decoder->info().height;
    info.audioStream = decoder->info().audioStream;
    info.audioStreams = decoder->info().audioStreams;
    info.bitDepth = decoder->info().bitDepth;
    info.videoSeconds = decoder->info().videoSeconds;
    return info;
#else
    throw std::runtime_error("not a WAVE file, and this build has no media decoder");
#endif
}

}  // namespace Trelis
