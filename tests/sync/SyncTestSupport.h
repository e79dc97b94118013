// Hand-made fingerprints for the matching and clustering tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
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

// Records every call, in order: stages as "S<n>", fractions as "P<fraction>".
class RecordingProgress : public Trelis::MCProgress {
public:
    bool setProgress(float fraction) override {
        calls.push_back("P" + std::to_string(fraction));
        fractions.push_back(fraction);
        return true;
    }
    bool setStage(int stage) override {
        calls.push_back("S" + std::to_string(stage));
        return true;
    }
    std::vector<std::string> calls;
    std::vector<float> fractions;
};

}  // namespace TrelisTest
