// MCClusterElem: one recording in a cluster of the result.
//
// `offset` is in seconds from the start of the earliest recording of the cluster to the start of
// this one: 0 for the earliest, and for a recording that matched nothing. `name` is the file's
// base name, a copy: an element does not refer to the file set it came from.
#pragma once

#include <string>

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCClusterElem {
public:
    MCClusterElem(std::string elemName, int elemFileId, float elemOffset);

    // "name: <name> offset:<offset>" on standard output.
    void print() const;

    std::string name;
    int fileId;
    float offset;
};

}  // namespace Trelis
