// Timelines for video editors (-timeline) as OpenTimelineIO JSON (.otio): a timeline per cluster
// (a plain timeline when there is one, a collection otherwise), clusters of one member included,
// one track per member holding its clip at the refined offset (a member with video gets a video
// track and an audio track for its sound), each clip referring to its original file by absolute
// path as a percent-encoded file URL. Sound is timed at the member's own sample rate, so offsets
// are exact to the sample, and picture in frames of its own rate; the timeline starts at 0 at the
// frame rate of its first member with video, or `fps` when none has video. Names are written as
// valid UTF-8 without control characters.
#pragma once

#include <ostream>

#include "results/RunReport.h"

namespace Trelis {

void writeOtio(const RunReport& report, double fps, std::ostream& out);

}  // namespace Trelis
