#include "MCFile.h"

#include <cstdint>
#include <iostream>
#include <limits>

#include "Landmark.h"
#include "store/LandmarkSlabs.h"

namespace Trelis {

MCFile::MCFile(int fileId)
    : id(fileId),
      lastFrame(std::numeric_limits<int>::min()),
      firstFrame(std::numeric_limits<int>::max()),
      clfDirty(true) {}

MCFile::~MCFile() {
    for (auto& entry : landmarks) {
        LandmarkSlabs::releaseLandmarks(entry.second.data(), entry.second.size());
        entry.second.clear();
    }
    landmarks.clear();
}

void MCFile::addLandmark(Landmark* landmark) {
    if (landmark == nullptr) {
        return;
    }
    clfDirty = true;
    const int frame = landmark->time;
    landmarks[frame].push_back(landmark);
    if (frame >= lastFrame) {
        lastFrame = frame;
    }
    if (frame < firstFrame) {
        firstFrame = frame;
    }
}

void MCFile::computeCLF() {
    if (!clfDirty) {
        return;
    }
    if (firstFrame > lastFrame) {
        clfDirty = false;
        return;
    }
    // One ordered walk of both maps: each frame's landmark entry (created empty where missing)
    // and its CLF entry are reached through a hint at the position the last step left.
    auto entry = landmarks.lower_bound(firstFrame);
    auto hint = clf.lower_bound(firstFrame);
    int total = 0;
    for (std::int64_t f = firstFrame; f <= lastFrame; ++f) {
        const int frame = static_cast<int>(f);
        if (entry == landmarks.end() || entry->first != frame) {
            entry = landmarks.emplace_hint(entry, frame, std::vector<Landmark*>());
        }
        total += static_cast<int>(entry->second.size());
        ++entry;
        hint = clf.insert_or_assign(hint, frame, total);
        ++hint;
    }
    clfDirty = false;
}

void MCFile::setLandmarkCounts(int first, const std::vector<int>& cumulative) {
    clf.clear();
    if (cumulative.empty()) {
        firstFrame = std::numeric_limits<int>::max();
        lastFrame = std::numeric_limits<int>::min();
    } else {
        firstFrame = first;
        lastFrame = static_cast<int>(static_cast<std::int64_t>(first) +
                                     static_cast<std::int64_t>(cumulative.size()) - 1);
        auto hint = clf.end();
        for (std::size_t k = 0; k < cumulative.size(); ++k) {
            hint = clf.emplace_hint(hint, first + static_cast<int>(k), cumulative[k]);
            ++hint;
        }
    }
    clfDirty = false;
}

int MCFile::countLandmarks(int fromFrame, int toFrame) {
    if (clfDirty) {
        return -1;
    }
    // fromFrame - 1 in wrapping 32-bit arithmetic.
    const int before = static_cast<int>(static_cast<std::uint32_t>(fromFrame) - 1u);
    if (toFrame < before || toFrame < firstFrame || before > lastFrame) {
        return 0;
    }
    const int hi = clf[toFrame < lastFrame ? toFrame : lastFrame];
    const int lo = before >= firstFrame ? clf[before] : 0;
    const int count = hi - lo;
    return count < 0 ? 0 : count;
}

void MCFile::print() const {
    int printed = 0;
    for (const auto& entry : landmarks) {
        if (printed == 10) {
            std::cout << "STOPPING PRINT: more than 10 entries" << std::endl;
            return;
        }
        std::cout << "Time Frame:" << entry.first << " Number of Landmarks:" << entry.second.size()
                  << std::endl;
        ++printed;
    }
}

}  // namespace Trelis
