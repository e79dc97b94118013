// MCVerifiedSync: clustering that checks every link on the audio before it trusts it.
//
// Like MCClusterSync, it matches the landmarks of every pair of files; but instead of accepting
// a pair by fixed thresholds on its best offset, it keeps the few offsets whose votes stand out
// from what chance gives two unrelated recordings of those lengths (counted so that drifting
// clocks still gather their votes), then measures each on the recordings themselves, at windows
// over the whole overlap, searched near the offset. A pair links when its windows agree on one
// offset and drift strongly enough; when two of its offsets verify alike (repeated material) it
// is left unlinked as ambiguous. Linked pairs form the clusters as in MCClusterSync, the
// strongest first, and members are placed at the verified offsets, to the sample rather than to
// the frame. Recordings are read through the caller's source, one at a time, each straight
// through once, only the windows kept. The stages and progress reports are MCClusterSync's,
// verification running in stage 3. Allocation failures propagate; a recording that can't be
// read links nothing.
#pragma once

#include <vector>

#include "ClusterResult.h"
#include "MCClusterSyncParams.h"
#include "MCRecordingSource.h"
#include "MCRunParams.h"
#include "MCVerifyParams.h"
#include "PairMatch.h"
#include "TrelisExport.h"
#include "VerifiedCandidate.h"

namespace Trelis {

class MCFileSet;
class MCPairVotes;
class MCProgress;

class TRELIS_EXPORT MCVerifiedSync {
public:
    // `params` gives the frame rate and the popular-hash limit; its acceptance thresholds are not
    // used. `source` must deliver samples at verify.getAlign().getSampleRate().
    // `run`: its threads (the source's open and close are then called from several threads at
    // once) and how popular hashes are judged.
    MCVerifiedSync(const MCClusterSyncParams& params, const MCVerifyParams& verify,
                   const MCRunParams& run = MCRunParams());

    // Clusters the files of `fileSet` (not null); `progress` may be null. When `pairs` is not
    // null it receives every linked and every ambiguous pair, ordered by first then second id.
    ClusterResult* run(MCFileSet* fileSet, MCRecordingSource& source, MCProgress* progress,
                       std::vector<PairMatch>* pairs = nullptr) const;

    // The candidate offsets of the pairs whose votes (summed elsewhere) are `votes`, measured on
    // the recordings of `source`, by pair in key order: what run() decides its links on. `files`
    // gives each file's length in frames (its records, or records given their landmark counts).
    std::vector<VerifiedCandidate> measure(const MCPairVotes& votes, MCFileSet* files,
                                           MCRecordingSource& source) const;
    // Clusters the files of `fileSet` (not null; ids and names are read) from measured candidates
    // as run() does: `candidates` by pair in key order, each pair's as measure() gives them.
    // `pairs` as in run().
    ClusterResult* cluster(MCFileSet* fileSet, const std::vector<VerifiedCandidate>& candidates,
                           std::vector<PairMatch>* pairs) const;

private:
    MCClusterSyncParams params;
    MCVerifyParams verify;
    MCRunParams runParams;
};

}  // namespace Trelis
