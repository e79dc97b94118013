#include "sync/VerifiedCandidates.h"

#include <cmath>
#include <map>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"
#include "MCTaskPool.h"
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
                                       const MCVerifyParams& verify, const MCRunParams& run)
    : params_(params), verify_(verify), run_(run) {}

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
    const unsigned int workers = MCTaskPool(run_.getThreads()).size();
    // One finder per thread (they keep scratch); each first file's candidates are gathered by
    // the thread that visits its pairs and join the list in file order.
    std::vector<OffsetCandidates> finders(
        workers, OffsetCandidates(verify_.getMaxDriftPpm() * 1e-6, verify_.getMinOverlap() * fps,
                                  verify_.getMinSurprise(), verify_.getCandidatesPerPair()));
    std::vector<Entry> entries;
    FlatLandmarkIndex index(params_.getMaxLandmarks(), run_.getThreads(),
                            run_.getPopularity() == MCRunParams::Popularity::PerRecording);
    index.gatherPairs<Entry>(
        &files, progress,
        [&](unsigned int worker, std::int32_t id1, std::int32_t id2,
            std::vector<std::uint64_t>& votes, std::vector<Entry>& made) {
            for (const auto& c : finders[worker].find(votes, frames.at(id1), frames.at(id2))) {
                Entry e;
                e.first = id1;
                e.second = id2;
                e.candidate = c;
                made.push_back(e);
            }
        },
        [&](std::vector<Entry>& made) { entries.insert(entries.end(), made.begin(), made.end()); });

    announce(progress, 2);
    const MCAlignParams& align = verify_.getAlign();
    const double samplesPerFrame = align.getSampleRate() / fps;
    std::vector<PairVerifier::Request> requests;
    for (const Entry& e : entries) {
        PairVerifier::Request r;
        r.first = e.first;
        r.second = e.second;
        r.lengthFirst = std::llround(static_cast<double>(frames.at(e.first)) * samplesPerFrame);
        r.lengthSecond = std::llround(static_cast<double>(frames.at(e.second)) * samplesPerFrame);
        r.offset = e.candidate.offset / fps;
        r.search = (0.5 * (e.candidate.high - e.candidate.low) + kSearchFrames) / fps;
        requests.push_back(r);
    }

    announce(progress, 3);
    std::vector<PairMeasurement::Result> measured =
        PairVerifier(align, verify_.getMaxWindows(), run_.getThreads())
            .verify(requests, source, progress);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        entries[k].measured = std::move(measured[k]);
    }
    return entries;
}

}  // namespace Trelis
