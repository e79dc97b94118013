// The steps both ways of counting votes share (the flat index on one machine, MCPairVotes on a
// partition of the hashes), on entries sorted by hash, then file; entries need `hash`, `file` and
// `slot`.
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
template <typename Entry>
void dropRepeatsPerRecording(std::vector<Entry>& entries, unsigned int maxLandmarks) {
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
// among them.
template <typename Entry>
std::vector<std::int32_t> numberFiles(std::vector<Entry>& entries) {
    std::vector<std::int32_t> ids;
    for (const Entry& e : entries) {
        if (ids.empty() || ids.back() != e.file) {  // runs of one file need one look
            ids.push_back(e.file);
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (Entry& e : entries) {
        e.slot = static_cast<std::uint32_t>(std::lower_bound(ids.begin(), ids.end(), e.file) -
                                            ids.begin());
    }
    return ids;
}

// Every hash's run of entries cut into the spans of votes of each file, bucketed by the file's
// slot (`spans` holds one list per file); a hash more than maxLandmarks landmarks hold is dropped
// unless popularity is judged per recording. Returns the hashes held at least twice.
template <typename Entry>
std::size_t voteSpans(const std::vector<Entry>& entries, unsigned int maxLandmarks,
                      bool perRecording, std::vector<std::vector<VoteSpan>>& spans) {
    std::size_t shared = 0;
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t end = i + 1;
        while (end < entries.size() && entries[end].hash == entries[i].hash) {
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
                    spans[entries[g].slot].push_back({static_cast<std::uint32_t>(g),
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
