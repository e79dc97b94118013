// PairHistogramMap: one OffsetHistogram per pair of files that received at least one vote, keyed
// (id1, id2) with id1 < id2, in lexicographic order of signed ids. The map and its histograms are
// allocated by the landmark index and deleted by their receiver (deletePairHistograms).
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "OffsetHistogram.h"

namespace Trelis {

using PairHistogramMap = std::map<std::pair<std::int32_t, std::int32_t>, OffsetHistogram*>;

// Deletes every histogram, then the map; ignores null.
inline void deletePairHistograms(PairHistogramMap* map) {
    if (map == nullptr) {
        return;
    }
    for (auto& entry : *map) {
        delete entry.second;
    }
    delete map;
}

}  // namespace Trelis
