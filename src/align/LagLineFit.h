// LagLineFit: the straight line that the lags of a pair's windows follow, found robustly.
//
// Each window brings its correlation over a range of lags (PhaseCorrelator) and its centre. Two
// clocks that run at slightly different rates make the lag grow linearly along the overlap, so
// the fit is a line lag(x) = delta + slope (x - centre), |slope| <= maxSlope. Candidate lines go
// through the strongest peaks of pairs of windows (and level through single peaks); the one that
// collects the most evidence above the noise from all windows wins (ties: the flatter one, then
// the first found), and the runners-up that lie apart from it are kept as alternatives. Each window
// then agrees when its own peak within `tolerance` samples of the line reaches `minPeak`; the line
// is refitted to the agreeing windows by least squares, weighted by their peak heights, with a
// prior on the slope, twice. Lags and positions are in samples.
#pragma once

#include <vector>

namespace Trelis {

class LagLineFit {
public:
    struct Window {
        double centre = 0.0;                    // sample of the first recording
        const std::vector<float>* z = nullptr;  // 2m + 1 values, index l for lag l - m
    };

    struct Line {
        bool found = false;
        double centre = 0.0;  // weighted mean centre of the agreeing windows
        double delta = 0.0;   // lag at `centre`
        double slope = 0.0;
        double deltaVariance = 0.0;
        double slopeVariance = 0.0;      // with the prior
        double slopeDataVariance = 0.0;  // from the windows alone; infinite when they can't tell
        int agreeing = 0;
        double strength = 0.0;  // root sum of squares of the agreeing peaks
        double score = 0.0;     // evidence above the noise from all windows
    };

    // `slopePrior` is the standard deviation of a normal prior on the slope, centred on 0.
    LagLineFit(double maxSlope, double slopePrior, double minPeak, double tolerance)
        : maxSlope_(maxSlope), slopePrior_(slopePrior), minPeak_(minPeak), tolerance_(tolerance) {}

    // The best line first, then up to two others, apart from it, with at least half its
    // evidence; empty when no window has a peak worth a line.
    std::vector<Line> fit(const std::vector<Window>& windows, long long m) const;

private:
    Line refine(const std::vector<Window>& windows, long long m, double x, double lag,
                double slope) const;

    double maxSlope_;
    double slopePrior_;
    double minPeak_;
    double tolerance_;
};

}  // namespace Trelis
