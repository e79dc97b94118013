// The result of a run as JSON (-json): the version, the settings, every input file with its state,
// every cluster with its members and accepted pairs, and the files that matched nothing. Times are
// in seconds rounded to the microsecond; text that is not valid UTF-8 is written with
// replacement characters.
#pragma once

#include <ostream>

#include "results/RunReport.h"

namespace Trelis {

void writeJsonReport(const RunReport& report, std::ostream& out);

}  // namespace Trelis
