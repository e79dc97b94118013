#include "MCVerifiedSync.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "MCFile.h"
#include "MCFileSet.h"
#include "MCPairVotes.h"
#include "MCProgress.h"
#include "sync/FileGroups.h"
#include "sync/MCClusterBuilder.h"
#include "sync/VerifiedCandidates.h"

namespace Trelis {

namespace {

// Verified offsets closer than this are one sound heard along paths of different lengths (sources
// up to 80 m apart, or a reflection), not material that repeats.
constexpr double kSameOffsetSeconds = 0.25;

// Short overlaps verify below the strength asked of long ones, where chance has few windows to line
// up: when every one of three windows or more agrees, or when the windows agree at all and the
// votes stand out this far (log10) from chance too. No pair of unrelated recordings of the tuning
// or held-out corpora did either.
constexpr int kUnanimousWindows = 3;
constexpr int kShortWindows = 3;
constexpr double kShortSurprise = 5.0;
// Or when their correlations added up along one line stand above what unrelated recordings of
// the tuning corpora ever reached that way (8.1 noise spreads, in 13,513 short candidates), with
// votes 3 orders of magnitude above chance besides.
constexpr double kStackedStrength = 8.5;
constexpr double kStackedSurprise = 3.0;

VerifiedCandidate candidateOf(const VerifiedCandidates::Entry& entry) {
    VerifiedCandidate c;
    c.first = entry.first;
    c.second = entry.second;
    c.votes = entry.candidate.votes;
    c.chanceVotes = entry.candidate.chance;
    c.surprise = entry.candidate.surprise;
    c.lined = entry.measured.alignment;
    c.stacked = entry.measured.stacked;
    return c;
}

void announce(MCProgress* progress, int stage) {
    if (progress != nullptr) {
        progress->setStage(stage);
    }
}

}  // namespace

MCVerifiedSync::MCVerifiedSync(const MCClusterSyncParams& syncParams,
                               const MCVerifyParams& verifyParams, const MCRunParams& run)
    : params(syncParams), verify(verifyParams), runParams(run) {}

ClusterResult* MCVerifiedSync::run(MCFileSet* fileSet, MCRecordingSource& source,
                                   MCProgress* progress, std::vector<PairMatch>* pairs) const {
    MCFileSet none;
    if (fileSet == nullptr) {
        fileSet = &none;
    }
    const std::vector<VerifiedCandidates::Entry> tried =
        VerifiedCandidates(params, verify, runParams).run(*fileSet, source, progress);
    std::vector<VerifiedCandidate> candidates;
    for (const VerifiedCandidates::Entry& entry : tried) {
        candidates.push_back(candidateOf(entry));
    }
    announce(progress, 4);
    ClusterResult* result = cluster(fileSet, candidates, pairs);
    announce(progress, 5);
    return result;
}

std::vector<VerifiedCandidate> MCVerifiedSync::measure(const MCPairVotes& votes, MCFileSet* files,
                                                       MCRecordingSource& source) const {
    std::map<int, long long> frames;  // each file's length, as far as its landmarks reach
    if (files != nullptr) {
        for (auto& [id, file] : files->getFiles()) {
            file->computeCLF();
            frames[id] = file->getFirstFrame() > file->getLastFrame()
                             ? 0
                             : static_cast<long long>(file->getLastFrame()) + 1;
        }
    }
    std::vector<VerifiedCandidate> candidates;
    for (const VerifiedCandidates::Entry& entry :
         VerifiedCandidates(params, verify, runParams).run(votes, frames, source)) {
        candidates.push_back(candidateOf(entry));
    }
    return candidates;
}

ClusterResult* MCVerifiedSync::cluster(MCFileSet* fileSet,
                                       const std::vector<VerifiedCandidate>& tried,
                                       std::vector<PairMatch>* pairs) const {
    MCFileSet none;
    if (fileSet == nullptr) {
        fileSet = &none;
    }
    const double fps = params.getFramesPerSecond();
    // Per pair, the distinct offsets that verified, the strongest first.
    std::map<std::pair<int, int>, std::vector<PairMatch>> verified;
    for (const VerifiedCandidate& entry : tried) {
        const PairAlignment& lined = entry.lined;
        const bool unanimous =
            lined.windows >= kUnanimousWindows && lined.agreeing == lined.windows;
        const bool seconded = lined.windows <= kShortWindows && entry.surprise >= kShortSurprise;
        const bool verifiedLine =
            lined.measured && (lined.strength >= verify.getMinStrength() || unanimous || seconded);
        const PairAlignment& stacked = entry.stacked;
        const bool verifiedStack = stacked.measured && stacked.strength >= kStackedStrength &&
                                   entry.surprise >= kStackedSurprise;
        if (!verifiedLine && !verifiedStack) {
            continue;
        }
        const PairAlignment& a = verifiedLine ? lined : stacked;
        PairMatch m;
        m.first = entry.first;
        m.second = entry.second;
        m.votes = entry.votes;
        m.chanceVotes = entry.chanceVotes;
        m.surprise = entry.surprise;
        m.alignment = a;
        m.alignment.first = m.first;
        m.alignment.second = m.second;
        m.alignment.used = true;
        auto& found = verified[{m.first, m.second}];
        const auto same = std::find_if(found.begin(), found.end(), [&](const PairMatch& f) {
            return std::fabs(f.alignment.offset - a.offset) < kSameOffsetSeconds;
        });
        if (same == found.end()) {
            found.push_back(m);
        } else if (a.strength > same->alignment.strength) {
            *same = m;
        }
    }
    std::vector<PairMatch> decided;
    for (auto& [key, found] : verified) {
        std::stable_sort(found.begin(), found.end(), [](const PairMatch& x, const PairMatch& y) {
            return x.alignment.strength > y.alignment.strength;
        });
        PairMatch m = found.front();
        if (found.size() > 1) {
            m.rival = found[1].alignment;
            m.rival.used = false;
            if (m.alignment.strength < verify.getClearMargin() * m.rival.strength) {
                m.status = PairMatch::Status::Ambiguous;
                m.alignment.used = false;
            }
        }
        decided.push_back(m);
    }

    // The linked pairs as accepted statistics, weighed by their strength, for the clustering's
    // strongest-first merge.
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> links(new MatchStatsMap(),
                                                                   deleteMatchStats);
    FileGroups groups;
    groups.initFromFiles(fileSet);
    for (const PairMatch& m : decided) {
        if (m.status == PairMatch::Status::Linked) {
            auto* record = new MCMatchStats(nullptr);
            (*links)[{m.first, m.second}] = record;
            record->id1 = m.first;
            record->id2 = m.second;
            record->matchCount = static_cast<float>(m.alignment.strength);
            record->offset = static_cast<float>(m.alignment.offset * fps);
            record->accepted = true;
            groups.joinComponents(m.first, m.second);
        }
    }
    ClusterResult* result = MCClusterBuilder(params).collect(groups, links.get());
    for (ClusterSet* cluster : *result) {
        for (MCClusterElem* elem : *cluster) {
            elem->name = fileSet->idToName[elem->fileId];
        }
    }
    if (pairs != nullptr) {
        *pairs = std::move(decided);
    }
    return result;
}

}  // namespace Trelis
