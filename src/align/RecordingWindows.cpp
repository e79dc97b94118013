#include "align/RecordingWindows.h"

#include <algorithm>
#include <stdexcept>

#include "MCInput.h"
#include "array.h"

namespace Trelis {

namespace {

// An array over storage it does not own, for reading straight into a stretch.
class Alias : public array<float> {
public:
    Alias(float* at, std::uint32_t count) : array<float>(0) {
        data = at;
        dim1 = count;
        isAlias = true;
    }
};

// Reads `count` samples of `input` into `out`, in blocks the reader handles well.
void readInto(MCInput& input, float* out, long long count) {
    constexpr long long kBlock = 1 << 20;
    for (long long done = 0; done < count; done += kBlock) {
        Alias block(out + done, static_cast<std::uint32_t>(std::min(kBlock, count - done)));
        input.read(block);
    }
}

}  // namespace

void RecordingWindows::require(long long start, long long length) {
    if (length > 0) {
        wanted_.emplace_back(start, start + length);
    }
}

void RecordingWindows::load(MCInput& input, std::uint64_t numSamples) {
    std::sort(wanted_.begin(), wanted_.end());
    stretches_.clear();
    for (const auto& [start, end] : wanted_) {
        if (!stretches_.empty() && start <= stretches_.back().end) {
            stretches_.back().end = std::max(stretches_.back().end, end);
        } else {
            stretches_.push_back({start, end, {}});
        }
    }
    const auto total = static_cast<long long>(numSamples);
    input.rewind();
    long long position = 0;
    std::vector<float> skip;
    for (Stretch& s : stretches_) {
        s.samples.assign(static_cast<std::size_t>(s.end - s.start), 0.0f);
        const long long from = std::max(s.start, position);
        const long long to = std::min(s.end, total);
        if (to <= from) {
            continue;
        }
        while (position < from) {
            const long long now = std::min<long long>(from - position, 1 << 16);
            skip.resize(static_cast<std::size_t>(now));
            readInto(input, skip.data(), now);
            position += now;
        }
        readInto(input, s.samples.data() + (from - s.start), to - from);
        position = to;
    }
}

const float* RecordingWindows::at(long long start, long long length) const {
    const auto found =
        std::upper_bound(stretches_.begin(), stretches_.end(), start,
                         [](long long value, const Stretch& s) { return value < s.start; });
    if (found == stretches_.begin() || std::prev(found)->end < start + length) {
        throw std::logic_error("RecordingWindows::at(): stretch not loaded");
    }
    return std::prev(found)->samples.data() + (start - std::prev(found)->start);
}

std::size_t RecordingWindows::footprint() const {
    std::size_t total = 0;
    for (const Stretch& s : stretches_) {
        total += s.samples.size();
    }
    return total;
}

}  // namespace Trelis
