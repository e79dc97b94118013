#include "MCClusterSync.h"

#include <memory>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"
#include "sync/MCClusterBuilder.h"
#include "sync/MCLandmarkIndex.h"
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
    MCFileSet none;  // a null set is clustered as an empty one rather than crash
    if (fileSet == nullptr) {
        fileSet = &none;
    }
    announce(progress, 0);
    for (auto& entry : fileSet->getFiles()) {
        entry.second->computeCLF();
    }

    announce(progress, 1);
    MCLandmarkIndex index(params.getMaxLandmarks());
    std::unique_ptr<PairHistogramMap, void (*)(PairHistogramMap*)> histograms(
        index.run(fileSet, progress), deletePairHistograms);

    announce(progress, 2);
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> stats(
        computeMatchStats(fileSet, histograms.get()), deleteMatchStats);

    announce(progress, 3);
    histograms.reset();  // no later stage reads the histograms

    announce(progress, 4);
    MCClusterBuilder builder(params);
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(
        builder.buildClusters(fileSet, stats.get()), deleteClusterResult);
    for (ClusterSet* cluster : *result) {
        for (MCClusterElem* elem : *cluster) {
            elem->name = fileSet->idToName[elem->fileId];
        }
    }

    announce(progress, 5);
    return result.release();
}

}  // namespace Trelis
