#include "sync/MCClusterBuilder.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "MCClusterSyncParams.h"
#include "sync/FileGroups.h"

namespace Trelis {

namespace {

void deleteClusterSet(ClusterSet* cluster) {
    for (MCClusterElem* elem : *cluster) {
        delete elem;
    }
    delete cluster;
}

}  // namespace

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
    std::vector<std::unique_ptr<ClusterSet, void (*)(ClusterSet*)>> built;
    std::set<std::map<int, float>> members;
    for (ClusterCandidate* candidate : candidates) {
        built.emplace_back(new ClusterSet(), deleteClusterSet);
        ClusterSet* cluster = built.back().get();
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
    // The result lists its clusters by address, and addresses follow the heap's history (which
    // threads make different from run to run): the clusters move into sets whose addresses rise
    // with their lowest file id, so that every run lists them alike.
    const auto lowestId = [](const ClusterSet& cluster) {
        return cluster.empty() ? -1 : (*cluster.begin())->fileId;
    };
    std::sort(built.begin(), built.end(),
              [&](const auto& x, const auto& y) { return lowestId(*x) < lowestId(*y); });
    std::vector<ClusterSet*> slots;
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(new ClusterResult(),
                                                                    deleteClusterResult);
    for (std::size_t k = 0; k < built.size(); ++k) {
        slots.push_back(new ClusterSet());
        result->insert(slots.back());
    }
    std::sort(slots.begin(), slots.end(), std::less<ClusterSet*>());
    for (std::size_t k = 0; k < built.size(); ++k) {
        slots[k]->swap(*built[k]);
    }
    return result.release();
}

}  // namespace Trelis
