// Cluster results made by hand, owned by the test.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ClusterResult.h"
#include "MCClusterElem.h"

namespace TrelisTest {

using Result = std::unique_ptr<Trelis::ClusterResult, void (*)(Trelis::ClusterResult*)>;

// A result with clusters of (file id, name, offset) members.
inline Result makeResult(
    const std::vector<std::vector<std::tuple<int, std::string, float>>>& clusters) {
    Result result(new Trelis::ClusterResult(), Trelis::deleteClusterResult);
    for (const auto& members : clusters) {
        auto* cluster = new Trelis::ClusterSet();
        result->insert(cluster);
        for (const auto& [id, name, offset] : members) {
            cluster->insert(new Trelis::MCClusterElem(name, id, offset));
        }
    }
    return result;
}

}  // namespace TrelisTest
