// MediaComponent: what the program asks of FFmpeg (decoding, probing, drift resampling), as an
// interface. Its one implementation lives in the media module (libtrelis_media.so), which alone
// links FFmpeg; the program loads it when a run first needs it (app/MediaLoader.h), so a run that
// reads WAVE files only never maps FFmpeg's libraries. Only virtual calls, the standard library's
// exceptions and the types below cross between the two: a module from another build is refused
// by its interface version rather than trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MCInput.h"
#include "MediaInfo.h"

namespace Trelis {

// A media file's sound, as MediaDecoder gives it.
class MediaSound {
public:
    virtual ~MediaSound() = default;
    virtual std::uint64_t numFrames() const = 0;
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
    virtual const MediaInfo& info() const = 0;
    // As MediaDecoder::read.
    virtual std::size_t read(float* out, std::size_t count) = 0;
};

// A media file's sound as the extractor's source, as MediaInput gives it. Destroyed through this
// type.
class MediaSoundInput : public MCInput {
public:
    virtual ~MediaSoundInput() = default;
    // As MediaDecoder::missing.
    virtual std::uint64_t missing() const = 0;
};

// Audio moved from a recorder's clock onto a reference clock, as DriftResampler does it.
class ClockResampler {
public:
    virtual ~ClockResampler() = default;
    virtual std::size_t push(const float* in, std::size_t count, std::vector<float>& out) = 0;
    virtual std::size_t finish(std::vector<float>& out) = 0;
};

class MediaComponent {
public:
    virtual ~MediaComponent() = default;
    // Each throws as the class it stands for: std::runtime_error with the reason, and
    // std::invalid_argument for a drift the resampler refuses.
    virtual std::unique_ptr<MediaSound> openSound(const std::string& path, int sampleRate,
                                                  bool mono, int stream) = 0;
    virtual std::unique_ptr<MediaSoundInput> openInput(const std::string& path,
                                                       unsigned int sampleRate, int stream) = 0;
    virtual MediaInfo probe(const std::string& path) = 0;
    virtual std::unique_ptr<ClockResampler> driftResampler(int channels, double ppm) = 0;
};

// Raised whenever the classes above change, so that a module and a program that disagree on them
// never meet.
constexpr int kMediaInterfaceVersion = 1;

}  // namespace Trelis

// The module's one exported symbol: its component, which lives as long as the process, or null
// when the caller was built for another interface version.
using TrelisMediaComponentFn = Trelis::MediaComponent* (*)(int interfaceVersion);
#define TRELIS_MEDIA_COMPONENT_SYMBOL "trelis_media_component"
