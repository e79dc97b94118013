#include "SyncRun.h"

#include <pybind11/stl.h>

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "OutputCapture.h"
#include "PythonProgress.h"
#include "Settings.h"
#include "media/MediaLoader.h"
#include "results/JsonWriter.h"
#include "run/Analysis.h"
#include "run/FolderContents.h"

namespace py = pybind11;

namespace TrelisPython {

namespace {

// The program's rule for the files a plain run takes: the extension exactly "wav".
bool takenAsWave(const std::string& path) {
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           path.compare(dot, std::string::npos, ".wav") == 0;
}

py::tuple sync(const std::string& folder, const std::vector<std::string>& paths,
               const py::object& progressCallback, const py::kwargs& settingsGiven) {
    const Settings settings(settingsGiven, Settings::All);
    const Trelis::RunOptions options = settings.runOptions();

    Trelis::RunRequest request{folder, paths, settings.extract,
                               settings.clusterParams(settings.extract), options};
    if (paths.empty()) {
        Trelis::FolderContents contents;
        std::string error;
        if (!Trelis::readFolder(folder, options, contents, error)) {
            throw py::value_error("cannot read the folder " + folder + ": " + error);
        }
        request.paths = std::move(contents.paths);
    }
    const auto taken = static_cast<std::size_t>(
        options.allMedia ? request.paths.size()
                         : std::count_if(request.paths.begin(), request.paths.end(), takenAsWave));
    if (taken == 0) {
        throw py::value_error(options.allMedia
                                  ? "no file in " + folder + " that could be a recording"
                                  : "no WAVE file (.wav) in " + folder +
                                        " (media=\"all\" takes "
                                        "other files too)");
    }
    PythonProgress progress(progressCallback, options.verified);
    std::ostringstream json;
    std::string log;
    {
        const py::gil_scoped_release nogil;
        // Standard output is the process's: runs from several Python threads take turns, so that
        // each captures its own lines and gives the streams back as it found them.
        const std::lock_guard<std::mutex> turn(OutputCapture::turns());
        const OutputCapture capture(progress, taken);
        const Trelis::RunReport report = Trelis::analyse(request, &progress);
        Trelis::writeJsonReport(report, json);
        log = capture.text();
    }
    return py::make_tuple(json.str(), log);
}

}  // namespace

void addSync(py::module_& module) {
    // The media module lies beside libtrelis.so, not beside python3.
    Dl_info library{};
    if (dladdr(reinterpret_cast<void*>(&Trelis::deleteClusterResult), &library) != 0 &&
        library.dli_fname != nullptr) {
        Trelis::setMediaModuleFolder(
            std::filesystem::path(library.dli_fname).parent_path().string());
    }
    module.def("_sync", &sync, py::arg("folder"), py::arg("paths"), py::kw_only(),
               py::arg("progress") = py::none(),
               "_sync(folder, paths, *, progress=None, **settings) -> (json, log)\n\n"
               "The program's run over `paths` (or, when empty, the files of `folder`): its JSON "
               "and what it printed.");
}

}  // namespace TrelisPython
