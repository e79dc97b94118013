// SyncRefiner: the refinement pass over the clusters of a result. For each cluster it lists the
// members, opens their recordings and names the reference recording (the member at offset 0;
// the last of them when several are). MCClusterAligner then aligns the members. Members
// that are not WAVE files (other media, taken in by -media all) are listed but not opened here.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ClusterResult.h"

namespace Trelis {

class wavfile_t;

class SyncRefiner {
public:
    SyncRefiner(std::map<int, std::string> paths, ClusterResult* result)
        : idToPath(std::move(paths)), clusters(result) {}
    ~SyncRefiner();
    SyncRefiner(const SyncRefiner&) = delete;
    SyncRefiner& operator=(const SyncRefiner&) = delete;

    // False (after a message on standard error) when a cluster has no member at offset 0.
    bool refineClusters();

    std::map<int, std::string> idToPath;
    std::vector<wavfile_t*> wavFiles;  // opened by the pass, owned
    ClusterResult* clusters;           // not owned
};

}  // namespace Trelis
