// PairMeasurement: where one pair of members is correlated, and the offset and drift the
// correlations give.
//
// Positions are in samples at the alignment rate. `startA` and `startB` place each member's first
// sample on the cluster's frame-accurate time line, so the pair's expected offset is startB -
// startA. Long overlaps are correlated at windows on a grid of that time line (every pair of the
// cluster uses the same stretches of a member, which keeps the stretches read small); overlaps
// shorter than three grid steps are cut into up to three windows that cover them. Each window of
// the first member is searched against the second's over the lags the frame grid and the largest
// drift allow (LagLineFit); a line passes when two windows, and a fifth of them, agree on it, or
// when the pair's one window peaks on it twice as high as one window must. A pair may yield up to
// three such lines (an early reflection beside the direct sound); the cluster's solve picks.
#pragma once

#include <vector>

#include "MCAlignParams.h"
#include "PairAlignment.h"

namespace Trelis {

class PhaseCorrelator;
class RecordingWindows;

class PairMeasurement {
public:
    // One line the windows' lags follow, as the report gives it and as the cluster's solve needs
    // it: one instant on both clocks, `atA` seconds after the start of the first member and
    // `atB` after the start of the second, with its error, and the log of how many seconds the
    // second counts per second of the first. `share` is the line's evidence against the best's.
    struct Line {
        PairAlignment alignment;
        double atA = 0.0;
        double atB = 0.0;
        double sigma = 0.0;  // seconds
        double logRate = 0.0;
        double logRateVariance = 0.0;  // infinite when the windows can't tell
        double share = 1.0;
    };

    // The lines that pass, the best first; `alignment` is the best line's, or says why none
    // passed. `stacked` is what stack() found, when asked.
    struct Result {
        PairAlignment alignment;
        std::vector<Line> lines;
        PairAlignment stacked;
    };

    PairMeasurement(const MCAlignParams& params, long long lengthA, long long lengthB,
                    long long startA, long long startB);

    // False when the overlap is shorter than the parameters' minimum.
    bool measurable() const { return !windows_.empty(); }

    // Asks both members' stretches for every window.
    void require(RecordingWindows& a, RecordingWindows& b) const;

    // Correlates every window and fits the lines.
    Result measure(const RecordingWindows& a, const RecordingWindows& b,
                   PhaseCorrelator& correlator) const;

    // The same in steps, so that the windows of many pairs can be correlated in the order of the
    // cluster's time line: each window's correlation (empty when no transform could be made),
    // then the fit of all of them.
    std::size_t windowCount() const { return windows_.size(); }
    long long windowTime(std::size_t i) const;  // on the frame-accurate time line
    bool correlate(std::size_t i, const RecordingWindows& a, const RecordingWindows& b,
                   PhaseCorrelator& correlator, std::vector<float>& z) const;
    Result fit(const std::vector<std::vector<float>>& correlations) const;
    // The windows' correlations added up along the best line of lag and drift, in noise spreads
    // of the sum: evidence that no window holds alone, for short overlaps of faint, reverberant
    // sound. Measured when two windows or more have a correlation; the drift is not told (its
    // error is infinite) and `agreeing` counts the windows added.
    PairAlignment stack(const std::vector<std::vector<float>>& correlations) const;

private:
    struct Window {
        long long start;  // sample of the first member
        long long length;
    };

    MCAlignParams params_;
    long long startA_;
    long long expected_;  // samples of the first member at which the second starts
    long long margin_;    // lags searched either side
    std::vector<Window> windows_;
};

}  // namespace Trelis
