// OffsetHistogram: the votes of one pair of files (id1 < id2), keyed by offset in STFT frames:
// the start frame of a landmark of file id1 minus that of a landmark with the same hash in file
// id2. Each vote lists the id1 landmark, so a bin's length is its number of votes. A positive
// offset means file id2 started that many frames after file id1. The landmarks stay their
// files'.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace Trelis {

struct Landmark;

using OffsetHistogram = std::map<std::int32_t, std::vector<Landmark*>>;

}  // namespace Trelis
