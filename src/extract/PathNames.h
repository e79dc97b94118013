// How file lists name their files: the extension that selects WAVE files and the base name that
// identifies a file in reports and ground truth.
#pragma once

#include <string>

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

}  // namespace Trelis
