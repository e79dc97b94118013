// MCClusterBuilder: from the pairwise match statistics to the clusters of the result.
//
// Accepted pairs link files; the connected components of the links are the clusters (a file that
// matched nothing is a cluster of its own); offsets inside each are fixed by the greedy merge of
// FileGroups, shifted so the earliest recording starts at 0, and turned from frames into seconds.
#pragma once

#include <cstdint>

#include "ClusterResult.h"
#include "sync/MatchStatsMap.h"

namespace Trelis {

class MCClusterSyncParams;
class FileGroups;
class MCFileSet;

class MCClusterBuilder {
public:
    explicit MCClusterBuilder(const MCClusterSyncParams& params);

    // Marks the accepted pairs of `stats` and returns a new result holding every file of `files`
    // in exactly one cluster, every element named "TODO". Null when either argument is null.
    ClusterResult* buildClusters(MCFileSet* files, MatchStatsMap* stats);

    // The clusters of the components of `groups`, offsets fixed from the accepted pairs of
    // `stats`: what buildClusters returns once it has accepted the pairs.
    ClusterResult* collect(FileGroups& groups, MatchStatsMap* stats) const;

    std::uint32_t acceptThreshold;
    float framesPerSecond;
    float minTemplateLength;  // seconds
    float minOverlapLength;   // seconds
    float minPercentMatch;    // fraction
};

}  // namespace Trelis
