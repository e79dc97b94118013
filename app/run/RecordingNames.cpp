#include "run/RecordingNames.h"

#include <filesystem>
#include <map>

#include "MCFileSet.h"
#include "PathNames.h"

namespace fs = std::filesystem;

namespace Trelis {

std::vector<std::string> recordingNames(const std::vector<std::string>& paths,
                                        const std::string& folder) {
    // Each rule applies where the one before gives a name twice (or none: a file without a ".").
    const auto shared = [](const std::vector<std::string>& names) {
        std::map<std::string, int> uses;
        for (const std::string& name : names) {
            ++uses[name];
        }
        std::vector<bool> twice;
        for (const std::string& name : names) {
            twice.push_back(name.empty() || uses[name] > 1);
        }
        return twice;
    };
    std::vector<std::string> names, fileNames;
    for (const std::string& path : paths) {
        names.push_back(baseNameOf(path));
        fileNames.push_back(fs::path(path).filename().string());
    }
    const std::vector<bool> baseShared = shared(names);
    const std::vector<bool> fileShared = shared(fileNames);
    for (std::size_t k = 0; k < paths.size(); ++k) {
        if (!baseShared[k]) {
            continue;
        }
        names[k] = fileNames[k];
        if (fileShared[k]) {
            names[k] = fs::path(paths[k]).lexically_relative(folder).generic_string();
        }
    }
    return names;
}

void nameRecordings(MCFileSet& set, const std::vector<std::string>& names) {
    set.nameToId.clear();
    for (auto& [id, name] : set.idToName) {
        if (id >= 1 && static_cast<std::size_t>(id) <= names.size()) {
            name = names[static_cast<std::size_t>(id) - 1];
        }
        set.nameToId[name] = id;
    }
}

}  // namespace Trelis
