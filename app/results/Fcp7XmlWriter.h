// Timelines for video editors (-timeline) as Final Cut Pro 7 XML (xmeml 4, .xml): a project of
// sequences, one per cluster, clusters of one member included, at the frame rate of the cluster's
// first member with video, or `fps` when none has video; one track per member holding its clip at
// the refined offset (a member with video gets a video track and an audio track for its sound),
// each clip referring to its original file by absolute path as a percent-encoded file URL. Names
// are written as valid UTF-8 without control characters.
#pragma once

#include <ostream>

#include "results/RunReport.h"

namespace Trelis {

void writeFcp7Xml(const RunReport& report, double fps, std::ostream& out);

}  // namespace Trelis
