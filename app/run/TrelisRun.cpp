#include "run/TrelisRun.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "PathNames.h"
#include "cli/CommandLine.h"
#include "cli/TerminalProgress.h"
#include "evaluation/Evaluation.h"
#include "media/MediaExtraction.h"
#include "media/MediaLoader.h"
#include "output/SyncedOutput.h"
#include "results/LoudnessEnvelope.h"
#include "results/ResultFiles.h"
#include "results/RunReport.h"
#include "run/Analysis.h"
#include "run/FolderContents.h"
#include "run/RecordingSource.h"

namespace fs = std::filesystem;

namespace Trelis {

namespace {

// One line on standard error when a plain run left out files that -media all would take, naming
// each and why.
void reportSkippedMedia(const std::vector<std::string>& paths, unsigned int sampleRate) {
    if (!mediaDecoderBuilt()) {
        return;
    }
    const auto skipped = skippedMedia(paths, sampleRate);
    if (skipped.empty()) {
        return;
    }
    std::cerr << "[NOTE]: " << skipped.size() << (skipped.size() == 1 ? " file was" : " files were")
              << " left out, -media all decodes them:";
    for (std::size_t k = 0; k < skipped.size(); ++k) {
        std::cerr << (k == 0 ? " " : ", ") << fs::path(skipped[k].first).filename().string() << " ("
                  << skipped[k].second << ")";
    }
    std::cerr << std::endl;
}

bool sameFolder(const std::string& a, const std::string& b) {
    std::error_code code;
    return fs::exists(a, code) && fs::exists(b, code) && fs::equivalent(a, b, code);
}

// Gives standard output its buffer back however the run ends.
struct RestoreBuffer {
    std::streambuf* buffer;
    ~RestoreBuffer() { std::cout.rdbuf(buffer); }
};

bool jsonToStandardOutput(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "-json" && std::string(argv[i + 1]) == "-") {
            return true;
        }
    }
    return false;
}

// True when `folder` holds what -o writes (clusters.txt, cluster_<n> folders): a second run into
// it would be refused file by file only after the whole analysis.
bool holdsEarlierResults(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name == "clusters.txt" || name.rfind("cluster_", 0) == 0) {
            return true;
        }
    }
    return false;
}

// The notes on what the folder held beyond the recordings; false after an error when a -media all
// run has nothing to take.
bool reportFolder(const std::string& folder, const FolderContents& contents,
                  const RunOptions& options, unsigned int sampleRate) {
    const auto& subfolders = contents.subfolders;
    if (!subfolders.empty()) {
        std::cerr << "[NOTE]: " << subfolders.size()
                  << (subfolders.size() == 1 ? " subfolder was" : " subfolders were")
                  << " not searched, only the files directly in " << folder
                  << " (-recursive takes subfolders too):";
        for (std::size_t k = 0; k < subfolders.size(); ++k) {
            std::cerr << (k == 0 ? " " : ", ") << subfolders[k];
        }
        std::cerr << std::endl;
    }
    if (options.allMedia) {
        const auto& sidecars = contents.sidecars;
        if (!sidecars.empty()) {
            std::cerr << "[NOTE]: Not recordings, left out:";
            for (std::size_t k = 0; k < sidecars.size(); ++k) {
                std::cerr << (k == 0 ? " " : ", ")
                          << fs::path(sidecars[k].first).filename().string() << " ("
                          << sidecars[k].second << ")";
            }
            std::cerr << std::endl;
        }
        if (contents.paths.empty()) {
            std::cerr << "[ERROR]: No file in " << folder << " that could be a recording"
                      << std::endl;
            return false;
        }
    }
    const bool anyWave = std::any_of(contents.paths.begin(), contents.paths.end(), isWavePath);
    if (!anyWave && !options.allMedia) {
        std::cerr << "[ERROR]: No WAVE file (.wav) in " << folder << std::endl;
        reportSkippedMedia(contents.paths, sampleRate);
        return false;
    }
    return true;
}

// The refusals made before the work rather than after it: results are never written over what
// the user has (the files are still created exclusively).
bool outputsAreFree(const std::string& folder, const std::string& outputFolder,
                    const RunOptions& options) {
    if (!outputFolder.empty() && sameFolder(outputFolder, folder)) {
        std::cerr << "[ERROR]: The output folder " << outputFolder
                  << " is the input folder; synchronized files go to a folder of their own"
                  << std::endl;
        return false;
    }
    if (!outputFolder.empty() && holdsEarlierResults(outputFolder)) {
        std::cerr << "[ERROR]: The output folder " << outputFolder
                  << " holds the results of an earlier run (clusters.txt, cluster_<n>); they are "
                     "not overwritten: give a new or empty folder"
                  << std::endl;
        return false;
    }
    for (const std::string& result : {options.jsonPath, options.timelinePath, options.htmlPath}) {
        std::error_code ignored;
        if (!result.empty() && result != "-" && fs::exists(fs::symlink_status(result, ignored))) {
            std::cerr << "[ERROR]: " << result << " already exists; it is not overwritten"
                      << std::endl;
            return false;
        }
    }
    return true;
}

