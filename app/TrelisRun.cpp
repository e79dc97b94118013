#include "TrelisRun.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ClusterAligner.h"
#include "ClusterResult.h"
#include "CommandLine.h"
#include "Evaluation.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "ResultFiles.h"
#include "ResultReport.h"
#include "RunReport.h"
#include "SyncRefiner.h"
#include "SyncedOutput.h"
#include "TerminalProgress.h"
#include "extract/PathNames.h"
#include "sync/ClusteringRun.h"
#if TRELIS_WITH_MEDIA
#include "MediaExtraction.h"
#endif

namespace fs = std::filesystem;

namespace Trelis {

namespace {

// The regular files directly in `folder`, by name; an error message when it can't be listed.
bool listFolder(const std::string& folder, std::vector<std::string>& paths, std::string& error) {
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        error = code ? code.message() : (fs::exists(folder) ? "not a folder" : "no such folder");
        return false;
    }
    std::vector<std::pair<std::string, std::string>> named;
    fs::directory_iterator it(folder, code);
    for (; !code && it != fs::directory_iterator(); it.increment(code)) {
        std::error_code ignored;
        if (it->is_regular_file(ignored)) {
            named.emplace_back(it->path().filename().string(), it->path().string());
        }
    }
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

// The cluster parameters derived from the final extraction settings, with the tuned thresholds.
MCClusterSyncParams finalClusterParams(const MCExtractParams& extract,
                                       const MCClusterSyncParams& tuned) {
    MCClusterSyncParams params(extract);
    params.setMinPercentMatch(tuned.getMinPercentMatch());
    params.setMinOverlapLength(tuned.getMinOverlapLength());
    params.setMinTemplateLength(tuned.getMinTemplateLength());
    params.setMaxLandmarks(tuned.getMaxLandmarks());
    params.setAcceptThreshold(tuned.getAcceptThreshold());
    return params;
}

#if TRELIS_WITH_MEDIA
// One line on standard error when a plain run left out files that -media all would take.
void reportSkippedMedia(const std::vector<std::string>& paths, unsigned int sampleRate) {
    const int skipped = countSkippedMedia(paths, sampleRate);
    if (skipped > 0) {
        std::cerr << "[NOTE]: " << skipped << (skipped == 1 ? " file was" : " files were")
                  << " left out: other media, or WAVE at another sample rate than " << sampleRate
                  << " Hz; -media all decodes them" << std::endl;
    }
}
#endif

bool sameFolder(const std::string& a, const std::string& b) {
    std::error_code code;
    return fs::exists(a, code) && fs::exists(b, code) && fs::equivalent(a, b, code);
}

// Discards what is written to it: standard output's report, when the JSON goes there instead.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

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

// The run, with the stream that reaches the real standard output.
int runTrelisWith(int argc, char** argv, std::ostream& standardOutput) {
    std::string folder, truthFile, outputFolder;
    MCExtractParams extractParams;
    MCClusterSyncParams tuned(extractParams);
    RunOptions options;
    parseArguments(argc, argv, folder, truthFile, outputFolder, extractParams, tuned, options);
    const MCClusterSyncParams clusterParams = finalClusterParams(extractParams, tuned);

    std::vector<std::string> paths;
    std::string error;
    if (!listFolder(folder, paths, error)) {
        std::cerr << "[ERROR]: Cannot read the folder " << folder << ": " << error << std::endl;
        return 1;
    }
#if TRELIS_WITH_MEDIA
    if (options.allMedia) {
        paths = mediaCandidates(paths);
        if (paths.empty()) {
            std::cerr << "[ERROR]: No file in " << folder << std::endl;
            return 1;
        }
    }
#endif
    const bool anyWave = std::any_of(paths.begin(), paths.end(), isWavePath);
    if (!anyWave && !options.allMedia) {
        std::cerr << "[ERROR]: No WAVE file (.wav) in " << folder << std::endl;
#if TRELIS_WITH_MEDIA
        reportSkippedMedia(paths, extractParams.getSampleRate());
#endif
        return 1;
    }
    if (!outputFolder.empty() && sameFolder(outputFolder, folder)) {
        std::cerr << "[ERROR]: The output folder " << outputFolder
                  << " is the input folder; synchronized files go to a folder of their own"
                  << std::endl;
        return 1;
    }
    // Refused before the work rather than after it; the files are still created exclusively.
    for (const std::string& result : {options.jsonPath, options.timelinePath}) {
        std::error_code ignored;
        if (!result.empty() && result != "-" && fs::exists(fs::symlink_status(result, ignored))) {
            std::cerr << "[ERROR]: " << result << " already exists; it is not overwritten"
                      << std::endl;
            return 1;
        }
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

    MCLandmarkExtract extractor(extractParams);
    std::unique_ptr<MCFileSet> files;
    std::vector<std::string> mediaErrors;
#if TRELIS_WITH_MEDIA
    if (options.allMedia) {
        files.reset(extractMedia(extractor, paths, &mediaErrors));
    }
#endif
    if (!files) {
        files.reset(extractor.runAll(paths));
    }
    TerminalProgress progress;
    std::vector<MCMatchStats> accepted;
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> clusters(
        runClustering(clusterParams, files.get(), &progress, &accepted), deleteClusterResult);
    printClusters(*clusters);

    SyncRefiner refiner(files->idToPath, clusters.get());
    const bool referenced = refiner.refineClusters();
    std::map<int, double> refined;
    AlignmentSettings settings;
    const unsigned int extractRate = extractParams.getSampleRate();
    settings.sampleRate = options.refineRate != 0 ? options.refineRate : extractRate;
    // The extraction's hop, counted at the correlation's rate: the search spans two of them.
    settings.hopSize =
        static_cast<unsigned int>(static_cast<unsigned long long>(extractParams.getHopSize()) *
                                  settings.sampleRate / extractRate);
    settings.decodeAll = options.allMedia;
    const ClusterAligner aligner(files->idToPath, settings);
    for (const ClusterSet* cluster : *clusters) {
        const std::map<int, double> offsets =
            referenced ? aligner.align(*cluster) : std::map<int, double>();
        for (const MCClusterElem* elem : *cluster) {
            const auto found = offsets.find(elem->fileId);
            refined[elem->fileId] = found != offsets.end() ? found->second : elem->offset;
        }
    }
    std::ostringstream report;
    printClustersFixed(report, *clusters,
                       [&](const MCClusterElem& elem) { return refined.at(elem.fileId); });
    std::cout << "REFINED" << std::endl << report.str() << std::flush;

    if (!truthFile.empty()) {
        std::vector<FoundFile> found;
        int index = 0;
        for (const ClusterSet* cluster : *clusters) {
            for (const MCClusterElem* elem : *cluster) {
                found.push_back({fs::path(files->idToPath[elem->fileId]).filename().string(), index,
                                 elem->offset, refined.at(elem->fileId)});
            }
            ++index;
        }
        printEvaluation(truth, found, truthFile);
    }

    int status = 0;
    if (!outputFolder.empty()) {
        if (writeSyncedClusters(outputFolder, *clusters, files->idToPath, refined, report.str())) {
            std::cout << "Synchronized files written to " << outputFolder << std::endl;
        } else {
            status = 1;
        }
    }
    if (!options.jsonPath.empty() || !options.timelinePath.empty()) {
        RunReport result;
        result.extract = extractParams;
        result.cluster = clusterParams;
        result.allMedia = options.allMedia;
        result.refineRate = options.refineRate;
        std::vector<std::string> taken;
        std::copy_if(paths.begin(), paths.end(), std::back_inserter(taken),
                     [&](const std::string& p) { return options.allMedia || isWavePath(p); });
        result.files = describeInputs(taken, *files, mediaErrors, extractRate);
        result.clusters =
            reportClusters(*clusters, refined, accepted, clusterParams.getFramesPerSecond());
        for (const ReportCluster& cluster : result.clusters) {
            if (cluster.members.size() == 1) {
                result.unmatched.push_back(cluster.members.front().id);
            }
        }
        if (!writeResultFiles(options, result, standardOutput)) {
            status = 1;
        }
    }
#if TRELIS_WITH_MEDIA
    if (!options.allMedia) {
        reportSkippedMedia(paths, extractRate);
    }
#endif
    return status;
}

}  // namespace

int runTrelis(int argc, char** argv) {
    // With -json -, standard output carries the JSON alone.
    NullBuffer discard;
    const RestoreBuffer restore{std::cout.rdbuf()};
    std::ostream standardOutput(restore.buffer);
    if (jsonToStandardOutput(argc, argv)) {
        std::cout.rdbuf(&discard);
    }
    return runTrelisWith(argc, argv, standardOutput);
}

}  // namespace Trelis
