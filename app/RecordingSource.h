// RecordingSource: the run's recordings, opened by file id for the alignment, at the alignment's
// sample rate. A WAVE file at that rate is read directly, first channel, as the extractor reads
// it; any other file, or every file when `decodeAll` is set, goes through the media decoder
// (every channel mixed, resampled), when the application was built with it.
#pragma once

#include <map>
#include <string>

#include "MCRecordingSource.h"
#include "RunReport.h"

namespace Trelis {

class RecordingSource : public MCRecordingSource {
public:
    RecordingSource(std::map<int, std::string> paths, unsigned int sampleRate, bool decodeAll)
        : paths_(std::move(paths)), sampleRate_(sampleRate), decodeAll_(decodeAll) {}
    ~RecordingSource();
    RecordingSource(const RecordingSource&) = delete;
    RecordingSource& operator=(const RecordingSource&) = delete;

    MCInput* open(int fileId, std::string& error) override;
    void close(MCInput* input) override;

    // Length, rate, channels and video of the recording at its own rate; throws with the reason.
    static RecordingInfo describe(const std::string& path);

private:
    std::map<int, std::string> paths_;
    unsigned int sampleRate_;
    bool decodeAll_;
    std::map<MCInput*, void (*)(MCInput*)> open_;  // with the deleter of each one's own type
};

}  // namespace Trelis
