// The steps both ways of counting votes share (the flat index on one machine, MCPairVotes on a
// partition of the hashes), on a vector of entries sorted by hash, then file; entries need `hash`,
// `file` and `slot`.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Trelis {

// The votes of one file against a later file: a run of its entries against the later files'
// entries of the same hash, which stand after it in the hash's run.
struct VoteSpan {
    std::uint32_t begin, end;  // the file's entries of one hash
    std::uint32_t runEnd;      // the later files' entries are [end, runEnd)
};

// The per-recording popularity rule: a file's landmarks of a hash are left out when it holds
// more than a tenth of maxLandmarks of them (at least one is allowed), so that a crowd of
// recordings sharing a hash keeps it while one recording repeating it does not.
template <typename Entries>
void dropRepeatsPerRecording(Entries& entries, unsigned int maxLandmarks) {
    const std::size_t limit = std::max(1u, maxLandmarks / 10);
    std::size_t kept = 0;
    for (std::size_t g = 0; g < entries.size();) {
        std::size_t end = g + 1;
        while (end < entries.size() && entries[end].hash == entries[g].hash &&
               entries[end].file == entries[g].file) {
            ++end;
        }
        if (end - g <= limit) {
            for (; g < end; ++g) {
                entries[kept++] = entries[g];
            }
        }
        g = end;
    }
    entries.resize(kept);
}

// The distinct file ids, in increasing order; each entry's `slot` becomes its file's place
// among them. Ids are usually numbered from 1: a table over their range numbers the entries in
// two passes, and only ids spread far wider than the entries are sorted instead.
template <typename Entries>
std::vector<std::int32_t> numberFiles(Entries& entries) {
    std::vector<std::int32_t> ids;
    if (entries.empty()) {
        return ids;
    }
    std::int32_t lowest = entries[0].file, highest = entries[0].file;
    for (const auto& e : entries) {
        lowest = std::min(lowest, e.file);
        highest = std::max(highest, e.file);
    }
    const std::int64_t range = std::int64_t{highest} - lowest + 1;
    if (range <= static_cast<std::int64_t>(entries.size()) + 4096) {
        constexpr std::uint32_t kAbsent = UINT32_MAX;
        std::vector<std::uint32_t> slotOf(static_cast<std::size_t>(range), kAbsent);
        for (const auto& e : entries) {
            slotOf[static_cast<std::size_t>(std::int64_t{e.file} - lowest)] = 0;
        }
        for (std::size_t k = 0; k < slotOf.size(); ++k) {
            if (slotOf[k] != kAbsent) {
                slotOf[k] = static_cast<std::uint32_t>(ids.size());
                ids.push_back(static_cast<std::int32_t>(lowest + static_cast<std::int64_t>(k)));
            }
        }
        for (auto& e : entries) {
            e.slot = slotOf[static_cast<std::size_t>(std::int64_t{e.file} - lowest)];
        }
        return ids;
    }
    for (const auto& e : entries) {
        if (ids.empty() || ids.back() != e.file) {  // runs of one file need one look
            ids.push_back(e.file);
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (auto& e : entries) {
        e.slot = static_cast<std::uint32_t>(std::lower_bound(ids.begin(), ids.end(), e.file) -
                                            ids.begin());
    }
    return ids;
}

// The first entry from `at` on that begins a hash's run (the end if none does).
template <typename Entries>
std::size_t runStart(const Entries& entries, std::size_t at) {
    while (at > 0 && at < entries.size() && entries[at].hash == entries[at - 1].hash) {
        ++at;
    }
    return at;
}

// Every hash's run of entries in [from, to) cut into the spans of votes of each file:
// emit(slot, span) for each, in entry order. A hash more than maxLandmarks landmarks hold is
// dropped unless popularity is judged per recording. `from` and `to` begin runs (or end the
// entries). Returns the hashes held at least twice.
template <typename Entries, typename Emit>
std::size_t voteSpans(const Entries& entries, std::size_t from, std::size_t to,
                      unsigned int maxLandmarks, bool perRecording, Emit emit) {
    std::size_t shared = 0;
    for (std::size_t i = from; i < to;) {
        std::size_t end = i + 1;
        while (end < to && entries[end].hash == entries[i].hash) {
            ++end;
        }
        const std::size_t held = end - i;
        if (held >= 2) {
            ++shared;
        }
        if (held >= 2 && (perRecording || held <= maxLandmarks)) {
            for (std::size_t g = i; g < end;) {
                std::size_t groupEnd = g + 1;
                while (groupEnd < end && entries[groupEnd].file == entries[g].file) {
                    ++groupEnd;
                }
                if (groupEnd < end) {
                    emit(entries[g].slot, VoteSpan{static_cast<std::uint32_t>(g),
                                                   static_cast<std::uint32_t>(groupEnd),
                                                   static_cast<std::uint32_t>(end)});
                }
                g = groupEnd;
            }
        }
        i = end;
    }
    return shared;
}

}  // namespace Trelis
