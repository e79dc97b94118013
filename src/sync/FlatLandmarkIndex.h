// FlatLandmarkIndex: the landmark index, pairwise scoring and match statistics of
// MCLandmarkIndex with computeMatchStats, in flat arrays and one file at a time.
//
// The results and reports are those of the straightforward pair (the tests compare the two on
// random file sets): every landmark is gathered under its hash (a sorted array in place of the
// map) and the same hashes are dropped. Then, instead of one map of vote lists per pair for all
// pairs at once, the votes of one file against every later file are gathered, reduced to their
// statistics and dropped before the next file: bins in increasing offset, the winner by the same
// tie rule, its template from the earliest and latest voter. Memory stays at the index plus one
// file's votes. The scoring reports depend only on how many hashes are scored, so they are
// replayed, value for value, as the files are done. The records' histogram member is null: no
// stage after the statistics reads it.
//
// With several threads, the files' votes are gathered side by side (each worker with buffers of
// its own) and the results, reports included, are handed on in file order: the same as on one.
// Per recording (MCRunParams::Popularity), a file's landmarks of a hash are left out when the
// file holds more than maxLandmarks / 10 of them, instead of the whole hash when all files hold
// more than maxLandmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "MCTaskPool.h"

#include "sync/HashRuns.h"
#include "sync/MatchStatsMap.h"
#include "sync/UninitializedAllocator.h"

namespace Trelis {

class MCFileSet;
class MCProgress;

class FlatLandmarkIndex {
public:
    explicit FlatLandmarkIndex(unsigned int maxLandmarksPerHash, unsigned int threads = 1,
                               bool perRecording = false);
    ~FlatLandmarkIndex();

    FlatLandmarkIndex(const FlatLandmarkIndex&) = delete;
    FlatLandmarkIndex& operator=(const FlatLandmarkIndex&) = delete;

    // Indexes and scores every pair of `files` and computes the statistics of every pair that
    // received votes, reporting progress exactly as MCLandmarkIndex::run does.
    void run(MCFileSet* files, MCProgress* progress);
    // Hands the statistics of the last run to the caller (an empty map before any run).
    MatchStatsMap* takeMatchStats();

    // The votes of one pair: each packs an offset (frame in the lower id's file minus frame in
    // the higher id's) and the lower id's frame; the visitor may reorder them. `worker` says
    // which thread calls (0 to threads - 1): the pairs of one first file come from one worker,
    // in increasing second id, and different first files from several at once.
    using PairVisitor = std::function<void(unsigned int worker, std::int32_t id1, std::int32_t id2,
                                           std::vector<std::uint64_t>& votes)>;
    // Called on the calling thread for every first file in increasing id, once all its pairs
    // have been visited.
    using FileDone = std::function<void(std::int32_t id1)>;
    // Indexes `files` as run does and hands every pair's votes to `visit`, with the same
    // progress reports; no statistics are made.
    void visitPairs(MCFileSet* files, MCProgress* progress, const PairVisitor& visit,
                    const FileDone& done = FileDone());

    // Visits every pair as visitPairs does; `visit(worker, id1, id2, votes, results)` appends
    // what it makes of a pair to `results`, and `take(results)` receives each first file's, on
    // the calling thread in increasing first id: the order one thread gives.
    template <typename Result, typename Visit, typename Take>
    void gatherPairs(MCFileSet* files, MCProgress* progress, Visit visit, Take take) {
        std::map<std::int32_t, std::vector<Result>> byFirst;  // nodes stay where they are
        const unsigned int workers = MCTaskPool(threads).size();
        std::vector<std::int32_t> currentId(workers, -1);
        std::vector<std::vector<Result>*> current(workers, nullptr);
        std::mutex lock;
        visitPairs(
            files, progress,
            [&](unsigned int worker, std::int32_t id1, std::int32_t id2,
                std::vector<std::uint64_t>& votes) {
                if (currentId[worker] != id1) {
                    const std::lock_guard<std::mutex> guard(lock);
                    currentId[worker] = id1;
                    current[worker] = &byFirst[id1];
                }
                visit(worker, id1, id2, votes, *current[worker]);
            },
            [&](std::int32_t id1) {
                std::vector<Result> done;
                {
                    const std::lock_guard<std::mutex> guard(lock);
                    const auto found = byFirst.find(id1);
                    if (found == byFirst.end()) {
                        return;
                    }
                    done = std::move(found->second);
                    byFirst.erase(found);
                }
                take(done);
            });
    }

    static std::int32_t voteOffset(std::uint64_t vote) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(vote >> 32) ^ 0x80000000u);
    }
    static std::int32_t voteTime(std::uint64_t vote) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(vote) ^ 0x80000000u);
    }

private:
    struct Entry {
        std::uint32_t hash;
        std::int32_t file;  // id of the landmark's file, 0 without one
        std::int32_t time;
        std::uint32_t slot;  // index of `file` among the distinct file ids
    };

    // A worker's scratch for the statistics of its pairs.
    struct Scratch {
        std::vector<std::uint32_t> binCounts;  // per bin, in increasing offset
        std::vector<std::uint32_t> dense;      // counts over an offset range; zeros between pairs
    };

    using Entries = std::vector<Entry, UninitializedAllocator<Entry>>;

    // The vote spans of every file: those of share s (a range of hashes) and file slot f are
    // spans[begin[s * files + f] .. end[s * files + f]).
    struct SpanTable {
        std::vector<VoteSpan, UninitializedAllocator<VoteSpan>> spans;
        std::vector<std::size_t> begin, end;
        std::size_t shares = 1;
        std::size_t shared = 0;  // hashes held at least twice
    };

    void collect(MCFileSet* files, MCProgress* progress);
    void sortByHash(const MCTaskPool& pool);
    SpanTable findSpans(std::size_t files, const MCTaskPool& pool) const;
    MCMatchStats* pairStats(std::int32_t id1, std::int32_t id2, std::vector<std::uint64_t>& votes,
                            MCFileSet* files, Scratch& scratch) const;

    std::uint32_t maxLandmarks;
    unsigned int threads;
    bool perRecording;
    Entries entries;  // by hash, then file id, then index order
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> stats;
};

}  // namespace Trelis
