// RunReport: what a run found, gathered for the machine-readable outputs (JSON and timelines):
// every input file with its state, every cluster with its members' offsets and its accepted
// pairs: clusters in the result's order, as the text report and the -o folders list them,
// members by id, pairs by their ids.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ClusterAlignment.h"
#include "ClusterResult.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCMatchStats.h"
#include "PairMatch.h"
#include "evaluation/Evaluation.h"

namespace Trelis {

// What a recording holds, for placing it on a timeline.
struct RecordingInfo {
    long long frames = 0;  // at sampleRate
    int sampleRate = 0;
    int channels = 0;
    bool hasVideo = false;
    int frameRateNum = 0;  // of the video; 0 when there is none or it is unknown
    int frameRateDen = 1;
    int width = 0;  // pixels of the video
    int height = 0;
    int audioStream = 0;   // the audio stream taken, from 1, of media files; 0 for WAVE
    int audioStreams = 0;  // how many the file has
    int bitDepth = 0;      // bits per sample the file states; 0 when it states none (compressed)
    double videoSeconds = 0.0;  // the video stream's own length; 0 when unknown or no video
};

struct InputFile {
    int id = 0;
    std::string path;
    std::string name;    // base name, as in the reports
    std::string error;   // empty when the file was taken
    RecordingInfo info;  // filled for files that were taken and could be described
};

struct ReportMember {
    int id = 0;
    double offset = 0.0;        // seconds, frame-accurate
    double refined = 0.0;       // seconds, after the refinement
    MemberAlignment alignment;  // how the refined offset was found
};

struct ReportPair {
    int first = 0;
    int second = 0;
    double offset = 0.0;  // seconds that `second` starts after `first`
    double matches = 0.0;
    double overlap = 0.0;         // seconds
    double templateLength = 0.0;  // seconds
    double confidence = 0.0;
};

struct ReportCluster {
    int reference = -1;  // the member whose clock the refined offsets are on
    std::vector<ReportMember> members;
    std::vector<ReportPair> pairs;          // the accepted pairs, by the thresholds
    std::vector<PairMatch> linked;          // or the verified pairs, with -match verified
    std::vector<PairAlignment> alignments;  // every pair the refinement measured
};

struct RunReport {
    MCExtractParams extract;
    MCClusterSyncParams cluster{extract};
    bool allMedia = false;
    unsigned int refineRate = 0;
    bool refine = true;
    double maxDriftPpm = 0.0;
    bool driftCorrect = false;
    bool verified = false;         // -match verified
    bool perRecording = false;     // -popularity recording
    std::vector<InputFile> files;  // by id
    std::vector<ReportCluster> clusters;
    std::vector<int> unmatched;            // files in a cluster of their own
    std::vector<PairMatch> ambiguous;      // verified matching: pairs left unlinked
    std::optional<Evaluation> evaluation;  // with a ground-truth file
    // With -html: each readable file's loudness over its length (see LoudnessEnvelope), by id.
    std::map<int, std::vector<float>> envelopes;
};

// How sure an accepted match is, in [0, 1]: 1 - 10 / z, where z is how many spreads the winning
// bin stands above the mean bin of the pair's offset histogram, z = (matches - mean) / spread.
// Acceptance asks for z >= 10, so a pair at the edge of acceptance scores 0; z = 20 scores 0.5,
// z = 100 scores 0.9. Chance matches between unrelated recordings score below 0.1.
double matchConfidence(const MCMatchStats& stats);

// The clusters, their members and their accepted (or linked) pairs in report order. `aligned`
// holds the alignment of every cluster of `clusters`; `framesPerSecond` converts the statistics'
// frames to seconds.
std::vector<ReportCluster> reportClusters(
    const ClusterResult& clusters, const std::map<const ClusterSet*, ClusterAlignment>& aligned,
    const std::vector<MCMatchStats>& accepted, const std::vector<PairMatch>& linked,
    double framesPerSecond);

}  // namespace Trelis
