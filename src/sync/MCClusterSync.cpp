#include "MCClusterSync.h"

#include <memory>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"
#include "MCRunParams.h"
#include "MCTaskPool.h"
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

// The clusters of the accepted pairs of `stats`, named after the files, with copies of the
// accepted records (ordered by the pair of ids) in `accepted` when not null.
ClusterResult* clusterFromMap(const MCClusterSyncParams& params, MCFileSet* fileSet,
                              MatchStatsMap* stats, std::vector<MCMatchStats>* accepted) {
    MCClusterBuilder builder(params);
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(
        builder.buildClusters(fileSet, stats), deleteClusterResult);
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
    return result.release();
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
    // The records are independent: their counts are brought up to date side by side.
    std::vector<MCFile*> records;
    for (auto& entry : fileSet->getFiles()) {
        records.push_back(entry.second);
    }
    MCTaskPool(run.getThreads()).run(records.size(), [&](std::size_t i, unsigned int) {
        records[i]->computeCLF();
    });

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
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(
        clusterFromMap(params, fileSet, stats.get(), accepted), deleteClusterResult);

    announce(progress, 5);
    return result.release();
}

std::vector<MCMatchStats> MCClusterSync::accept(const std::vector<MCMatchStats>& stats) const {
    const MCClusterBuilder builder(params);
    std::vector<MCMatchStats> out;
    for (const MCMatchStats& s : stats) {
        if (acceptMatch(s, builder.acceptThreshold, builder.framesPerSecond,
                        builder.minTemplateLength, builder.minOverlapLength,
                        builder.minPercentMatch)) {
            out.push_back(s);
            out.back().accepted = true;
            out.back().histogram = nullptr;
        }
    }
    return out;
}

ClusterResult* MCClusterSync::cluster(MCFileSet* fileSet, const std::vector<MCMatchStats>& stats,
                                      std::vector<MCMatchStats>* accepted) const {
    MCFileSet none;
    if (fileSet == nullptr) {
        fileSet = &none;
    }
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> map(new MatchStatsMap(),
                                                                 deleteMatchStats);
    for (const MCMatchStats& s : stats) {
        MCMatchStats*& slot = (*map)[{s.id1, s.id2}];
        delete slot;  // a pair given twice keeps its last record
        slot = new MCMatchStats(s);
        slot->histogram = nullptr;
        slot->accepted = false;
    }
    return clusterFromMap(params, fileSet, map.get(), accepted);
}

}  // namespace Trelis
