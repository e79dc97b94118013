// MCMatchStats: what one pair of files' offset histogram says, and the test that accepts the pair
// as two recordings of one event.
//
// All times are STFT frames. The winning bin is the one with the most votes (the largest offset
// among equals); the region of overlap is where both files have landmarks under that offset; the
// template is the time extent of the file-1 landmarks that voted for it; the mean and spread are
// of the vote counts per frame of overlap. Float arithmetic throughout: divisions by a zero count
// or overlap give infinities or NaNs, which the acceptance test's strict comparisons let pass.
#pragma once

#include "OffsetHistogram.h"

namespace Trelis {

struct MCMatchStats {
    explicit MCMatchStats(OffsetHistogram* pairHistogram) : histogram(pairHistogram) {}

    int id1 = 0;                  // the lower id (F1)
    int id2 = 0;                  // the higher id (F2)
    float matchCount = 0.0f;      // votes in the winning bin
    float overlapLength = 0.0f;   // frames; negative when the files do not overlap
    float percentMatchF1 = 0.0f;  // matchCount / overlapLandmarksF1, a fraction
    float percentMatchF2 = 0.0f;  // matchCount / overlapLandmarksF2
    float overlapLandmarksF1 = 0.0f;
    float overlapLandmarksF2 = 0.0f;
    float templateLength = 0.0f;  // frames from the earliest to the latest voting landmark
    float histMean = 0.0f;        // votes per frame of overlap
    float histStd = 0.0f;         // never below sqrt(0.1)
    bool accepted = false;
    float offset = 0.0f;  // winning offset: start frame in file 1 minus start frame in file 2
    OffsetHistogram* histogram;  // not owned; valid only while the histograms live
};

}  // namespace Trelis
