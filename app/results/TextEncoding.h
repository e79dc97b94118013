// How the result files write names and paths: valid UTF-8 without control characters, absolute
// paths, and file URLs.
#pragma once

#include <string>

namespace Trelis {

// `text` as valid UTF-8 (invalid bytes become U+FFFD) with control characters removed.
std::string cleanName(const std::string& text);

// "file://" and the absolute path, every byte but unreserved ones and "/" percent-encoded;
// `host` goes between the slashes ("localhost" for xmeml, empty for OTIO).
std::string fileUrl(const std::string& absolutePath, const std::string& host);

// `path` made absolute against the working folder and normalised.
std::string absolutePath(const std::string& path);

// The part of `path` after its last "/".
std::string fileNameOf(const std::string& path);

}  // namespace Trelis
