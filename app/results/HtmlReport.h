// The report page (-html): one self-contained HTML file that shows the run's result to a person.
//
// One timeline per cluster of two or more members: a bar per member from its refined offset to
// its end, with its loudness envelope inside (RunReport::envelopes), its name, offset and status
// beside it, coloured by confidence, and the drift of members whose clock drifts; then the
// cluster's accepted links. After the clusters: the files that matched nothing, the files that
// could not be read with the reason, pairs left unlinked, the settings, and the evaluation when
// there is one. Clusters are numbered in the result's order, as the -o folders are.
//
// The markup is also well-formed XML (void elements closed, the five XML entities only, a script
// without '<' or '&'), so that XML readers can check it. Nothing is loaded from elsewhere. The
// script only opens and closes clusters, opens them all for printing, and records where each bar
// was drawn (data-drawn: left, width and track width in pixels) and that it ran
// (body data-rendered="ok"). Names are written as valid UTF-8 without control characters.
#pragma once

#include <ostream>

#include "results/RunReport.h"

namespace Trelis {

void writeHtmlReport(const RunReport& report, std::ostream& out);

}  // namespace Trelis
