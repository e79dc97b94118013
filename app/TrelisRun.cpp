#include "TrelisRun.h"

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

#include "ClusterResult.h"
#include "CommandLine.h"
#include "Evaluation.h"
#include "LoudnessEnvelope.h"
#include "MCClusterAligner.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "MCLandmarkExtract.h"
#include "MCRunParams.h"
#include "MCVerifiedSync.h"
#include "RecordingNames.h"
#include "RecordingSource.h"
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
// One line on standard error when a plain run left out files that -media all would take, naming
// each and why.
void reportSkippedMedia(const std::vector<std::string>& paths, unsigned int sampleRate) {
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
#endif

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

// Every member of `cluster` at its frame-accurate offset, unrefined for `reason` (a cluster of one
// is its own reference).
ClusterAlignment unaligned(const ClusterSet& cluster, AlignReason reason) {
    ClusterAlignment alignment;
    for (const MCClusterElem* elem : cluster) {
        MemberAlignment m;
        m.fileId = elem->fileId;
        m.frameOffset = elem->offset;
        m.offset = elem->offset;
        m.reason = reason;
        if (cluster.size() == 1) {
            m.status = MemberAlignment::Status::Reference;
            m.confidence = 1.0;
            alignment.reference = elem->fileId;
        }
        alignment.members.push_back(m);
    }
    return alignment;
}

// The sample-accurate alignment of every cluster, measuring the accepted pairs first, at the
// refinement rate. Clusters keep their frame-accurate offsets when refinement is off or the
// refinement pass found no reference.
std::map<const ClusterSet*, ClusterAlignment> alignClusters(
    const ClusterResult& clusters, const std::vector<std::pair<int, int>>& pairs,
    const std::map<int, std::string>& idToPath, const MCExtractParams& extract,
    const RunOptions& options, const MCRunParams& run, bool referenced) {
    const unsigned int extractRate = extract.getSampleRate();
    MCAlignParams params;
    params.setSampleRate(options.refineRate != 0 ? options.refineRate : extractRate);
    params.setMaxDriftPpm(options.maxDriftPpm);
    // Three frames either side, however long the frames are: the frame grid and the errors a
    // chain of matches adds to it.
    params.setSearchSeconds(std::max(
        params.getSearchSeconds(), 3.0 * extract.getHopSize() / static_cast<double>(extractRate)));
    RecordingSource source(idToPath, params.getSampleRate(), options.allMedia, options.audioStream);
    const MCClusterAligner aligner(params, run);
    std::map<const ClusterSet*, ClusterAlignment> aligned;
    for (const ClusterSet* cluster : clusters) {
        aligned[cluster] = options.refine && referenced
                               ? aligner.align(*cluster, pairs, source)
                               : unaligned(*cluster, AlignReason::Disabled);
    }
    return aligned;
}

// The clusters of verified matching, reading the recordings at the extraction rate; the linked and
// ambiguous pairs go to `matched`.
ClusterResult* verifiedClusters(const MCClusterSyncParams& clusterParams, MCFileSet& files,
                                unsigned int rate, const RunOptions& options,
                                const MCRunParams& run, std::vector<PairMatch>& matched,
                                TerminalProgress& progress) {
    MCVerifyParams verify;
    MCAlignParams align;
    align.setSampleRate(rate);
    verify.setAlign(align);
    verify.setMaxDriftPpm(options.maxDriftPpm);
    RecordingSource source(files.idToPath, rate, options.allMedia, options.audioStream);
    return MCVerifiedSync(clusterParams, verify, run).run(&files, source, &progress, &matched);
}

// Pairs that verified at two offsets alike, left unlinked: one line, when there are any.
void printAmbiguous(std::ostream& out, MCFileSet& files, const std::vector<PairMatch>& matched) {
    std::ostringstream line;
    for (const PairMatch& m : matched) {
        if (m.status == PairMatch::Status::Ambiguous) {
            line << (line.tellp() > 0 ? ", " : "") << files.idToName[m.first] << " and "
                 << files.idToName[m.second] << " (" << std::fixed << std::setprecision(2)
                 << m.alignment.offset << " s or " << m.rival.offset << " s)";
        }
    }
    if (line.tellp() > 0) {
        out << "Not linked, the sound agrees at two offsets: " << line.str() << std::endl;
    }
}

// After the refined offsets: the members that kept their frame-accurate offsets, with the
// reason; those refined only within a group that is not linked to the reference; and the clock
// drifts that were measured; each on one line, when there are any.
void printAlignmentNotes(std::ostream& out, const ClusterResult& clusters,
                         const std::map<const ClusterSet*, ClusterAlignment>& aligned) {
    std::ostringstream kept, grouped, drifts;
    for (const ClusterSet* cluster : clusters) {
        std::map<int, std::string> names;
        for (const MCClusterElem* elem : *cluster) {
            names[elem->fileId] = elem->name;
        }
        for (const MemberAlignment& m : aligned.at(cluster).members) {
            if (m.status == MemberAlignment::Status::Unrefined) {
                kept << (kept.tellp() > 0 ? ", " : "") << names[m.fileId] << " ("
                     << describe(m.reason) << ")";
            } else if (m.status == MemberAlignment::Status::Grouped) {
                grouped << (grouped.tellp() > 0 ? ", " : "") << names[m.fileId];
            } else if (m.status == MemberAlignment::Status::Refined && m.driftMeasured &&
                       std::fabs(m.driftPpm) >= std::max(1.0, 3.0 * m.driftError)) {
                // One decimal when the error allows it.
                drifts << (drifts.tellp() > 0 ? ", " : "") << names[m.fileId] << " " << std::showpos
                       << std::fixed << std::setprecision(m.driftError < 0.5 ? 1 : 0) << m.driftPpm
                       << std::noshowpos << " ppm";
            }
        }
    }
    if (kept.tellp() > 0) {
        out << "Not refined, frame-accurate offsets kept: " << kept.str() << std::endl;
    }
    if (grouped.tellp() > 0) {
        out << "Refined only within their own group, each group placed at its frame-accurate "
               "offset: "
            << grouped.str() << std::endl;
    }
    if (drifts.tellp() > 0) {
        out << "Clock drift against the cluster's reference: " << drifts.str() << std::endl;
    }
}

// The run, with the stream that reaches the real standard output.
int runTrelisWith(int argc, char** argv, std::ostream& standardOutput) {
    std::string folder, truthFile, outputFolder;
    MCExtractParams extractParams;
    MCClusterSyncParams tuned(extractParams);
    RunOptions options;
    parseArguments(argc, argv, folder, truthFile, outputFolder, extractParams, tuned, options);
    const MCClusterSyncParams clusterParams = finalClusterParams(extractParams, tuned);
    MCRunParams runParams;
    runParams.setThreads(options.threads);
    if (options.perRecording) {
        runParams.setPopularity(MCRunParams::Popularity::PerRecording);
    }
    if (extractParams.getHopSize() > extractParams.getFftSize()) {
        std::cerr << "[ERROR]: The hop size (" << extractParams.getHopSize()
                  << ") is larger than the FFT size (" << extractParams.getFftSize()
                  << "): frames would skip sound between them; give -hopsize at most -fftsize"
                  << std::endl;
        return 1;
    }

    std::vector<std::string> paths, subfolders;
    std::string error;
    if (!listFolder(folder, options.recursive, paths, subfolders, error)) {
        std::cerr << "[ERROR]: Cannot read the folder " << folder << ": " << error << std::endl;
        return 1;
    }
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
#if TRELIS_WITH_MEDIA
    if (options.allMedia) {
        std::vector<std::pair<std::string, std::string>> sidecars;
        paths = mediaCandidates(paths, &sidecars);
        if (!sidecars.empty()) {
            std::cerr << "[NOTE]: Not recordings, left out:";
            for (std::size_t k = 0; k < sidecars.size(); ++k) {
                std::cerr << (k == 0 ? " " : ", ")
                          << fs::path(sidecars[k].first).filename().string() << " ("
                          << sidecars[k].second << ")";
            }
            std::cerr << std::endl;
        }
        if (paths.empty()) {
            std::cerr << "[ERROR]: No file in " << folder << " that could be a recording"
                      << std::endl;
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
    if (!outputFolder.empty() && holdsEarlierResults(outputFolder)) {
        std::cerr << "[ERROR]: The output folder " << outputFolder
                  << " holds the results of an earlier run (clusters.txt, cluster_<n>); they are "
                     "not overwritten: give a new or empty folder"
                  << std::endl;
        return 1;
    }
    // Refused before the work rather than after it; the files are still created exclusively.
    for (const std::string& result : {options.jsonPath, options.timelinePath, options.htmlPath}) {
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
        files.reset(
            extractMedia(extractor, paths, options.audioStream, options.threads, &mediaErrors));
    }
#endif
    if (!files) {
        files.reset(extractor.runAll(paths, runParams));
    }
    // The files the extraction was given, ids from 1 in this order.
    std::vector<std::string> taken;
    std::copy_if(paths.begin(), paths.end(), std::back_inserter(taken),
                 [&](const std::string& p) { return options.allMedia || isWavePath(p); });
    const std::vector<std::string> names = recordingNames(taken, folder);
    nameRecordings(*files, names);
    TerminalProgress progress(options.verified);
    std::vector<MCMatchStats> accepted;
    std::vector<PairMatch> matched;
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> clusters(nullptr, deleteClusterResult);
    if (options.verified) {
        clusters.reset(verifiedClusters(clusterParams, *files, extractParams.getSampleRate(),
                                        options, runParams, matched, progress));
    } else {
        clusters.reset(runClustering(clusterParams, files.get(), &progress, &accepted, runParams));
    }
    printClusters(*clusters);
    printAmbiguous(std::cout, *files, matched);
    std::vector<std::pair<int, int>> linked;
    for (const MCMatchStats& stats : accepted) {
        linked.emplace_back(stats.id1, stats.id2);
    }
    for (const PairMatch& m : matched) {
        if (m.status == PairMatch::Status::Linked) {
            linked.emplace_back(m.first, m.second);
        }
    }

    SyncRefiner refiner(files->idToPath, clusters.get());
    const bool referenced = refiner.refineClusters();
    const unsigned int extractRate = extractParams.getSampleRate();
    const std::map<const ClusterSet*, ClusterAlignment> aligned = alignClusters(
        *clusters, linked, files->idToPath, extractParams, options, runParams, referenced);
    std::map<int, double> refined;
    for (const auto& [cluster, alignment] : aligned) {
        for (const MemberAlignment& m : alignment.members) {
            refined[m.fileId] = m.offset;
        }
    }
    std::ostringstream report;
    printClustersFixed(report, *clusters,
                       [&](const MCClusterElem& elem) { return refined.at(elem.fileId); });
    printAlignmentNotes(report, *clusters, aligned);
    std::cout << "REFINED" << std::endl << report.str() << std::flush;

    std::optional<Evaluation> evaluation;
    if (!truthFile.empty()) {
        std::vector<FoundFile> found;
        int index = 0;
        const auto fileName = [&](int id) {
            return fs::path(files->idToPath[id]).filename().string();
        };
        for (const ClusterSet* cluster : *clusters) {
            // Each member's refined offset is on its cluster's reference clock, or on its
            // group's.
            for (const MemberAlignment& m : aligned.at(cluster).members) {
                const int clock = m.status == MemberAlignment::Status::Grouped
                                      ? m.groupReference
                                      : aligned.at(cluster).reference;
                found.push_back({fileName(m.fileId), index, m.frameOffset, m.offset,
                                 clock >= 0 ? fileName(clock) : std::string()});
            }
            ++index;
        }
        evaluation = evaluate(truth, found);
        printEvaluation(*evaluation, truthFile);
    }

    int status = 0;
    if (!outputFolder.empty()) {
        std::map<int, double> drifts;
        for (const auto& [cluster, alignment] : aligned) {
            for (const MemberAlignment& m : alignment.members) {
                if (options.driftCorrect && m.driftMeasured &&
                    m.status == MemberAlignment::Status::Refined) {
                    drifts[m.fileId] = m.driftPpm;
                }
            }
        }
        if (writeSyncedClusters(outputFolder, *clusters, files->idToPath, refined, report.str(),
                                drifts, options.audioStream)) {
            std::cout << "Synchronized files written to " << outputFolder << std::endl;
        } else {
            status = 1;
        }
    }
    if (!options.jsonPath.empty() || !options.timelinePath.empty() || !options.htmlPath.empty()) {
        RunReport result;
        result.extract = extractParams;
        result.cluster = clusterParams;
        result.allMedia = options.allMedia;
        result.refineRate = options.refineRate;
        result.refine = options.refine;
        result.maxDriftPpm = options.maxDriftPpm;
        result.driftCorrect = options.driftCorrect;
        result.verified = options.verified;
        result.perRecording = options.perRecording;
        result.evaluation = evaluation;
        std::copy_if(matched.begin(), matched.end(), std::back_inserter(result.ambiguous),
                     [](const PairMatch& m) { return m.status == PairMatch::Status::Ambiguous; });
        result.files =
            describeInputs(taken, names, *files, mediaErrors, extractRate, options.audioStream);
        result.clusters = reportClusters(*clusters, aligned, accepted, matched,
                                         clusterParams.getFramesPerSecond());
        for (const ReportCluster& cluster : result.clusters) {
            if (cluster.members.size() == 1) {
                result.unmatched.push_back(cluster.members.front().id);
            }
        }
        if (!options.htmlPath.empty()) {
            // At the extraction rate, as the clustering heard them.
            std::vector<int> ids;
            for (const auto& entry : files->idToPath) {
                ids.push_back(entry.first);
            }
            RecordingSource source(files->idToPath, extractRate, options.allMedia,
                                   options.audioStream);
            result.envelopes = loudnessEnvelopes(ids, source, options.threads);
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
