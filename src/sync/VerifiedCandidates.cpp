#include "sync/VerifiedCandidates.h"

#include <cmath>
#include <map>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"
#include "align/PairVerifier.h"
#include "sync/FlatLandmarkIndex.h"

namespace Trelis {

namespace {

// Frames searched beyond a candidate's box: the frame grid, and the box's centre off its peak.
constexpr double kSearchFrames = 2.0;

void announce(MCProgress* progress, int stage) {
    if (progress != nullptr) {
        progress->setStage(stage);
    }
}

}  // namespace

VerifiedCandidates::VerifiedCandidates(const MCClusterSyncParams& params,
                                       const MCVerifyParams& verify)
    : params_(params), verify_(verify) {}

std::vector<VerifiedCandidates::Entry> VerifiedCandidates::run(MCFileSet& files,
                                                               MCRecordingSource& source,
                                                               MCProgress* progress) const {
    announce(progress, 0);
    std::map<int, long long> frames;  // each file's length, as far as its landmarks reach
    for (auto& [id, file] : files.getFiles()) {
        file->computeCLF();
        frames[id] = file->landmarks.empty() ? 0 : static_cast<long long>(file->getLastFrame()) + 1;
    }

    announce(progress, 1);
    const double fps = params_.getFramesPerSecond();
    OffsetCandidates finder(verify_.getMaxDriftPpm() * 1e-6, verify_.getMinOverlap() * fps,
                            verify_.getMinSurprise(), verify_.getCandidatesPerPair());
    std::vector<Entry> entries;
    FlatLandmarkIndex index(params_.getMaxLandmarks());
    index.visitPairs(&files, progress,
                     [&](std::int32_t id1, std::int32_t id2, std::vector<std::uint64_t>& votes) {
                         for (const auto& c : finder.find(votes, frames[id1], frames[id2])) {
                             Entry e;
                             e.first = id1;
                             e.second = id2;
                             e.candidate = c;
                             entries.push_back(e);
                         }
                     });

    announce(progress, 2);
    const MCAlignParams& align = verify_.getAlign();
    const double samplesPerFrame = align.getSampleRate() / fps;
    std::vector<PairVerifier::Request> requests;
    for (const Entry& e : entries) {
        PairVerifier::Request r;
        r.first = e.first;
        r.second = e.second;
        r.lengthFirst = std::llround(static_cast<double>(frames[e.first]) * samplesPerFrame);
        r.lengthSecond = std::llround(static_cast<double>(frames[e.second]) * samplesPerFrame);
        r.offset = e.candidate.offset / fps;
        r.search = (0.5 * (e.candidate.high - e.candidate.low) + kSearchFrames) / fps;
        requests.push_back(r);
    }

    announce(progress, 3);
    std::vector<PairMeasurement::Result> measured =
        PairVerifier(align, verify_.getMaxWindows()).verify(requests, source, progress);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        entries[k].measured = std::move(measured[k]);
    }
    return entries;
}

}  // namespace Trelis
