// Timelines for video editors (-timeline): one per cluster, clusters of one member included, with
// one track per member holding its clip at the refined offset (a member with video gets a video
// track and an audio track for its sound), each clip referring to its original file by absolute
// path as a percent-encoded file URL.
//
//   .otio  OpenTimelineIO JSON: a timeline per cluster (a plain timeline when there is one, a
//          collection otherwise), sound timed at the member's own sample rate, so offsets are
//          exact to the sample, and picture in frames of its own rate; the timeline starts at 0
//          at the frame rate of its first member with video, or `fps` when none has video.
//   .xml   Final Cut Pro 7 XML (xmeml 4): a project of sequences at the frame rate of the
//          cluster's first member with video, or `fps` when none has video.
//
// Names are written as valid UTF-8 (invalid bytes become U+FFFD) without control characters.
#pragma once

#include <ostream>
#include <string>

#include "results/RunReport.h"

namespace Trelis {

void writeOtio(const RunReport& report, double fps, std::ostream& out);
void writeFcp7Xml(const RunReport& report, double fps, std::ostream& out);

// "file://" and the absolute path, every byte but unreserved ones and "/" percent-encoded;
// `host` goes between the slashes ("localhost" for xmeml, empty for OTIO).
std::string fileUrl(const std::string& absolutePath, const std::string& host);

// `text` as valid UTF-8 with control characters removed.
std::string cleanName(const std::string& text);

}  // namespace Trelis
