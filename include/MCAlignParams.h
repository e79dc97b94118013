// Settings of the sample-accurate alignment of a cluster's members (MCClusterAligner).
//
// Every member is read at `sampleRate` (Hz). A pair of members is measured at windows of
// `windowSeconds` placed every `windowSpacing` seconds over its whole overlap (shorter overlaps
// get up to three windows that share it), each searched `searchSeconds` either side of the
// frame-accurate offset plus what clocks `maxDriftPpm` apart can add over the overlap. A window
// agrees with the pair's fit when its whitened correlation peak lies on the fitted line and
// stands `minPeak` noise spreads high. Overlaps shorter than `minOverlap` seconds are not
// measured. Setters refuse values outside the ranges their comments give, return false and keep
// the value they had; nothing here throws.
#pragma once

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCAlignParams {
public:
    MCAlignParams();

    unsigned int getSampleRate() const { return sampleRate; }
    // 1000 to 768000 Hz.
    bool setSampleRate(unsigned int value);

    double getWindowSeconds() const { return windowSeconds; }
    // 0.25 to 60 s.
    bool setWindowSeconds(double value);

    double getWindowSpacing() const { return windowSpacing; }
    // 0.25 to 600 s; a spacing below the window length is taken as the window length.
    bool setWindowSpacing(double value);

    double getSearchSeconds() const { return searchSeconds; }
    // 0.001 to 10 s.
    bool setSearchSeconds(double value);

    double getMaxDriftPpm() const { return maxDriftPpm; }
    // 0 to 2000 ppm.
    bool setMaxDriftPpm(double value);

    double getMinOverlap() const { return minOverlap; }
    // 0.1 to 60 s.
    bool setMinOverlap(double value);

    double getMinPeak() const { return minPeak; }
    // 2 to 100 noise spreads.
    bool setMinPeak(double value);

private:
    unsigned int sampleRate;  // Hz of every input
    double windowSeconds;     // length of one correlated window
    double windowSpacing;     // seconds from one window to the next
    double searchSeconds;     // lag searched either side of the frame-accurate offset
    double maxDriftPpm;       // largest clock-rate difference of two members searched for
    double minOverlap;        // seconds; shorter overlaps are not measured
    double minPeak;           // noise spreads a window's peak must reach to agree
};

}  // namespace Trelis
