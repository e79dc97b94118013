// What both timeline formats place: the members of a cluster with a sound to place, and how long
// each one's picture lasts at which rate.
#pragma once

#include <utility>
#include <vector>

#include "results/RunReport.h"

namespace Trelis {

// The members of `cluster` that can be placed (taken, described, with a sample rate), each with
// its refined offset in seconds.
std::vector<std::pair<const InputFile*, double>> placeable(const RunReport& report,
                                                           const ReportCluster& cluster);

// The video frame rate of a recording, 0 when it has none or it is unknown.
double videoRate(const RecordingInfo& info);

// How long a recording's picture lasts: its video stream's own length where it states one (it can
// end a few frames before or after the sound), else the sound's.
double pictureSeconds(const RecordingInfo& info);

}  // namespace Trelis
