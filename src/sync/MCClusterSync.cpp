#include "MCClusterSync.h"

#include <memory>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"
#include "MCRunParams.h"
#include "sync/FlatLandmarkIndex.h"
#include "sync/MCClusterBuilder.h"
#include "sync/MatchStatsMap.h"

namespace Trelis {

namespace {

void announce(MCProgress* progress, int stage) {
    if (progress != nullptr) {
        progress->setStage(stage);
    }
}

}  // namespace

MCClusterSync::MCClusterSync(const MCClusterSyncParams& syncParams) : params(syncParams) {}

ClusterResult* MCClusterSync::run(MCFileSet* fileSet, MCProgress* progress) {
    return run(fileSet, progress, MCRunParams(), nullptr);
}

ClusterResult* MCClusterSync::run(MCFileSet* fileSet, MCProgress* progress,
                                  const MCRunParams& run) {
    return this->run(fileSet, progress, run, nullptr);
}

ClusterResult* MCClusterSync::run(MCFileSet* fileSet, MCProgress* progress, const MCRunParams& run,
                                  std::vector<MCMatchStats>* accepted) {
    MCFileSet none;  // a null set is clustered as an empty one rather than crash
    if (fileSet == nullptr) {
        fileSet = &none;
    }
    announce(progress, 0);
    for (auto& entry : fileSet->getFiles()) {
        entry.second->computeCLF();
    }

    // The flat index gives the reports and statistics of MCLandmarkIndex with computeMatchStats
    // in a fraction of the time and memory; its votes are gone by the end of stage 1.
    announce(progress, 1);
    FlatLandmarkIndex index(params.getMaxLandmarks(), run.getThreads(),
                            run.getPopularity() == MCRunParams::Popularity::PerRecording);
    index.run(fileSet, progress);

    announce(progress, 2);
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> stats(index.takeMatchStats(),
                                                                   deleteMatchStats);

    announce(progress, 3);

    announce(progress, 4);
    MCClusterBuilder builder(params);
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(
        builder.buildClusters(fileSet, stats.get()), deleteClusterResult);
    for (ClusterSet* cluster : *result) {
        for (MCClusterElem* elem : *cluster) {
            elem->name = fileSet->idToName[elem->fileId];
        }
    }
    if (accepted != nullptr) {
        for (const auto& entry : *stats) {  // ordered by the pair of ids
            if (entry.second != nullptr && entry.second->accepted) {
                accepted->push_back(*entry.second);
                accepted->back().histogram = nullptr;
            }
        }
    }

    announce(progress, 5);
    return result.release();
}

}  // namespace Trelis
