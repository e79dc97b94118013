#include "MCFileSet.h"

#include "MCFile.h"

namespace Trelis {

MCFileSet::MCFileSet() : currentId(0) {}

MCFileSet::~MCFileSet() {
    for (auto& entry : files) {
        delete entry.second;
        entry.second = nullptr;
    }
}

MCFile* MCFileSet::addFile(MCFile* file) {
    if (file == nullptr) {
        return nullptr;
    }
    currentId = file->getId();
    files.emplace(currentId, file);
    return file;
}

void MCFileSet::addLandmark(Landmark* landmark) {
    if (landmark == nullptr) {
        return;
    }
    auto found = files.find(currentId);
    if (found != files.end()) {
        found->second->addLandmark(landmark);
    }
}

}  // namespace Trelis
