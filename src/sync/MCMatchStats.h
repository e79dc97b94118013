// MCMatchStats: what one pair of files' offset histogram says, and the test that accepts the pair
// as two recordings of one event.
//
// All times are STFT frames. The winning bin is the one with the most votes (the largest offset
// among equals); the region of overlap is where both files have landmarks under that offset; the
// template is the time extent of the file-1 landmarks that voted for it; the mean and spread are
// of the vote counts per frame of overlap. Float arithmetic throughout: divisions by a zero count
// or overlap give infinities or NaNs, which the acceptance test's strict comparisons let pass.
#pragma once

#include "sync/OffsetHistogram.h"

namespace Trelis {

class MCFile;
class MCFileSet;

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

// The overlap length of two records under `offset`, and through the out-parameters the landmarks
// of each counted in that region. A null record gives 0 and writes nothing.
float computeOverlap(MCFile* file1, MCFile* file2, float offset, float& landmarksF1,
                     float& landmarksF2);

// Steps shared by every way of making a record: the overlap under the record's offset with the
// landmarks counted in it (records looked up by id1 and id2; a missing one gives no overlap), and
// the fractions of those landmarks that matched.
void computeOverlapAndFractions(MCMatchStats& stats, MCFileSet* fileSet);

// Stores the mean and the spread of the bin counts, the variance raised to at least 0.1 (a NaN
// variance stays NaN).
void setHistogramSpread(MCMatchStats& stats, float mean, float variance);

// The time extent of the landmarks in the bin at `offset`; writes nothing when the bin is absent.
// An empty bin ends the process with status 1 after a message on standard error.
void computeTemplate(int id1, int id2, OffsetHistogram* histogram, int offset,
                     float& templateLength, MCFileSet* fileSet);

// The mean and the variance of the bin counts, both divided by `divisor`; absent bins add
// nothing to the variance. Nothing happens for a null histogram.
void computeHistogramStats(OffsetHistogram* histogram, float divisor, float& mean, float& variance);

// True when none of the seven rejections holds (see MCMatchStats.cpp).
bool acceptMatch(const MCMatchStats& stats, unsigned int acceptThreshold, float framesPerSecond,
                 float minTemplateLength, float minOverlapLength, float minPercentMatch);

// Diagnostic listing of one record on standard output.
void printMergeStats(const MCMatchStats& stats);

}  // namespace Trelis
