#include "results/TextReport.h"

#include <iostream>

#include "ClusterCandidate.h"

namespace Trelis {

void printClusters(const ClusterResult& clusters) {
    for (const ClusterSet* cluster : clusters) {
        std::cout << "CLUSTER" << std::endl;
        for (const MCClusterElem* elem : *cluster) {
            elem->print();
        }
    }
}

void printCandidateGroups(const ClusterCandidate& candidate) {
    for (const auto& group : candidate.groups) {
        std::cout << "Cluster" << std::endl;
        for (const auto& [fileId, offset] : group.second) {
            std::cout << "File: " << fileId << " Offset:" << offset << std::endl;
        }
    }
}

}  // namespace Trelis
