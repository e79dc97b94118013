// ClusterCandidate: the groups of one connected component while offsets are fixed inside it.
//
// Each group is keyed by one of its file ids and maps every member's file id to its start, in
// STFT frames, after the start of the key file (the key file itself at 0 until normalization).
#pragma once

#include <map>
#include <set>

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT ClusterCandidate {
public:
    // One group {id: 0} under key id for every id.
    void initGroups(std::set<int> ids);
    // Merges the group of b into the group of a; `offset` is start(b) - start(a) in frames.
    void mergeGroups(int a, int b, float offset);
    // Shifts every group so that its smallest offset is 0.
    void normalizeOffsets();
    // Empties `out`, then adds a copy of every group's map.
    void getGroups(std::set<std::map<int, float>>& out) const;

    std::map<int, std::map<int, float>> groups;
};

}  // namespace Trelis
