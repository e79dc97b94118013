// Synchronized output: for each cluster a folder cluster_<n> under the output folder, holding
// every member as a 16-bit PCM WAVE file named after it, at its own sample rate and channel
// count, padded at the start with silence so that every member starts at the cluster's time
// zero; and clusters.txt with the refined report. Nothing that exists is overwritten: an existing
// target is refused with a message on standard error and the others go on.
//
// A member with a clock drift is resampled onto its reference's clock (see DriftResampler),
// still at its nominal rate: its padding is its offset on the reference clock, and every second
// of the reference holds its rate's worth of samples. That needs the media decoder, WAVE members
// too; a build without it writes no such member, rather than one that drifts out of sync, and
// says so.
#pragma once

#include <map>
#include <string>

#include "ClusterResult.h"

namespace Trelis {

// True when every file was written. `offsets` are the refined offsets in seconds by file id.
// `driftPpm` names the members to resample onto the reference clock: how much faster (ppm) each
// one's clock runs than the reference's; members not in it are copied as they are. Media files
// are read from their audio stream `stream` (see MediaDecoder).
bool writeSyncedClusters(const std::string& outputFolder, const ClusterResult& clusters,
                         const std::map<int, std::string>& idToPath,
                         const std::map<int, double>& offsets, const std::string& report,
                         const std::map<int, double>& driftPpm = {}, int stream = 0);

}  // namespace Trelis
