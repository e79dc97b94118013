// RecordingSource: the run's recordings, opened by file id for the alignment, at the alignment's
// sample rate. A WAVE file at that rate is read directly, first channel, as the extractor reads
// it; any other file, or every file when `decodeAll` is set, goes through the media decoder
// (every channel mixed, resampled), when the application was built with it.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "MCRecordingSource.h"
#include "results/RunReport.h"

namespace Trelis {

class RecordingSource : public MCRecordingSource {
public:
    // `stream`: the audio stream the media decoder takes (see MediaDecoder).
    RecordingSource(std::map<int, std::string> paths, unsigned int sampleRate, bool decodeAll,
                    int stream = 0)
        : paths_(std::move(paths)),
          sampleRate_(sampleRate),
          decodeAll_(decodeAll),
          stream_(stream) {}
    ~RecordingSource();
    RecordingSource(const RecordingSource&) = delete;
    RecordingSource& operator=(const RecordingSource&) = delete;

    MCInput* open(int fileId, std::string& error) override;
    void close(MCInput* input) override;

    // Length, rate, channels and video of the recording at its own rate; throws with the reason.
    static RecordingInfo describe(const std::string& path, int stream = 0);

private:
    std::map<int, std::string> paths_;
    unsigned int sampleRate_;
    bool decodeAll_;
    int stream_;
    std::mutex lock_;                              // open and close may come from several threads
    std::map<MCInput*, void (*)(MCInput*)> open_;  // with the deleter of each one's own type
};

}  // namespace Trelis
