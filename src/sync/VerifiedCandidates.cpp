#include "sync/VerifiedCandidates.h"

#include <cmath>
#include <map>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCPairVotes.h"
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
    measure(entries, frames, source, progress);
    return entries;
}

std::vector<VerifiedCandidates::Entry> VerifiedCandidates::run(
    const MCPairVotes& votes, const std::map<int, long long>& frames,
    MCRecordingSource& source) const {
    const double fps = params_.getFramesPerSecond();
    OffsetCandidates finder(verify_.getMaxDriftPpm() * 1e-6, verify_.getMinOverlap() * fps,
                            verify_.getMinSurprise(), verify_.getCandidatesPerPair());
    std::vector<Entry> entries;
    std::vector<std::pair<std::int32_t, std::uint32_t>> bins;
    const std::vector<MCPairVotes::Bin>& all = votes.bins();
    for (std::size_t i = 0; i < all.size();) {
        std::size_t end = i;
        bins.clear();
        for (; end < all.size() && all[end].id1 == all[i].id1 && all[end].id2 == all[i].id2;
             ++end) {
            bins.emplace_back(all[end].offset, all[end].count);
        }
        const auto length = [&](int id) {
            const auto found = frames.find(id);
            return found == frames.end() ? 0LL : found->second;
        };
        for (const auto& c : finder.find(bins, length(all[i].id1), length(all[i].id2))) {
            Entry e;
            e.first = all[i].id1;
            e.second = all[i].id2;
            e.candidate = c;
            entries.push_back(e);
        }
        i = end;
    }
    measure(entries, frames, source, nullptr);
    return entries;
}

void VerifiedCandidates::measure(std::vector<Entry>& entries,
                                 const std::map<int, long long>& frames, MCRecordingSource& source,
                                 MCProgress* progress) const {
    const double fps = params_.getFramesPerSecond();
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
}

}  // namespace Trelis