// The clusters found against the ground truth, printed and returned.
Evaluation evaluateAnalysis(const Analysis& analysis, const std::vector<TruthFile>& truth,
                            const std::string& truthFile) {
    std::vector<FoundFile> found;
    int index = 0;
    const auto fileName = [&](int id) {
        return fs::path(analysis.files->idToPath.at(id)).filename().string();
    };
    for (const ClusterSet* cluster : *analysis.clusters) {
        // Each member's refined offset is on its cluster's reference clock, or on its group's.
        const ClusterAlignment& alignment = analysis.aligned.at(cluster);
        for (const MemberAlignment& m : alignment.members) {
            const int clock = m.status == MemberAlignment::Status::Grouped ? m.groupReference
                                                                           : alignment.reference;
            found.push_back({fileName(m.fileId), index, m.frameOffset, m.offset,
                             clock >= 0 ? fileName(clock) : std::string()});
        }
        ++index;
    }
    Evaluation evaluation = evaluate(truth, found);
    printEvaluation(evaluation, truthFile);
    return evaluation;
}

// -o: every cluster's members padded onto one time line, resampled onto the reference clock with
// -driftcorrect.
bool writeSynchronized(const Analysis& analysis, const std::string& outputFolder,
                       const RunOptions& options) {
    std::map<int, double> drifts;
    for (const auto& entry : analysis.aligned) {
        for (const MemberAlignment& m : entry.second.members) {
            if (options.driftCorrect && m.driftMeasured &&
                m.status == MemberAlignment::Status::Refined) {
                drifts[m.fileId] = m.driftPpm;
            }
        }
    }
    if (!writeSyncedClusters(outputFolder, *analysis.clusters, analysis.files->idToPath,
                             analysis.refined, analysis.refinedReport, drifts,
                             options.audioStream)) {
        return false;
    }
    std::cout << "Synchronized files written to " << outputFolder << std::endl;
    return true;
}

// -json, -timeline and -html.
bool writeResults(const Analysis& analysis, const RunRequest& request,
                  const std::optional<Evaluation>& evaluation, std::ostream& standardOutput) {
    const RunOptions& options = request.options;
    RunReport result = reportOf(analysis, request);
    result.evaluation = evaluation;
    if (!options.htmlPath.empty()) {
        // At the extraction rate, as the clustering heard them.
        const std::map<int, std::string>& idToPath = analysis.files->idToPath;
        std::vector<int> ids;
        for (const auto& entry : idToPath) {
            ids.push_back(entry.first);
        }
        RecordingSource source(idToPath, request.extract.getSampleRate(), options.allMedia,
                               options.audioStream);
        result.envelopes = loudnessEnvelopes(ids, source, options.threads);
    }
    return writeResultFiles(options, result, standardOutput);
}

// The run, with the stream that reaches the real standard output.
int runTrelisWith(int argc, char** argv, std::ostream& standardOutput) {
    std::string folder, truthFile, outputFolder;
    MCExtractParams extractParams;
    MCClusterSyncParams tuned(extractParams);
    RunOptions options;
    parseArguments(argc, argv, folder, truthFile, outputFolder, extractParams, tuned, options);
    if (extractParams.getHopSize() > extractParams.getFftSize()) {
        std::cerr << "[ERROR]: The hop size (" << extractParams.getHopSize()
                  << ") is larger than the FFT size (" << extractParams.getFftSize()
                  << "): frames would skip sound between them; give -hopsize at most -fftsize"
                  << std::endl;
        return 1;
    }
    FolderContents contents;
    std::string error;
    if (!readFolder(folder, options, contents, error)) {
        std::cerr << "[ERROR]: Cannot read the folder " << folder << ": " << error << std::endl;
        return 1;
    }
    if (!reportFolder(folder, contents, options, extractParams.getSampleRate()) ||
        !outputsAreFree(folder, outputFolder, options)) {
        return 1;
    }
    std::vector<TruthFile> truth;
    if (!truthFile.empty()) {
        try {
            truth = readTruth(truthFile);
        } catch (const std::exception& e) {
            std::cerr << "[ERROR]: Bad ground-truth file " << e.what() << std::endl;
            return 1;
        }
    }

    const RunRequest request{folder, contents.paths, extractParams,
                             tuned.withExtraction(extractParams), options};
    TerminalProgress progress(options.verified);
    const Analysis analysis = runAnalysis(request, &progress);
    std::optional<Evaluation> evaluation;
    if (!truthFile.empty()) {
        evaluation = evaluateAnalysis(analysis, truth, truthFile);
    }
    int status = 0;
    if (!outputFolder.empty() && !writeSynchronized(analysis, outputFolder, options)) {
        status = 1;
    }
    if ((!options.jsonPath.empty() || !options.timelinePath.empty() || !options.htmlPath.empty()) &&
        !writeResults(analysis, request, evaluation, standardOutput)) {
        status = 1;
    }
    if (!options.allMedia) {
        reportSkippedMedia(contents.paths, extractParams.getSampleRate());
    }
    return status;
}

}  // namespace

int runTrelis(int argc, char** argv) {
    // With -json -, standard output carries the JSON alone, and what it would have carried goes
    // to standard error, where the parser's refusals and the report stay in sight.
    const RestoreBuffer restore{std::cout.rdbuf()};
    std::ostream standardOutput(restore.buffer);
    if (jsonToStandardOutput(argc, argv)) {
        std::cout.rdbuf(std::cerr.rdbuf());
    }
    // A fault the library reports ends the run with its message rather than an abort, which
    // would lose the buffered output too.
    try {
        return runTrelisWith(argc, argv, standardOutput);
    } catch (const std::exception& e) {
        std::cout << std::flush;
        std::cerr << "[ERROR]: Trelis stopped: " << e.what() << std::endl;
        return 1;
    }
}

}  // namespace Trelis
