// MCClusterSync: finds which recordings of a file set capture the same event, groups them into
// clusters and gives every recording its start offset within its cluster.
//
// run() executes six stages on the caller's thread, announcing each to the progress observer:
// the cumulative landmark counts of every file are brought up to date, the landmark index builds
// one histogram of start-frame differences per pair of files sharing hashes, every pair's
// statistics are computed, the histograms are released, the pairs that pass the acceptance test
// are joined into clusters with offsets fixed along the strongest matches, and every element is
// named after its file's base name. The engine keeps only a copy of its parameters; every run is
// independent and only reads the file set (apart from the cumulative counts). The result belongs
// to the caller and outlives the file set. Allocation failures propagate.
#pragma once

#include <vector>

#include "ClusterResult.h"
#include "MCClusterSyncParams.h"
#include "MCMatchStats.h"
#include "TrelisExport.h"

namespace Trelis {

class MCFileSet;
class MCProgress;
class MCRunParams;

class TRELIS_EXPORT MCClusterSync {
public:
    explicit MCClusterSync(const MCClusterSyncParams& params);

    // Clusters the files of `fileSet` (not null); `progress` may be null. Every file is in
    // exactly one cluster of the new result; an empty set gives an empty result.
    ClusterResult* run(MCFileSet* fileSet, MCProgress* progress);
    // As run(fileSet, progress), the votes gathered on run.getThreads() threads (the reports
    // still arrive on the caller's thread, in the same order) and popular hashes judged as `run`
    // says: with the default MCRunParams, the very same.
    ClusterResult* run(MCFileSet* fileSet, MCProgress* progress, const MCRunParams& run);
    // As run(fileSet, progress, run); when `accepted` is not null, it receives a copy of every
    // accepted pair's statistics (without histogram), ordered by id1 then id2: the evidence the
    // clusters were joined on, for reports.
    ClusterResult* run(MCFileSet* fileSet, MCProgress* progress, const MCRunParams& run,
                       std::vector<MCMatchStats>* accepted);

    // The statistics of `stats` that pass the acceptance test, marked accepted, in their order.
    std::vector<MCMatchStats> accept(const std::vector<MCMatchStats>& stats) const;
    // Clusters the files of `fileSet` (not null; only the records' ids and the names are read)
    // from the statistics of their pairs, as run() does once it has matched: `stats` may hold
    // every pair or only the accepted ones (the test is made again), in any order, one record a
    // pair (MCPairVotes makes them from votes gathered elsewhere). `accepted` as in run().
    ClusterResult* cluster(MCFileSet* fileSet, const std::vector<MCMatchStats>& stats,
                           std::vector<MCMatchStats>* accepted) const;

private:
    MCClusterSyncParams params;
};

}  // namespace Trelis
