// The result report on standard output: one "CLUSTER" block per cluster, one line per recording
// with its name and its offset in seconds; and the listing of a cluster candidate's groups.
#pragma once

#include <ostream>

#include "ClusterResult.h"

namespace Trelis {

class ClusterCandidate;

// Floats in the stream's default format (six significant digits).
void printClusters(const ClusterResult& clusters);
void printCandidateGroups(const ClusterCandidate& candidate);

// The same report with every offset written with six decimals, so that long recordings keep
// their precision; `offsetOf` gives each element's offset in seconds.
template <typename OffsetOf>
void printClustersFixed(std::ostream& out, const ClusterResult& clusters, OffsetOf offsetOf);

}  // namespace Trelis

#include <iomanip>

template <typename OffsetOf>
void Trelis::printClustersFixed(std::ostream& out, const ClusterResult& clusters,
                                OffsetOf offsetOf) {
    const auto flags = out.flags();
    const auto precision = out.precision();
    out << std::fixed << std::setprecision(6);
    for (const ClusterSet* cluster : clusters) {
        out << "CLUSTER" << std::endl;
        for (const MCClusterElem* elem : *cluster) {
            out << "name: " << elem->name << " offset:" << offsetOf(*elem) << std::endl;
        }
    }
    out.flags(flags);
    out.precision(precision);
}
