// The result of clustering: a set of clusters, each a set of MCClusterElem.
//
// A ClusterSet lists its members by increasing file id. The ClusterResult orders its clusters by
// their addresses: the order of clusters means nothing. Everything in a result is allocated on
// the heap and belongs to the caller of MCClusterSync::run, who deletes the elements, then the
// cluster sets, then the result (deleteClusterResult does all three).
#pragma once

#include <set>

#include "MCClusterElem.h"
#include "OrderedClusterElements.h"
#include "TrelisExport.h"

namespace Trelis {

using ClusterSet = std::set<MCClusterElem*, OrderedClusterElements>;
using ClusterResult = std::set<ClusterSet*>;

// Deletes every element, every cluster set and the result; ignores null.
TRELIS_EXPORT void deleteClusterResult(ClusterResult* result);

}  // namespace Trelis
