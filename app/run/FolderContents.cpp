#include "run/FolderContents.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "media/MediaExtraction.h"

namespace fs = std::filesystem;

namespace Trelis {

namespace {

// The regular files of `folder`, by their path within it: those directly in it, or under
// `recursive` those of every subfolder too (but hidden ones, such as a card's .Trashes, and those
// it may not read; links to folders are not followed, so a loop can't be). Without `recursive`,
// the names of the subfolders left out. An error message when the folder can't be listed.
bool listFolder(const std::string& folder, bool recursive, std::vector<std::string>& paths,
                std::vector<std::string>& subfolders, std::string& error) {
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        error = code ? code.message() : (fs::exists(folder) ? "not a folder" : "no such folder");
        return false;
    }
    const fs::directory_iterator top(folder, code);  // the folder itself must be readable
    if (code) {
        error = code.message();
        return false;
    }
    std::vector<std::pair<std::string, std::string>> named;  // path within, full path
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                        code);
    for (; !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
        std::error_code ignored;
        const std::string name = it->path().filename().string();
        if (it->is_directory(ignored)) {
            if (!recursive) {
                subfolders.push_back(name);
            }
            if (!recursive || name.rfind('.', 0) == 0) {
                it.disable_recursion_pending();
            }
        } else if (it->is_regular_file(ignored)) {
            named.emplace_back(it->path().lexically_relative(folder).generic_string(),
                               it->path().string());
        }
    }
    std::sort(subfolders.begin(), subfolders.end());
    if (code) {
        error = code.message();
        return false;
    }
    std::sort(named.begin(), named.end());
    for (auto& entry : named) {
        paths.push_back(entry.second);
    }
    return true;
}

}  // namespace

bool readFolder(const std::string& folder, const RunOptions& options, FolderContents& contents,
                std::string& error) {
    contents = FolderContents();
    if (!listFolder(folder, options.recursive, contents.paths, contents.subfolders, error)) {
        return false;
    }
    if (options.allMedia) {
        contents.paths = mediaCandidates(contents.paths, &contents.sidecars);
    }
    return true;
}

}  // namespace Trelis
