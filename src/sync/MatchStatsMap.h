// MatchStatsMap: one MCMatchStats per pair of files that share votes, keyed (id1, id2) as the
// histograms are, and computeMatchStats, which makes it.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "sync/MatchStatistics.h"
#include "sync/PairHistogramMap.h"

namespace Trelis {

class MCFileSet;

using MatchStatsMap = std::map<std::pair<std::int32_t, std::int32_t>, MCMatchStats*>;

// A new map with the statistics of every pair, in key order; null when either argument is null.
// The histograms are only read.
MatchStatsMap* computeMatchStats(MCFileSet* fileSet, PairHistogramMap* pairHistograms);

// Deletes every record, then the map; ignores null.
void deleteMatchStats(MatchStatsMap* stats);

}  // namespace Trelis
