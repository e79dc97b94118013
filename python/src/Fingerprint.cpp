#include "Fingerprint.h"

#include "Landmark.h"

namespace TrelisPython {

Fingerprint::Fingerprint(std::unique_ptr<Trelis::MCFile> file,
                         const Trelis::MCExtractParams& params, MonoAudio original,
                         MonoAudio extracted, std::string name)
    : file_(std::move(file)),
      params_(params),
      original_(std::move(original)),
      extracted_(std::move(extracted)),
      name_(std::move(name)) {}

double Fingerprint::duration() const {
    return static_cast<double>(original_.count()) / original_.rate();
}

std::uint64_t Fingerprint::landmarkCount() const {
    std::uint64_t count = 0;
    for (const auto& [frame, list] : file_->landmarks) {
        count += list.size();
    }
    return count;
}

pybind11::array_t<LandmarkRecord> Fingerprint::landmarks() const {
    // Registered at the first use (under the GIL) rather than at import: importing numpy costs a
    // run over files, which needs none, a tenth of a second.
    static const bool registered = [] {
        PYBIND11_NUMPY_DTYPE(LandmarkRecord, time, file, hash);
        return true;
    }();
    (void)registered;
    pybind11::array_t<LandmarkRecord> out(static_cast<pybind11::ssize_t>(landmarkCount()));
    LandmarkRecord* record = out.mutable_data();
    for (const auto& [frame, list] : file_->landmarks) {
        for (const Trelis::Landmark* landmark : list) {
            *record++ = {landmark->time, file_->getId(), landmark->hash};
        }
    }
    return out;
}

std::unique_ptr<Trelis::MCFile> Fingerprint::copyAs(int id) const {
    auto copy = std::make_unique<Trelis::MCFile>(id);
    for (const auto& [frame, list] : file_->landmarks) {
        for (const Trelis::Landmark* landmark : list) {
            auto owned = std::make_unique<Trelis::Landmark>(
                Trelis::Landmark{landmark->time, copy.get(), landmark->hash});
            copy->addLandmark(owned.get());
            owned.release();  // the copy owns it now
        }
    }
    return copy;
}

MonoAudio Fingerprint::audioAt(unsigned int rate) const {
    return rate == extracted_.rate() ? extracted_ : original_.at(rate);
}

}  // namespace TrelisPython
