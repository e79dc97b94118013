// LagLineFit: the straight line that the lags of a pair's windows follow, found robustly.
//
// Each window brings its correlation over a range of lags (PhaseCorrelator) and its centre. Two
// clocks that run at slightly different rates make the lag grow linearly along the overlap, so
// the fit is a line lag(x) = delta + slope (x - centre), |slope| <= maxSlope. Candidate lines go
// through the strongest peaks of pairs of windows (and level through single peaks); the one that
// collects the most evidence above the noise from all windows wins (ties: the flatter one, then
// the first found). Each window then agrees when its own peak within `tolerance` samples of the
// line reaches `minPeak`; the line is refitted to the agreeing windows by least squares, weighted
// by their peak heights, twice. Lags and positions are in samples.
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
        double slopeVariance = 0.0;
        int agreeing = 0;
        double strength = 0.0;  // root sum of squares of the agreeing peaks
    };

    LagLineFit(double maxSlope, double minPeak, double tolerance)
        : maxSlope_(maxSlope), minPeak_(minPeak), tolerance_(tolerance) {}

    Line fit(const std::vector<Window>& windows, long long m) const;

private:
    double maxSlope_;
    double minPeak_;
    double tolerance_;
};

}  // namespace Trelis
