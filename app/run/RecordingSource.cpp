#include "run/RecordingSource.h"

#include <memory>
#include <stdexcept>

#include "PathNames.h"
#include "WavInput.h"
#include "WaveReader.h"
#include "media/MediaLoader.h"

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
        auto media = mediaComponent().openInput(path->second, sampleRate_, stream_);
        const std::lock_guard<std::mutex> guard(lock_);
        open_[media.get()] = destroy<MediaSoundInput>;
        return media.release();
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

RecordingInfo RecordingSource::describe(const std::string& path, int stream) {
    RecordingInfo info;
    if (isWavePath(path)) {
        try {
            const WaveReader wave(path);
            info.frames = wave.frames();
            info.sampleRate = static_cast<int>(wave.sampleRate());
            info.channels = static_cast<int>(wave.channels());
            info.bitDepth = wave.bitsPerSample();
            return info;
        } catch (const std::exception&) {
            // Without a decoder to try next, the WAVE reader's reason is the one to give.
            if (!mediaDecoderBuilt()) {
                throw;
            }
        }
    }
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
}

}  // namespace Trelis
