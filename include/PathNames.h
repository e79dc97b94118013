// How file lists name their files: the extension that selects WAVE files and the base name that
// identifies a file in reports and ground truth, under which a record joins its file set.
#pragma once

#include <string>

#include "MCFile.h"
#include "MCFileSet.h"

namespace Trelis {

// Text after the last "." of the whole path; empty without a ".".
inline std::string extensionOf(const std::string& path) {
    const auto dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

// The part after the last "/", cut before its last "."; empty when that part has no ".".
inline std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string part = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = part.rfind('.');
    return dot == std::string::npos ? std::string() : part.substr(0, dot);
}

// A path the WAVE reader is meant for (case matters, as in the file lists).
inline bool isWavePath(const std::string& path) {
    return extensionOf(path) == "wav";
}

// Hands `file` (owned from now on by `set`) to `set`, named after `path`.
inline void addNamedFile(MCFileSet& set, MCFile* file, const std::string& path) {
    const std::string baseName = baseNameOf(path);
    const int id = file->getId();
    set.nameToId[baseName] = id;
    set.idToName[id] = baseName;
    set.idToPath[id] = path;
    set.addFile(file);
}

}  // namespace Trelis
