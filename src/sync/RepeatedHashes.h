// The per-recording popularity rule on entries sorted by hash, then file: a file's landmarks of a
// hash are left out when it holds more than a tenth of maxLandmarks of them (at least one is
// allowed), so that a crowd of recordings sharing a hash keeps it while one recording repeating
// it does not. Entries need `hash` and `file`.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace Trelis {

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

}  // namespace Trelis
