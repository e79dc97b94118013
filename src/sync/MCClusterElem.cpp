#include "MCClusterElem.h"

#include <iostream>
#include <utility>

#include "ClusterResult.h"

namespace Trelis {

MCClusterElem::MCClusterElem(std::string elemName, int elemFileId, float elemOffset)
    : name(std::move(elemName)), fileId(elemFileId), offset(elemOffset) {}

void MCClusterElem::print() const {
    std::cout << "name: " << name << " offset:" << offset << std::endl;
}

void deleteClusterResult(ClusterResult* result) {
    if (result == nullptr) {
        return;
    }
    for (ClusterSet* cluster : *result) {
        for (MCClusterElem* elem : *cluster) {
            delete elem;
        }
        delete cluster;
    }
    delete result;
}

}  // namespace Trelis
