// Evaluation of a run against a ground-truth file:
//
//   <truth>
//     <cluster>
//       <file name="cam1.wav" offset="0.000"/>   offset in seconds after the earliest member;
//       <file name="cam2.wav" offset="3.200" drift="-12.5"/>   optional; drift: how many ppm
//     </cluster>                                 the device's clock ran fast, optional
//   </truth>
//
// Refined offsets are on the clock of their cluster's reference: when the truth gives that
// recording's drift, the true offsets are put on its clock before they are compared.
//
// Scores: pairwise precision, recall and F1 of the pairs of files placed together, the numbers of
// true and found clusters, and for pairs together in both, the median, 95th percentile and
// largest absolute error of their relative offset, for the frame-accurate and refined offsets.
// Only files both in the truth and in the run are scored; the others are named on standard error.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Trelis {

struct TruthFile {
    std::string name;
    int cluster;                   // index of its cluster in the file
    std::optional<double> offset;  // seconds
    double drift = 0.0;            // fraction: the clock's seconds per true second, less 1
};

// The files of a ground-truth file; throws std::runtime_error naming the file and the problem.
std::vector<TruthFile> readTruth(const std::string& path);

// What the run found for one file (by file name with its extension).
struct FoundFile {
    std::string name;
    int cluster;
    double frameOffset;     // seconds, frame-accurate
    double refinedOffset;   // seconds, refined
    std::string reference;  // file name of the recording whose clock refined offsets are on
};

// Absolute errors of the relative offsets of pairs, in milliseconds; percentiles by nearest rank.
struct OffsetErrors {
    std::size_t pairs = 0;  // the rest is 0 without a pair
    double median = 0.0;
    double p95 = 0.0;
    double max = 0.0;
};

struct Evaluation {
    std::size_t scored = 0;     // files in the truth and in the run
    std::size_t inTruth = 0;    // files the truth names
    std::size_t clustered = 0;  // files the run clustered
    std::size_t trueClusters = 0;
    std::size_t foundClusters = 0;
    std::size_t together = 0;      // pairs together in both
    std::size_t onlyInResult = 0;  // pairs together in the run only
    std::size_t onlyInTruth = 0;   // pairs together in the truth only
    double precision = 1.0;
    double recall = 1.0;
    double f1 = 1.0;
    OffsetErrors frameAccurate;
    OffsetErrors refined;
    std::vector<std::string> notInTruth;    // run files the truth does not name
    std::vector<std::string> notClustered;  // truth files the run did not cluster
};

// Scores `found` against `truth`.
Evaluation evaluate(const std::vector<TruthFile>& truth, const std::vector<FoundFile>& found);

// Prints the "EVALUATION" block on standard output, and names the files left out on standard
// error.
void printEvaluation(const Evaluation& evaluation, const std::string& truthPath);

}  // namespace Trelis
