#include "MCPairVotes.h"

#include <algorithm>
#include <memory>
#include <tuple>

#include "MCFileSet.h"
#include "sync/HashRuns.h"
#include "sync/MatchStatistics.h"

namespace Trelis {

namespace {

// Orders signed 32-bit values as unsigned words.
std::uint32_t ordered(std::int32_t value) {
    return static_cast<std::uint32_t>(value) ^ 0x80000000u;
}
std::int32_t unordered(std::uint32_t word) {
    return static_cast<std::int32_t>(word ^ 0x80000000u);
}

bool before(const MCPairVotes::Bin& a, const MCPairVotes::Bin& b) {
    return std::tie(a.id1, a.id2, a.offset) < std::tie(b.id1, b.id2, b.offset);
}
bool sameBin(const MCPairVotes::Bin& a, const MCPairVotes::Bin& b) {
    return a.id1 == b.id1 && a.id2 == b.id2 && a.offset == b.offset;
}
void widen(MCPairVotes::Bin& into, const MCPairVotes::Bin& from) {
    into.count += from.count;
    into.earliest = std::min(into.earliest, from.earliest);
    into.latest = std::max(into.latest, from.latest);
}

struct Entry {
    std::uint32_t hash;
    std::int32_t file;
    std::int32_t time;
    std::uint32_t slot;  // index of `file` among the distinct files
};

}  // namespace

MCPairVotes::MCPairVotes(std::vector<Bin> bins) : bins_(std::move(bins)) {
    if (!std::is_sorted(bins_.begin(), bins_.end(), before)) {
        std::sort(bins_.begin(), bins_.end(), before);
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < bins_.size(); ++k) {
        if (kept > 0 && sameBin(bins_[kept - 1], bins_[k])) {
            widen(bins_[kept - 1], bins_[k]);
        } else {
            bins_[kept++] = bins_[k];
        }
    }
    bins_.resize(kept);
}

MCPairVotes MCPairVotes::fromLandmarks(const std::uint32_t* hashes, const std::int32_t* files,
                                       const std::int32_t* times, std::size_t count,
                                       unsigned int maxLandmarks, bool perRecording) {
    std::vector<Entry> entries(count);
    for (std::size_t k = 0; k < count; ++k) {
        entries[k] = {hashes[k], files[k], times[k], 0};
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.hash != b.hash ? a.hash < b.hash : a.file < b.file;
    });
    if (perRecording) {
        dropRepeatsPerRecording(entries, maxLandmarks);
    }

    const std::vector<std::int32_t> ids = numberFiles(entries);
    // As FlatLandmarkIndex: each file's entries of a hash vote against the later files' entries
    // of that hash, which follow them in the hash's run; one file's votes are gathered at a time,
    // by second file, so that every pair's votes are sorted apart.
    std::vector<std::vector<VoteSpan>> spans(ids.size());
    voteSpans(entries, 0, entries.size(), maxLandmarks, perRecording,
              [&](std::uint32_t slot, const VoteSpan& span) { spans[slot].push_back(span); });

    MCPairVotes out;
    std::vector<std::vector<std::uint64_t>> bySecond(ids.size());
    std::vector<std::uint32_t> touched;
    for (std::size_t first = 0; first < ids.size(); ++first) {
        for (const VoteSpan& span : spans[first]) {
            for (std::uint32_t a = span.begin; a < span.end; ++a) {
                const std::int32_t time = entries[a].time;
                for (std::uint32_t b = span.end; b < span.runEnd; ++b) {
                    // Offsets in wrapping 32-bit arithmetic, as the index computes them.
                    const auto offset =
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(time) -
                                                  static_cast<std::uint32_t>(entries[b].time));
                    std::vector<std::uint64_t>& list = bySecond[entries[b].slot];
                    if (list.empty()) {
                        touched.push_back(entries[b].slot);
                    }
                    list.push_back((static_cast<std::uint64_t>(ordered(offset)) << 32) |
                                   ordered(time));
                }
            }
        }
        spans[first] = std::vector<VoteSpan>();
        std::sort(touched.begin(), touched.end());
        for (std::uint32_t second : touched) {
            std::vector<std::uint64_t>& votes = bySecond[second];
            std::sort(votes.begin(), votes.end());
            for (std::size_t i = 0; i < votes.size();) {
                const std::uint64_t offsetWord = votes[i] >> 32;
                std::size_t end = i + 1;
                while (end < votes.size() && (votes[end] >> 32) == offsetWord) {
                    ++end;
                }
                out.bins_.push_back({ids[first], ids[second],
                                     unordered(static_cast<std::uint32_t>(offsetWord)),
                                     static_cast<std::uint32_t>(end - i),
                                     unordered(static_cast<std::uint32_t>(votes[i])),
                                     unordered(static_cast<std::uint32_t>(votes[end - 1]))});
                i = end;
            }
            votes.clear();
        }
        touched.clear();
    }
    return out;
}

void MCPairVotes::add(const MCPairVotes& other) {
    std::vector<Bin> merged;
    merged.reserve(bins_.size() + other.bins_.size());
    auto a = bins_.begin();
    auto b = other.bins_.begin();
    while (a != bins_.end() || b != other.bins_.end()) {
        if (b == other.bins_.end() || (a != bins_.end() && before(*a, *b))) {
            merged.push_back(*a++);
        } else if (a == bins_.end() || before(*b, *a)) {
            merged.push_back(*b++);
        } else {
            merged.push_back(*a++);
            widen(merged.back(), *b++);
        }
    }
    bins_.swap(merged);
}

std::vector<MCMatchStats> MCPairVotes::statistics(MCFileSet* files) const {
    std::vector<MCMatchStats> out;
    std::vector<std::uint32_t> binCounts;
    for (std::size_t i = 0; i < bins_.size();) {
        std::size_t end = i + 1;
        while (end < bins_.size() && bins_[end].id1 == bins_[i].id1 &&
               bins_[end].id2 == bins_[i].id2) {
            ++end;
        }
        // The most votes; among equal counts the largest offset, the last one reached.
        binCounts.clear();
        const Bin* best = &bins_[i];
        for (std::size_t k = i; k < end; ++k) {
            binCounts.push_back(bins_[k].count);
            if (bins_[k].count >= best->count) {
                best = &bins_[k];
            }
        }
        MCMatchStats s(nullptr);
        s.id1 = bins_[i].id1;
        s.id2 = bins_[i].id2;
        finishPairStats(s, best->count, best->offset, best->earliest, best->latest, binCounts,
                        files);
        out.push_back(s);
        i = end;
    }
    return out;
}

unsigned int MCPairVotes::slotOf(std::int32_t id1, std::int32_t id2, unsigned int parts) {
    // A 64-bit mix of both ids, so that neighbouring pairs spread over the slots.
    std::uint64_t x = (static_cast<std::uint64_t>(ordered(id1)) << 32) | ordered(id2);
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    x ^= x >> 31;
    return parts == 0 ? 0u : static_cast<unsigned int>(x % parts);
}

MCPairVotes MCPairVotes::part(unsigned int which, unsigned int parts) const {
    MCPairVotes out;
    for (const Bin& bin : bins_) {
        if (slotOf(bin.id1, bin.id2, parts) == which) {
            out.bins_.push_back(bin);
        }
    }
    return out;
}

}  // namespace Trelis
