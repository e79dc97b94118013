// OrderedClusterElements: the order of a cluster's members, by increasing file id, so a cluster
// lists its members in that order and holds at most one element per file.
#pragma once

#include "MCClusterElem.h"

namespace Trelis {

struct OrderedClusterElements {
    bool operator()(const MCClusterElem* a, const MCClusterElem* b) const {
        return a->fileId < b->fileId;
    }
};

}  // namespace Trelis
