// The steps that make an MCMatchStats record from a pair's offset histogram, and the test that
// accepts the pair as two recordings of one event.
#pragma once

#include <cstdint>
#include <vector>

#include "MCMatchStats.h"

namespace Trelis {

class MCFile;
class MCFileSet;

// The overlap length of two records under `offset`, and through the out-parameters the landmarks
// of each counted in that region. A null record gives 0 and writes nothing.
float computeOverlap(MCFile* file1, MCFile* file2, float offset, float& landmarksF1,
                     float& landmarksF2);

// Steps shared by every way of making a record: the overlap under the record's offset with the
// landmarks counted in it (records looked up by id1 and id2; a missing one gives no overlap), and
// the fractions of those landmarks that matched.
void computeOverlapAndFractions(MCMatchStats& stats, MCFileSet* fileSet);

// Completes the record of a pair (id1 and id2 set) from its vote counts per offset bin, in
// increasing offset, the winning bin's offset and count, and the earliest and latest file-1 frame
// among its votes: the overlap, fractions, template and spread, with the single-precision sums of
// computeHistogramStats over the same bins in the same order. What every flat way of counting
// votes (FlatLandmarkIndex, MCPairVotes) ends in.
void finishPairStats(MCMatchStats& stats, std::uint32_t bestCount, std::int32_t bestOffset,
                     std::int32_t earliest, std::int32_t latest,
                     const std::vector<std::uint32_t>& binCounts, MCFileSet* fileSet);

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
