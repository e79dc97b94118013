// The files of a run's folder: those directly in it, or with -recursive those of its subfolders
// too (not hidden ones, such as a card's .Trashes, nor those it may not read; links to folders
// are not followed). With -media all, the files that can't be recordings (a camera's sidecars)
// are set apart with the reason.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli/CommandLine.h"

namespace Trelis {

struct FolderContents {
    std::vector<std::string> paths;       // full paths, sorted by their path within the folder
    std::vector<std::string> subfolders;  // without -recursive: the subfolders left out
    std::vector<std::pair<std::string, std::string>> sidecars;  // path, why it is no recording
};

// False with the reason in `error` when the folder can't be listed.
bool readFolder(const std::string& folder, const RunOptions& options, FolderContents& contents,
                std::string& error);

}  // namespace Trelis
