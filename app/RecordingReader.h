// RecordingReader: mono windows of one recording at a chosen sample rate, for the refinement.
// A WAVE file at that rate is read directly, first channel, as the extractor reads it; any other
// file, or every file when `decodeAll` is set, goes through the media decoder (every channel
// mixed, resampled), when the application was built with it.
#pragma once

#include <string>
#include <vector>

#include "RunReport.h"

namespace Trelis {

class MediaDecoder;
class wavfile_t;

class RecordingReader {
public:
    // Throws std::exception with the reason when the recording can't be read at `sampleRate`.
    RecordingReader(const std::string& path, unsigned int sampleRate, bool decodeAll);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Length, rate, channels and video of the recording at its own rate; throws with the reason.
    static RecordingInfo describe(const std::string& path);

    long long numFrames() const { return frames_; }
    // `count` samples from frame `start`; what lies outside the recording reads as 0.
    std::vector<float> window(long long start, long long count);

private:
    wavfile_t* wave_ = nullptr;      // owned
    MediaDecoder* media_ = nullptr;  // owned
    long long frames_ = 0;
};

}  // namespace Trelis
