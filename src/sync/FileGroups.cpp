#include "sync/FileGroups.h"

#include <map>
#include <memory>
#include <utility>

#include "MCFile.h"
#include "MCFileSet.h"

namespace Trelis {

namespace {

using Pair = std::pair<int, int>;

// Removes and returns the component holding `id`, or an empty set when none does.
std::set<int> takeComponent(std::set<std::set<int>>& components, int id) {
    for (auto it = components.begin(); it != components.end(); ++it) {
        if (it->count(id) != 0) {
            std::set<int> taken = *it;
            components.erase(it);
            return taken;
        }
    }
    return {};
}

// Fixes the offsets of one component by the greedy merge along its strongest links.
void mergeAlongStrongestLinks(ClusterCandidate& candidate, const std::set<int>& component,
                              std::map<Pair, float>& weights, std::map<Pair, float>& offsets) {
    std::set<int> remaining = component;
    while (remaining.size() > 1 && !weights.empty() && !offsets.empty()) {
        // The strongest link; among equal weights the last in key order.
        float bestWeight = 0.0f;
        Pair best{0, 0};
        for (const auto& [key, weight] : weights) {
            if (weight >= bestWeight) {
                bestWeight = weight;
                best = key;
            }
        }
        const int a = best.first;
        const int b = best.second;
        const float o = offsets[best];
        candidate.mergeGroups(a, b, o);
        weights.erase(best);
        offsets.erase(best);

        // Re-express b's links relative to a.
        for (const auto& entry : weights) {
            const Pair& key = entry.first;
            if (key.first == b) {
                offsets[key] = o + offsets[key];
            } else if (key.second == b) {
                offsets[key] = offsets[key] - o;
            }
        }
        // Move b's links to a, keeping the stronger; with equal weights a's own link stays.
        // New keys never hold b, so visiting them later in this walk changes nothing.
        for (const auto& entry : weights) {
            const Pair key = entry.first;
            const float weight = entry.second;
            float moved = offsets[key];
            Pair target;
            if (key.first == b) {
                target = a <= key.second ? Pair{a, key.second} : Pair{key.second, a};
                if (!(a <= key.second)) {
                    moved = -moved;
                }
            } else if (key.second == b) {
                target = key.first <= a ? Pair{key.first, a} : Pair{a, key.first};
                if (!(key.first <= a)) {
                    moved = -moved;
                }
            } else {
                continue;
            }
            if (weight > weights[target]) {
                offsets[target] = moved;
                weights[target] = weight;
            }
        }
        for (auto it = weights.begin(); it != weights.end();) {
            it =
                (it->first.first == b || it->first.second == b) ? weights.erase(it) : std::next(it);
        }
        for (auto it = offsets.begin(); it != offsets.end();) {
            it =
                (it->first.first == b || it->first.second == b) ? offsets.erase(it) : std::next(it);
        }
        remaining.erase(b);
    }
}

}  // namespace

void FileGroups::initFromFiles(MCFileSet* files) {
    if (files == nullptr) {
        return;
    }
    components.clear();
    for (const auto& entry : files->getFiles()) {
        components.insert(std::set<int>{entry.first});
    }
}

void FileGroups::joinComponents(int a, int b) {
    if (a == b) {
        return;
    }
    std::set<int> joined = takeComponent(components, a);
    const std::set<int> other = takeComponent(components, b);
    joined.insert(other.begin(), other.end());
    components.insert(std::move(joined));
}

std::set<ClusterCandidate*> FileGroups::buildCandidates(MatchStatsMap* stats) {
    std::set<ClusterCandidate*> result;
    for (const std::set<int>& component : components) {
        std::unique_ptr<ClusterCandidate> candidate(new ClusterCandidate());
        candidate->initGroups(component);
        std::map<Pair, float> weights;
        std::map<Pair, float> offsets;
        if (stats != nullptr) {
            for (auto a = component.begin(); a != component.end(); ++a) {
                for (auto b = std::next(a); b != component.end(); ++b) {
                    const auto found = stats->find({*a, *b});
                    if (found != stats->end() && found->second != nullptr &&
                        found->second->accepted) {
                        weights[{*a, *b}] = found->second->matchCount;
                        offsets[{*a, *b}] = found->second->offset;
                    }
                }
            }
        }
        mergeAlongStrongestLinks(*candidate, component, weights, offsets);
        candidate->normalizeOffsets();
        result.insert(candidate.release());
    }
    return result;
}

}  // namespace Trelis
