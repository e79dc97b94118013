// Synchronized output: for each cluster a folder cluster_<n> under the output folder, holding
// every member as a 16-bit PCM WAVE file named after it, at its own sample rate and channel
// count, padded at the start with silence so that every member starts at the cluster's time
// zero; and clusters.txt with the refined report. Nothing that exists is overwritten: an existing
// target is refused with a message on standard error and the others go on.
#pragma once

#include <map>
#include <string>

#include "ClusterResult.h"

namespace Trelis {

// True when every file was written. `offsets` are the refined offsets in seconds by file id.
bool writeSyncedClusters(const std::string& outputFolder, const ClusterResult& clusters,
                         const std::map<int, std::string>& idToPath,
                         const std::map<int, double>& offsets, const std::string& report);

}  // namespace Trelis
