#include "sync/FlatLandmarkIndex.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <mutex>
#include <numeric>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCProgress.h"
#include "MCTaskPool.h"
#include "sync/HashRuns.h"

namespace Trelis {

namespace {

// The fewest entries worth a thread of their own.
constexpr std::size_t kSmallestShare = 256;

// Packs a vote so that sorting the words orders them by offset, then time, both signed.
std::uint64_t packVote(std::int32_t offset, std::int32_t time) {
    const std::uint32_t o = static_cast<std::uint32_t>(offset) ^ 0x80000000u;
    const std::uint32_t t = static_cast<std::uint32_t>(time) ^ 0x80000000u;
    return (static_cast<std::uint64_t>(o) << 32) | t;
}

// The scoring reports of the index: one per whole percent of the hashes held by two or more
// landmarks, whether or not a hash is then dropped, so they follow from the count alone.
class ScoringReports {
public:
    ScoringReports(MCProgress* progress, std::size_t total) : progress_(progress), total_(total) {
        if (progress_ != nullptr) {
            progress_->setProgress(0.0f);
        }
    }
    void advanceTo(std::size_t done) {
        for (; done_ < done; ++done_) {
            const int percent = static_cast<int>(static_cast<float>(done_ + 1) * 100.0f /
                                                 static_cast<float>(total_));
            if (percent > lastPercent_ && progress_ != nullptr) {
                progress_->setProgress(static_cast<float>(percent) / 100.0f);
                lastPercent_ = percent;
            }
        }
    }

private:
    MCProgress* progress_;
    std::size_t total_;
    std::size_t done_ = 0;
    int lastPercent_ = 0;
};

}  // namespace

FlatLandmarkIndex::FlatLandmarkIndex(unsigned int maxLandmarksPerHash, unsigned int threadCount,
                                     bool perRecordingPopularity)
    : maxLandmarks(maxLandmarksPerHash),
      threads(threadCount),
      perRecording(perRecordingPopularity),
      stats(new MatchStatsMap(), deleteMatchStats) {}

FlatLandmarkIndex::~FlatLandmarkIndex() = default;

MatchStatsMap* FlatLandmarkIndex::takeMatchStats() {
    MatchStatsMap* taken = stats.release();
    stats.reset(new MatchStatsMap());
    return taken;
}

void FlatLandmarkIndex::collect(MCFileSet* files, MCProgress* progress) {
    entries.clear();
    const MCTaskPool pool(threads);
    if (files != nullptr) {
        if (progress != nullptr) {
            progress->setProgress(0.0f);
        }
        // Each record's landmarks go to a range of their own, counted and then filled side by
        // side; progress still comes file by file from this thread.
        std::vector<const MCFile*> records;
        for (const auto& record : files->getFiles()) {
            records.push_back(record.second);
        }
        std::vector<std::size_t> starts(records.size() + 1, 0);
        pool.run(records.size(), [&](std::size_t i, unsigned int) {
            if (records[i] != nullptr) {
                for (const auto& frame : records[i]->landmarks) {
                    starts[i + 1] += frame.second.size();
                }
            }
        });
        std::partial_sum(starts.begin(), starts.end(), starts.begin());
        entries.resize(starts.back());
        const auto count = static_cast<float>(records.size());
        pool.run(
            records.size(),
            [&](std::size_t i, unsigned int) {
                if (records[i] == nullptr) {
                    return;
                }
                Entry* to = entries.data() + starts[i];
                for (const auto& frame : records[i]->landmarks) {
                    for (const Landmark* l : frame.second) {
                        *to++ = {l->hash, l->file != nullptr ? l->file->getId() : 0, l->time, 0};
                    }
                }
            },
            [&](std::size_t i) {
                if (progress != nullptr) {
                    progress->setProgress(static_cast<float>(i + 1) / count);
                }
            });
    }
    // By hash, then file id, each file's landmarks in the index order: a stable sort by file id
    // (the records come in increasing id, so only landmarks that name another file need it),
    // then a stable sort by hash.
    const auto byFile = [](const Entry& x, const Entry& y) { return x.file < y.file; };
    if (!std::is_sorted(entries.begin(), entries.end(), byFile)) {
        std::stable_sort(entries.begin(), entries.end(), byFile);
    }
    sortByHash(pool);
}

void FlatLandmarkIndex::sortByHash(const MCTaskPool& pool) {
    // Three passes of a radix sort on 11 bits each. Every pass counts and moves contiguous shares
    // of the entries side by side; a share's entries of a bucket go after the earlier shares',
    // so the order is the one a single pass gives.
    constexpr std::size_t kBuckets = 2048;
    const std::size_t n = entries.size();
    const std::size_t shares =
        std::max<std::size_t>(1, std::min<std::size_t>(pool.size(), n / kSmallestShare));
    const auto shareOf = [&](std::size_t s) {
        return std::make_pair(n * s / shares, n * (s + 1) / shares);
    };
    Entries sorted(n);
    std::vector<std::size_t> next(shares * kBuckets);
    for (int shift = 0; shift < 33; shift += 11) {
        pool.run(shares, [&](std::size_t s, unsigned int) {
            std::size_t* count = next.data() + s * kBuckets;
            std::fill(count, count + kBuckets, 0);
            const auto [from, to] = shareOf(s);
            for (std::size_t i = from; i < to; ++i) {
                ++count[(entries[i].hash >> shift) & (kBuckets - 1)];
            }
        });
        std::size_t at = 0;
        for (std::size_t b = 0; b < kBuckets; ++b) {
            for (std::size_t s = 0; s < shares; ++s) {
                const std::size_t count = next[s * kBuckets + b];
                next[s * kBuckets + b] = at;
                at += count;
            }
        }
        pool.run(shares, [&](std::size_t s, unsigned int) {
            std::size_t* to = next.data() + s * kBuckets;
            const auto [from, end] = shareOf(s);
            for (std::size_t i = from; i < end; ++i) {
                sorted[to[(entries[i].hash >> shift) & (kBuckets - 1)]++] = entries[i];
            }
        });
        entries.swap(sorted);
    }
}

void FlatLandmarkIndex::run(MCFileSet* files, MCProgress* progress) {
    stats.reset(new MatchStatsMap());
    std::vector<Scratch> scratch(MCTaskPool(threads).size());
    gatherPairs<MCMatchStats*>(
        files, progress,
        [&](unsigned int worker, std::int32_t id1, std::int32_t id2,
            std::vector<std::uint64_t>& votes, std::vector<MCMatchStats*>& made) {
            made.push_back(pairStats(id1, id2, votes, files, scratch[worker]));
        },
        [&](std::vector<MCMatchStats*>& made) {
            for (MCMatchStats* s : made) {
                (*stats)[{s->id1, s->id2}] = s;
            }
        });
}

FlatLandmarkIndex::SpanTable FlatLandmarkIndex::findSpans(std::size_t files,
                                                          const MCTaskPool& pool) const {
    // Contiguous shares of the hashes, side by side. A share's spans of one file go to a range
    // of one buffer, sized by the share's entries of the file (which bound them) and allocated
    // here, so that the threads only write; a file's ranges follow each other in share order,
    // which is entry order.
    SpanTable table;
    const std::size_t n = entries.size();
    table.shares = std::max<std::size_t>(1, std::min<std::size_t>(pool.size(), n / kSmallestShare));
    std::vector<std::size_t> bounds(table.shares + 1, n);
    for (std::size_t s = 0; s < table.shares; ++s) {
        bounds[s] = runStart(entries, n * s / table.shares);
    }
    table.begin.assign(table.shares * files, 0);
    pool.run(table.shares, [&](std::size_t s, unsigned int) {
        std::size_t* count = table.begin.data() + s * files;
        for (std::size_t i = bounds[s]; i < bounds[s + 1]; ++i) {
            ++count[entries[i].slot];
        }
    });
    std::size_t at = 0;
    for (std::size_t f = 0; f < files; ++f) {
        for (std::size_t s = 0; s < table.shares; ++s) {
            const std::size_t count = table.begin[s * files + f];
            table.begin[s * files + f] = at;
            at += count;
        }
    }
    table.spans.resize(at);
    table.end = table.begin;
    std::vector<std::size_t> shared(table.shares);
    pool.run(table.shares, [&](std::size_t s, unsigned int) {
        std::size_t* next = table.end.data() + s * files;
        shared[s] = voteSpans(
            entries, bounds[s], bounds[s + 1], maxLandmarks, perRecording,
            [&](std::uint32_t slot, const VoteSpan& span) { table.spans[next[slot]++] = span; });
    });
    table.shared = std::accumulate(shared.begin(), shared.end(), std::size_t{0});
    return table;
}

void FlatLandmarkIndex::visitPairs(MCFileSet* files, MCProgress* progress, const PairVisitor& visit,
                                   const FileDone& done) {
    collect(files, progress);
    if (perRecording) {
        dropRepeatsPerRecording(entries, maxLandmarks);
    }

    const std::vector<std::int32_t> ids = numberFiles(entries);
    const MCTaskPool pool(threads);
    const SpanTable spans = findSpans(ids.size(), pool);

    ScoringReports reports(progress, spans.shared);
    // Each worker's votes by second file, and the seconds it touched.
    struct Votes {
        std::vector<std::vector<std::uint64_t>> bySecond;
        std::vector<std::uint32_t> touched;
    };
    std::vector<Votes> workers(pool.size());
    pool.run(
        ids.size(),
        [&](std::size_t first, unsigned int worker) {
            Votes& own = workers[worker];
            own.bySecond.resize(ids.size());
            for (std::size_t s = 0; s < spans.shares; ++s) {
                const std::size_t at = s * ids.size() + first;
                for (std::size_t k = spans.begin[at]; k < spans.end[at]; ++k) {
                    const VoteSpan& span = spans.spans[k];
                    for (std::uint32_t a = span.begin; a < span.end; ++a) {
                        const std::int32_t time = entries[a].time;
                        for (std::uint32_t b = span.end; b < span.runEnd; ++b) {
                            const Entry& other = entries[b];
                            const auto offset =
                                static_cast<std::int32_t>(static_cast<std::uint32_t>(time) -
                                                          static_cast<std::uint32_t>(other.time));
                            std::vector<std::uint64_t>& list = own.bySecond[other.slot];
                            if (list.empty()) {
                                own.touched.push_back(other.slot);
                            }
                            list.push_back(packVote(offset, time));
                        }
                    }
                }
            }
            std::sort(own.touched.begin(), own.touched.end());
            for (std::uint32_t second : own.touched) {
                visit(worker, ids[first], ids[second], own.bySecond[second]);
                own.bySecond[second].clear();
            }
            own.touched.clear();
        },
        [&](std::size_t first) {
            if (done) {
                done(ids[first]);
            }
            reports.advanceTo(spans.shared * (first + 1) / ids.size());
        });
    reports.advanceTo(spans.shared);
    entries = Entries();
}

// The statistics of one pair from its votes, as computeMatchStats makes them from the pair's
// histogram.
MCMatchStats* FlatLandmarkIndex::pairStats(std::int32_t id1, std::int32_t id2,
                                           std::vector<std::uint64_t>& votes, MCFileSet* files,
                                           Scratch& scratch) const {
    std::vector<std::uint32_t>& binCounts = scratch.binCounts;
    std::vector<std::uint32_t>& dense = scratch.dense;
    auto* record = new MCMatchStats(nullptr);
    MCMatchStats& s = *record;
    s.id1 = id1;
    s.id2 = id2;

    // The bins in increasing offset: counted over the offset range when it is small next to the
    // votes, else by sorting the votes.
    binCounts.clear();
    std::uint32_t bestCount = 0;
    std::int32_t bestOffset = 0;
    std::int32_t lowest = INT_MAX;
    std::int32_t highest = INT_MIN;
    for (std::uint64_t v : votes) {
        lowest = std::min(lowest, voteOffset(v));
        highest = std::max(highest, voteOffset(v));
    }
    const std::int64_t range = static_cast<std::int64_t>(highest) - lowest + 1;
    std::int32_t earliest = INT_MAX;
    std::int32_t latest = INT_MIN;
    if (range <= static_cast<std::int64_t>(8 * votes.size() + 4096)) {
        // `dense` is all zeros between pairs: the scan clears what the counting sets. The bins
        // with votes are taken without a branch per offset: most offsets of a chance pair have
        // none, at random, which no branch predicts.
        const auto offsets = static_cast<std::size_t>(range);
        binCounts.resize(std::min(offsets, votes.size()) + 1);
        if (dense.size() < offsets) {
            dense.resize(offsets, 0);
        }
        for (std::uint64_t v : votes) {
            ++dense[static_cast<std::size_t>(static_cast<std::int64_t>(voteOffset(v)) - lowest)];
        }
        std::size_t bins = 0;
        for (std::size_t k = 0; k < offsets; ++k) {
            const std::uint32_t count = dense[k];
            dense[k] = 0;
            binCounts[bins] = count;
            bins += count != 0 ? 1 : 0;
            // The most votes; among equal counts the largest offset, the last one reached.
            if (count >= bestCount && count != 0) {
                bestCount = count;
                bestOffset = static_cast<std::int32_t>(lowest + static_cast<std::int64_t>(k));
            }
        }
        binCounts.resize(bins);
        for (std::uint64_t v : votes) {
            if (voteOffset(v) == bestOffset) {
                earliest = std::min(earliest, voteTime(v));
                latest = std::max(latest, voteTime(v));
            }
        }
    } else {
        std::sort(votes.begin(), votes.end());
        for (std::size_t i = 0; i < votes.size();) {
            const std::int32_t offset = voteOffset(votes[i]);
            std::size_t end = i + 1;
            while (end < votes.size() && voteOffset(votes[end]) == offset) {
                ++end;
            }
            const auto count = static_cast<std::uint32_t>(end - i);
            binCounts.push_back(count);
            if (count >= bestCount) {
                bestCount = count;
                bestOffset = offset;
                earliest = voteTime(votes[i]);
                latest = voteTime(votes[end - 1]);
            }
            i = end;
        }
    }

    finishPairStats(s, bestCount, bestOffset, earliest, latest, binCounts, files);
    return record;
}

}  // namespace Trelis
