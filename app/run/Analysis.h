// The analysis of one run: the recordings extracted, matched into clusters and aligned, with the
// program's report written on standard output as it goes (the extraction's lines, the clusters,
// the refinement's notes and the refined offsets). What every result of the run is made from.
#pragma once

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

// Extraction, matching and alignment of `request`'s files; `progress` (may be null) follows the
// matching.
Analysis runAnalysis(const RunRequest& request, MCProgress* progress);

// What the machine-readable outputs say about `analysis`: settings, files, clusters and pairs
// (no evaluation and no loudness envelopes: those are asked for apart).
RunReport reportOf(const Analysis& analysis, const RunRequest& request);

// Both at once, for callers that want the result as data.
RunReport analyse(const RunRequest& request, MCProgress* progress);

}  // namespace Trelis
