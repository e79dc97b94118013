#include "ClusterCandidate.h"

#include <limits>
#include <utility>

namespace Trelis {

void ClusterCandidate::initGroups(std::set<int> ids) {
    for (int id : ids) {
        groups[id] = std::map<int, float>{{id, 0.0f}};
    }
}

void ClusterCandidate::mergeGroups(int a, int b, float offset) {
    if (a == b) {
        return;
    }
    // The first group, in increasing key, that holds the id: its key (-1 when none) and entries.
    const auto groupOf = [this](int id) {
        for (const auto& group : groups) {
            if (group.second.count(id) != 0) {
                return std::make_pair(group.first, group.second);
            }
        }
        return std::make_pair(-1, std::map<int, float>());
    };
    auto [keyA, membersA] = groupOf(a);
    const auto [keyB, membersB] = groupOf(b);
    groups.erase(keyA);
    groups.erase(keyB);
    for (const auto& [file, start] : membersB) {
        membersA[file] = offset + start;
    }
    groups[keyA] = std::move(membersA);
}

void ClusterCandidate::normalizeOffsets() {
    for (auto& group : groups) {
        float smallest = std::numeric_limits<float>::infinity();
        for (const auto& member : group.second) {
            if (member.second <= smallest) {
                smallest = member.second;
            }
        }
        for (auto& member : group.second) {
            member.second -= smallest;
        }
    }
}

void ClusterCandidate::getGroups(std::set<std::map<int, float>>& out) const {
    out.clear();
    for (const auto& group : groups) {
        out.insert(group.second);
    }
}

}  // namespace Trelis
