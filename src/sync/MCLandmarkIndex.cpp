#include "sync/MCLandmarkIndex.h"

#include <memory>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"

namespace Trelis {

namespace {

// A landmark without an owning file counts as file 0.
int fileIdOf(const Landmark* landmark) {
    return landmark->file != nullptr ? landmark->file->getId() : 0;
}

// a - b in wrapping 32-bit arithmetic: landmark times are the caller's and may be anything.
std::int32_t frameDifference(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

}  // namespace

MCLandmarkIndex::MCLandmarkIndex(unsigned int maxLandmarksPerHash)
    : maxLandmarks(maxLandmarksPerHash) {}

PairHistogramMap* MCLandmarkIndex::run(MCFileSet* files, MCProgress* progress) {
    entries.clear();
    buildIndex(files, progress);
    PairHistogramMap* result = scorePairs(progress);
    entries.clear();
    return result;
}

void MCLandmarkIndex::buildIndex(MCFileSet* files, MCProgress* progress) {
    if (files == nullptr) {
        return;
    }
    if (progress != nullptr) {
        progress->setProgress(0.0f);
    }
    const auto total = static_cast<float>(files->getFiles().size());
    int visited = 0;
    for (auto& entry : files->getFiles()) {
        indexFile(entry.second);
        ++visited;
        if (progress != nullptr) {
            progress->setProgress(static_cast<float>(visited) / total);
        }
    }
}

void MCLandmarkIndex::indexFile(MCFile* file) {
    if (file == nullptr) {
        return;
    }
    for (const auto& frame : file->landmarks) {
        for (Landmark* landmark : frame.second) {
            entries[landmark->hash].push_back(landmark);
        }
    }
}

PairHistogramMap* MCLandmarkIndex::scorePairs(MCProgress* progress) {
    if (progress != nullptr) {
        progress->setProgress(0.0f);
    }
    // Until it is returned, the map and its histograms are released on any exception.
    std::unique_ptr<PairHistogramMap, void (*)(PairHistogramMap*)> result(new PairHistogramMap(),
                                                                          deletePairHistograms);
    for (auto it = entries.begin(); it != entries.end();) {
        it = it->second.size() < 2 ? entries.erase(it) : std::next(it);
    }

    const std::size_t total = entries.size();
    std::size_t done = 0;
    int lastPercent = 0;
    std::map<int, std::vector<Landmark*>> byFile;
    for (auto it = entries.begin(); it != entries.end();) {
        ++done;
        if (progress != nullptr) {
            // At most one report per whole percent.
            const int percent =
                static_cast<int>(static_cast<float>(done) * 100.0f / static_cast<float>(total));
            if (percent > lastPercent) {
                progress->setProgress(static_cast<float>(percent) / 100.0f);
                lastPercent = percent;
            }
        }
        const std::vector<Landmark*>& holders = it->second;
        if (holders.size() > maxLandmarks) {
            it = entries.erase(it);
            continue;
        }
        byFile.clear();
        for (Landmark* landmark : holders) {
            byFile[fileIdOf(landmark)].push_back(landmark);
        }
        if (byFile.size() < 2) {
            it = entries.erase(it);
            continue;
        }
        for (auto a = byFile.begin(); a != byFile.end(); ++a) {
            for (auto b = std::next(a); b != byFile.end(); ++b) {
                OffsetHistogram*& histogram = (*result)[{a->first, b->first}];
                if (histogram == nullptr) {
                    histogram = new OffsetHistogram();
                }
                for (Landmark* la : a->second) {
                    for (const Landmark* lb : b->second) {
                        (*histogram)[frameDifference(la->time, lb->time)].push_back(la);
                    }
                }
            }
        }
        ++it;
    }
    return result.release();
}

}  // namespace Trelis
