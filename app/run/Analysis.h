// The analysis of one run: the recordings extracted, matched into clusters and aligned, with the
// program's report written on standard output as it goes (the extraction's lines, the clusters,
// the refinement's notes and the refined offsets). What every result of the run is made from.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ClusterAlignment.h"
#include "ClusterResult.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFileSet.h"
#include "MCMatchStats.h"
#include "PairMatch.h"
#include "cli/CommandLine.h"
#include "results/RunReport.h"

namespace Trelis {

class MCProgress;

// What one run is asked to analyse.
struct RunRequest {
    std::string folder;              // reports name the files by their paths within it
    std::vector<std::string> paths;  // the folder's files (see FolderContents), in order
    MCExtractParams extract;
    MCClusterSyncParams cluster{extract};  // the thresholds, at the extraction's frame rate
    RunOptions options;
};

struct Analysis {
    std::vector<std::string> taken;        // the files the extraction was given: ids from 1
    std::vector<std::string> names;        // their names in every report, by id - 1
    std::vector<std::string> mediaErrors;  // with -media all, why each file was left out
    std::unique_ptr<MCFileSet> files;
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> clusters{nullptr, deleteClusterResult};
    std::vector<MCMatchStats> accepted;  // the accepted pairs, without -match verified
    std::vector<PairMatch> matched;      // the verified pairs, linked or ambiguous
    std::map<const ClusterSet*, ClusterAlignment> aligned;  // every cluster's alignment
    std::map<int, double> refined;                          // every file's refined offset, by id
    std::string refinedReport;                              // the report's lines after "REFINED"
};

// Fingerprints and clusters made elsewhere: a run whose matching is spread over several machines
// (the Python module's trelis.distributed) still aligns and reports on one, as the program does,
// so the run takes its file set and clusters from here instead of extracting and matching.
struct MatchingElsewhere {
    // The set of the files taken that could be read (ids from 1 in the order of `taken`, names and
    // paths; the records need no landmarks), and, for -media all, why each other one could not
    // (one entry per file, empty for those read).
    std::function<MCFileSet*(const std::vector<std::string>& taken,
                             std::vector<std::string>& mediaErrors)>
        files;
    // The clusters of the named set, with the accepted pairs they were joined on (or, with
    // -match verified, the linked and ambiguous pairs).
    std::function<ClusterResult*(MCFileSet& files, std::vector<MCMatchStats>& accepted,
                                 std::vector<PairMatch>& matched)>
        clusters;
};

// Extraction, matching and alignment of `request`'s files; `progress` (may be null) follows the
// matching. With `elsewhere`, its file set and clusters replace the extraction and the matching
// (of either mode).
Analysis runAnalysis(const RunRequest& request, MCProgress* progress,
                     const MatchingElsewhere* elsewhere = nullptr);

// What the machine-readable outputs say about `analysis`: settings, files, clusters and pairs
// (no evaluation and no loudness envelopes: those are asked for apart).
RunReport reportOf(const Analysis& analysis, const RunRequest& request);

// Both at once, for callers that want the result as data.
RunReport analyse(const RunRequest& request, MCProgress* progress);

}  // namespace Trelis
