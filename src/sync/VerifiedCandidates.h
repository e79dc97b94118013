// VerifiedCandidates: every candidate offset of every pair of a file set, with what the audio
// said about it.
//
// The first stages of verified matching (MCVerifiedSync), apart so that the calibration of its
// thresholds sees every candidate, not only the pairs it links: the landmarks of all files are
// matched, every pair's votes give its candidates (OffsetCandidates), and each candidate is
// measured on the recordings near its offset (PairVerifier). Announces stages 0 to 3 as
// MCClusterSync does, verification reporting its progress in stage 3.
#pragma once

#include <map>
#include <vector>

#include "MCClusterSyncParams.h"
#include "MCRunParams.h"
#include "MCVerifyParams.h"
#include "align/PairMeasurement.h"
#include "sync/OffsetCandidates.h"

namespace Trelis {

class MCFileSet;
class MCPairVotes;
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
    // The candidates of pairs whose votes were summed elsewhere (MCPairVotes), measured alike;
    // `frames` is each file's length in frames.
    std::vector<Entry> run(const MCPairVotes& votes, const std::map<int, long long>& frames,
                           MCRecordingSource& source) const;

private:
    // Measures `entries` (their candidates found) on the recordings.
    void measure(std::vector<Entry>& entries, const std::map<int, long long>& frames,
                 MCRecordingSource& source, MCProgress* progress) const;

    MCClusterSyncParams params_;
    MCVerifyParams verify_;
    MCRunParams run_;
};

}  // namespace Trelis
