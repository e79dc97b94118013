// MCLandmarkIndex: turns the fingerprints of a file set into one offset histogram per pair of
// files.
//
// Every landmark is gathered under its hash. A hash held by fewer than two landmarks, by one file
// only, or by more than maxLandmarks landmarks (too common to carry timing) is dropped; for every
// two landmarks of a kept hash in two different files, one vote goes to the difference of their
// start frames. The index holds pointers only and is empty before and after run().
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "sync/PairHistogramMap.h"

namespace Trelis {

class MCFile;
class MCFileSet;
class MCProgress;

class MCLandmarkIndex {
public:
    explicit MCLandmarkIndex(unsigned int maxLandmarksPerHash);

    // Indexes every file, scores every pair, empties the index and returns the histograms (never
    // null; the caller owns them). Progress, when observed, restarts from 0 for each phase.
    PairHistogramMap* run(MCFileSet* files, MCProgress* progress);
    // Adds every landmark of every file, in increasing id; nothing at all for a null set.
    void buildIndex(MCFileSet* files, MCProgress* progress);
    // Adds every landmark of one file, by increasing frame and order of addition.
    void indexFile(MCFile* file);
    // Makes the histograms from the index (see the class comment).
    PairHistogramMap* scorePairs(MCProgress* progress);

    std::map<std::uint32_t, std::vector<Landmark*>> entries;
    std::uint32_t maxLandmarks;
};

}  // namespace Trelis
