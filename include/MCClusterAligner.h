// MCClusterAligner: sample-accurate offsets and clock drifts for the members of a cluster.
//
// Clustering places members on a grid of STFT frames. The aligner measures pairs of members on
// the audio itself: at windows spread over each pair's whole overlap it finds the lag of a
// whitened cross-correlation near the frame-accurate offset, and fits an offset and a drift to
// those lags, ignoring windows that do not agree. It then solves every member's offset and clock
// rate at once, by weighted least squares over the measured pairs, dropping pairs that do not
// close with the others, and anchors the result at the earliest measured member, whose clock
// becomes the cluster's reference. Members it cannot measure keep their frame-accurate offsets
// and say why (MemberAlignment).
//
// Pairs are those the caller names (the accepted matches of clustering); a member that none of
// them measures is then tried against every other member it overlaps. Each recording is opened
// once per call, through an MCInput source at the sample rate of the parameters, and read
// straight through (a second time for such a member); only the windows are kept in memory. The
// aligner keeps no state between calls and prints nothing. Allocation failures propagate; a
// recording that can't be opened or read leaves its member unrefined.
#pragma once

#include <utility>
#include <vector>

#include "ClusterAlignment.h"
#include "ClusterResult.h"
#include "MCAlignParams.h"
#include "MCInput.h"
#include "MCRecordingSource.h"
#include "MCRunParams.h"
#include "PairAlignment.h"
#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCClusterAligner {
public:
    // With several threads (`run`), members are read and pairs correlated side by side: the
    // source's open and close are then still called from the calling thread, and the inputs
    // read from several; the results are the same as on one.
    explicit MCClusterAligner(const MCAlignParams& params, const MCRunParams& run = MCRunParams());

    // Aligns the members of `cluster` (frame-accurate offsets in seconds, as clustering gives
    // them). `pairs` lists pairs of file ids to measure first; pairs naming a file outside the
    // cluster are ignored.
    ClusterAlignment align(const ClusterSet& cluster, const std::vector<std::pair<int, int>>& pairs,
                           MCRecordingSource& source) const;

    // Measures one pair: `second` starts about `approxOffset` seconds after `first`. Both inputs
    // are rewound and read once. The result's ids are 1 and 2.
    PairAlignment measure(MCInput& first, MCInput& second, double approxOffset) const;

    const MCAlignParams& getParams() const { return params; }

private:
    MCAlignParams params;
    unsigned int threads;
};

}  // namespace Trelis
