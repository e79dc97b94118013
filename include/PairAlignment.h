// PairAlignment: what the measurement of one pair of recordings found.
//
// Seconds and ppm. `offset` is where the first sample of `second` lies on the clock of `first`:
// seconds after the start of `first`, negative when `second` started earlier. `driftPpm` is how
// much faster the clock of `second` runs than the clock of `first` (positive: `second` counts
// more seconds over the same stretch). Errors are one standard deviation, from the spread of the
// windows around the fit. `windows` is how many windows were correlated, `agreeing` how many of
// them peak on the fitted line, `strength` the root sum of squares of their peaks in noise
// spreads. `confidence`, in [0, 1], is agreeing / windows times 1 - minPeak / strength: 0 for a
// single window at the edge of acceptance, near 1 when every window agrees strongly.
#pragma once

#include "AlignReason.h"

namespace Trelis {

struct PairAlignment {
    int first = 0;
    int second = 0;
    bool measured = false;                   // a fit was found
    bool used = false;                       // measured, and kept by the cluster's solve
    AlignReason reason = AlignReason::None;  // why not measured, or Outlier when not used
    double offset = 0.0;                     // seconds
    double offsetError = 0.0;                // seconds
    double driftPpm = 0.0;
    double driftError = 0.0;  // ppm
    int windows = 0;
    int agreeing = 0;
    double strength = 0.0;
    double confidence = 0.0;
};

}  // namespace Trelis
