#include "sync/MCClusterBuilder.h"

#include <map>
#include <memory>
#include <set>

#include "MCClusterSyncParams.h"
#include "sync/FileGroups.h"

namespace Trelis {

MCClusterBuilder::MCClusterBuilder(const MCClusterSyncParams& params)
    : acceptThreshold(params.getAcceptThreshold()),
      framesPerSecond(params.getFramesPerSecond()),
      minTemplateLength(params.getMinTemplateLength()),
      minOverlapLength(params.getMinOverlapLength()),
      minPercentMatch(params.getMinPercentMatch()) {}

ClusterResult* MCClusterBuilder::buildClusters(MCFileSet* files, MatchStatsMap* stats) {
    if (files == nullptr || stats == nullptr) {
        return nullptr;
    }
    FileGroups groups;
    groups.initFromFiles(files);
    for (auto& entry : *stats) {
        MCMatchStats* record = entry.second;
        if (record != nullptr &&
            acceptMatch(*record, acceptThreshold, framesPerSecond, minTemplateLength,
                        minOverlapLength, minPercentMatch)) {
            record->accepted = true;
            groups.joinComponents(record->id1, record->id2);
        }
    }
    return collect(groups, stats);
}

ClusterResult* MCClusterBuilder::collect(FileGroups& groups, MatchStatsMap* stats) const {
    std::set<ClusterCandidate*> candidates = groups.buildCandidates(stats);
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(new ClusterResult(),
                                                                    deleteClusterResult);
    std::set<std::map<int, float>> members;
    for (ClusterCandidate* candidate : candidates) {
        auto* cluster = new ClusterSet();
        result->insert(cluster);
        candidate->getGroups(members);
        for (const auto& group : members) {
            for (const auto& [fileId, frames] : group) {
                std::unique_ptr<MCClusterElem> elem(
                    new MCClusterElem("TODO", fileId, frames / framesPerSecond));
                // A file already in the cluster keeps its first element.
                if (cluster->insert(elem.get()).second) {
                    elem.release();
                }
            }
        }
    }
    for (ClusterCandidate* candidate : candidates) {
        delete candidate;
    }
    return result.release();
}

}  // namespace Trelis
