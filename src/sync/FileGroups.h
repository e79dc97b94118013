// FileGroups: the connected components of the accepted pairs, and the greedy merge that fixes the
// offsets inside each component.
//
// Inside a component, the strongest link (most matching landmarks; among equals the last in key
// order) is merged first: the higher id's group joins the lower id's, its links are re-expressed
// relative to the survivor, and only the strongest link between the group and every other file
// survives (with equal weights the survivor's own stays). The links used form a maximum spanning
// tree, and each file's offset is the sum of the pairwise offsets along its path in it.
#pragma once

#include <set>

#include "ClusterCandidate.h"
#include "sync/MatchStatsMap.h"

namespace Trelis {

class MCFileSet;

class FileGroups {
public:
    // One component {id} per file of the set, in increasing id; nothing for a null set.
    void initFromFiles(MCFileSet* files);
    // Merges the components of a and b.
    void joinComponents(int a, int b);
    // One new candidate per component (the caller owns them), offsets fixed from the accepted
    // pairs of `stats` and normalized.
    std::set<ClusterCandidate*> buildCandidates(MatchStatsMap* stats);

    std::set<std::set<int>> components;
};

}  // namespace Trelis
