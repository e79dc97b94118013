// The media module's MediaComponent: MediaDecoder, MediaInput and DriftResampler behind the
// interface the program loads.
#include <memory>
#include <string>
#include <vector>

#include "DriftResampler.h"
#include "MediaComponent.h"
#include "MediaDecoder.h"
#include "MediaInput.h"

namespace Trelis {

namespace {

class DecoderSound final : public MediaSound {
public:
    DecoderSound(const std::string& path, int sampleRate, bool mono, int stream)
        : decoder_(path, sampleRate, mono, stream) {}
    std::uint64_t numFrames() const override { return decoder_.numFrames(); }
    int sampleRate() const override { return decoder_.sampleRate(); }
    int channels() const override { return decoder_.channels(); }
    const MediaInfo& info() const override { return decoder_.info(); }
    std::size_t read(float* out, std::size_t count) override { return decoder_.read(out, count); }

private:
    MediaDecoder decoder_;
};

class DecoderInput final : public MediaSoundInput {
public:
    DecoderInput(const std::string& path, unsigned int sampleRate, int stream)
        : input_(path, sampleRate, stream) {}
    std::uint64_t getNumSamples() override { return input_.getNumSamples(); }
    bool read(array<float>& block) override { return input_.read(block); }
    bool rewind() override { return input_.rewind(); }
    std::uint64_t missing() const override { return input_.decoder().missing(); }

private:
    MediaInput input_;
};

class Resampler final : public ClockResampler {
public:
    Resampler(int channels, double ppm) : resampler_(channels, ppm) {}
    std::size_t push(const float* in, std::size_t count, std::vector<float>& out) override {
        return resampler_.push(in, count, out);
    }
    std::size_t finish(std::vector<float>& out) override { return resampler_.finish(out); }

private:
    DriftResampler resampler_;
};

class FfmpegComponent final : public MediaComponent {
public:
    std::unique_ptr<MediaSound> openSound(const std::string& path, int sampleRate, bool mono,
                                          int stream) override {
        return std::make_unique<DecoderSound>(path, sampleRate, mono, stream);
    }
    std::unique_ptr<MediaSoundInput> openInput(const std::string& path, unsigned int sampleRate,
                                               int stream) override {
        return std::make_unique<DecoderInput>(path, sampleRate, stream);
    }
    MediaInfo probe(const std::string& path) override { return MediaDecoder::probe(path); }
    std::unique_ptr<ClockResampler> driftResampler(int channels, double ppm) override {
        return std::make_unique<Resampler>(channels, ppm);
    }
};

}  // namespace

}  // namespace Trelis

extern "C" __attribute__((visibility("default"))) Trelis::MediaComponent* trelis_media_component(
    int interfaceVersion) {
    static Trelis::FfmpegComponent component;
    return interfaceVersion == Trelis::kMediaInterfaceVersion ? &component : nullptr;
}
