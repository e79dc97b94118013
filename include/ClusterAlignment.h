// ClusterAlignment: the alignment of one cluster: its members with their offsets, and every pair
// that was measured.
#pragma once

#include <vector>

#include "MemberAlignment.h"
#include "PairAlignment.h"

namespace Trelis {

struct ClusterAlignment {
    int reference = -1;                    // file id of the reference; -1 when none was measured
    std::vector<MemberAlignment> members;  // by increasing file id
    std::vector<PairAlignment> pairs;      // by first, then second id
};

}  // namespace Trelis
