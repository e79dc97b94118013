// The clustering of MCClusterSync::run, able to hand over the statistics of the accepted pairs as
// well: the application reports them, the library's interface does not carry them.
#pragma once

#include <vector>

#include "ClusterResult.h"
#include "MCRunParams.h"
#include "sync/MCMatchStats.h"

namespace Trelis {

class MCClusterSyncParams;
class MCFileSet;
class MCProgress;

// As MCClusterSync(params).run(fileSet, progress); when `accepted` is not null, it receives a
// copy of every accepted pair's statistics (without histogram), ordered by id1 then id2.
ClusterResult* runClustering(const MCClusterSyncParams& params, MCFileSet* fileSet,
                             MCProgress* progress, std::vector<MCMatchStats>* accepted,
                             const MCRunParams& run = MCRunParams());

}  // namespace Trelis
