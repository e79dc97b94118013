// FingerprintSource: the recordings of fingerprints, by file id, as the library's
// MCRecordingSource, at one sample rate (resampled from the caller's arrays when needed).
//
// Opening and closing may come from several threads at once: opening only reads the
// fingerprints, and each input is independent.
#pragma once

#include <map>
#include <string>

#include "Fingerprint.h"
#include "MCRecordingSource.h"

namespace TrelisPython {

class FingerprintSource final : public Trelis::MCRecordingSource {
public:
    // The fingerprints must outlive the source.
    FingerprintSource(std::map<int, const Fingerprint*> byId, unsigned int rate)
        : byId_(std::move(byId)), rate_(rate) {}

    Trelis::MCInput* open(int fileId, std::string& error) override;
    void close(Trelis::MCInput* input) override;

private:
    std::map<int, const Fingerprint*> byId_;
    unsigned int rate_;
};

}  // namespace TrelisPython
