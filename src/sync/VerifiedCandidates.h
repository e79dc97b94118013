// VerifiedCandidates: every candidate offset of every pair of a file set, with what the audio
// said about it.
//
// The first stages of verified matching (MCVerifiedSync), apart so that the calibration of its
// thresholds sees every candidate, not only the pairs it links: the landmarks of all files are
// matched, every pair's votes give its candidates (OffsetCandidates), and each candidate is
// measured on the recordings near its offset (PairVerifier). Announces stages 0 to 3 as
// MCClusterSync does, verification reporting its progress in stage 3.
#pragma once

#include <vector>

#include "MCClusterSyncParams.h"
#include "MCRunParams.h"
#include "MCVerifyParams.h"
#include "align/PairMeasurement.h"
#include "sync/OffsetCandidates.h"

namespace Trelis {

class MCFileSet;
class MCProgress;
class MCRecordingSource;

class VerifiedCandidates {
public:
    struct Entry {
        int first = 0;  // file ids, first < second
        int second = 0;
        OffsetCandidates::Candidate candidate;
        PairMeasurement::Result measured;
    };

    VerifiedCandidates(const MCClusterSyncParams& params, const MCVerifyParams& verify,
                       const MCRunParams& run = MCRunParams());

    // By pair in key order, each pair's candidates the most surprising first.
    std::vector<Entry> run(MCFileSet& files, MCRecordingSource& source, MCProgress* progress) const;

private:
    MCClusterSyncParams params_;
    MCVerifyParams verify_;
    MCRunParams run_;
};

}  // namespace Trelis
