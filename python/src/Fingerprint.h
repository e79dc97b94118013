// Fingerprint: one recording's landmarks (an MCFile), the settings that made them, and the
// recording itself, kept for the steps that read the audio again (verified matching, alignment).
//
// The recording is the caller's array, referenced rather than copied when it could be read in
// place (changing the array afterwards changes what those steps read), and the mono samples at
// the extraction rate when they had to be made. Immutable once made; shared by Python references.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <memory>
#include <string>

#include "MCExtractParams.h"
#include "MCFile.h"
#include "MonoAudio.h"

namespace TrelisPython {

// One landmark as the module gives it: the library's Landmark with its file as the file's id.
struct LandmarkRecord {
    std::int32_t time;  // STFT frame of the anchor peak
    std::int32_t file;  // id of the fingerprint (its `id`)
    std::uint32_t hash;
};

class Fingerprint {
public:
    Fingerprint(std::unique_ptr<Trelis::MCFile> file, const Trelis::MCExtractParams& params,
                MonoAudio original, MonoAudio extracted, std::string name);

    const Trelis::MCFile& file() const { return *file_; }
    const Trelis::MCExtractParams& params() const { return params_; }
    const std::string& name() const { return name_; }
    int id() const { return file_->getId(); }
    double duration() const;  // seconds
    std::uint64_t landmarkCount() const;

    // The landmarks by start frame, then in the order they were found.
    pybind11::array_t<LandmarkRecord> landmarks() const;

    // A copy of the landmarks as a new MCFile of id `id`, for a file set to own.
    std::unique_ptr<Trelis::MCFile> copyAs(int id) const;

    // The recording at `rate` (resampled from the caller's array when it is not at that rate).
    MonoAudio audioAt(unsigned int rate) const;

private:
    std::unique_ptr<Trelis::MCFile> file_;
    Trelis::MCExtractParams params_;
    MonoAudio original_;
    MonoAudio extracted_;
    std::string name_;
};

}  // namespace TrelisPython
