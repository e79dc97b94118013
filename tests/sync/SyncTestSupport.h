// Hand-made fingerprints for the matching and clustering tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCMatchStats.h"
#include "MCPairVotes.h"
#include "MCProgress.h"

namespace TrelisTest {

// Adds a record with landmarks (frame, hash) to the set, named "f<id>".
inline Trelis::MCFile* addRecord(Trelis::MCFileSet& set, int id,
                                 std::initializer_list<std::pair<int, std::uint32_t>> landmarks) {
    auto* file = new Trelis::MCFile(id);
    for (const auto& [frame, hash] : landmarks) {
        file->addLandmark(new Trelis::Landmark{frame, file, hash});
    }
    set.addFile(file);
    set.idToName[id] = "f" + std::to_string(id);
    return file;
}

// Records every call, in order: stages as "S<n>", fractions as "P<fraction>"; and each kind alone.
class RecordingProgress : public Trelis::MCProgress {
public:
    bool setProgress(float fraction) override {
        calls.push_back("P" + std::to_string(fraction));
        fractions.push_back(fraction);
        return true;
    }
    bool setStage(int stage) override {
        calls.push_back("S" + std::to_string(stage));
        stages.push_back(stage);
        return true;
    }
    std::vector<std::string> calls;
    std::vector<float> fractions;
    std::vector<int> stages;
};

// The set as a machine without the landmarks knows it: ids, names and landmark counts.
inline void copyCounts(Trelis::MCFileSet& set, Trelis::MCFileSet& counts) {
    for (const auto& [id, file] : set.getFiles()) {
        std::vector<int> cumulative;
        for (const auto& [frame, total] : file->clf) {
            cumulative.push_back(total);
        }
        auto* record = new Trelis::MCFile(id);
        record->setLandmarkCounts(file->getFirstFrame(), cumulative);
        counts.addFile(record);
        counts.idToName[id] = set.idToName.at(id);
    }
}

// The set's votes gathered in `parts` partitions by hash (landmarks shuffled), then summed.
inline Trelis::MCPairVotes partitionedVotes(Trelis::MCFileSet& set, unsigned parts,
                                            unsigned maxLandmarks, bool perRecording,
                                            std::mt19937& rng) {
    std::vector<std::vector<std::uint32_t>> hashes(parts);
    std::vector<std::vector<std::int32_t>> ids(parts), times(parts);
    std::vector<const Trelis::Landmark*> all;
    for (const auto& [id, file] : set.getFiles()) {
        for (const auto& [frame, landmarks] : file->landmarks) {
            all.insert(all.end(), landmarks.begin(), landmarks.end());
        }
    }
    std::shuffle(all.begin(), all.end(), rng);
    for (const Trelis::Landmark* l : all) {
        const unsigned p = (l->hash * 2654435761u >> 7) % parts;
        hashes[p].push_back(l->hash);
        ids[p].push_back(l->file->getId());
        times[p].push_back(l->time);
    }
    Trelis::MCPairVotes sum;
    for (unsigned p = 0; p < parts; ++p) {
        sum.add(Trelis::MCPairVotes::fromLandmarks(hashes[p].data(), ids[p].data(), times[p].data(),
                                                   hashes[p].size(), maxLandmarks, perRecording));
    }
    return sum;
}

// Expects every measured field of the two statistics to hold the same bits.
inline void expectSameBits(const Trelis::MCMatchStats& got, const Trelis::MCMatchStats& want) {
    const float a[] = {
        got.matchCount,         got.offset,         got.overlapLength,  got.overlapLandmarksF1,
        got.overlapLandmarksF2, got.percentMatchF1, got.percentMatchF2, got.templateLength,
        got.histMean,           got.histStd};
    const float b[] = {
        want.matchCount,         want.offset,         want.overlapLength,  want.overlapLandmarksF1,
        want.overlapLandmarksF2, want.percentMatchF1, want.percentMatchF2, want.templateLength,
        want.histMean,           want.histStd};
    for (std::size_t k = 0; k < std::size(a); ++k) {
        EXPECT_EQ(std::memcmp(&a[k], &b[k], sizeof(float)), 0)
            << "field " << k << ": " << a[k] << " against " << b[k];
    }
}

}  // namespace TrelisTest
