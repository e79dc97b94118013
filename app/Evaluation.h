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

// Prints the "EVALUATION" block on standard output.
void printEvaluation(const std::vector<TruthFile>& truth, const std::vector<FoundFile>& found,
                     const std::string& truthPath);

}  // namespace Trelis
