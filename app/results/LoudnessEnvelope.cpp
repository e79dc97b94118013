#include "results/LoudnessEnvelope.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>

#include "MCInput.h"
#include "MCRecordingSource.h"
#include "MCTaskPool.h"
#include "array.h"

namespace Trelis {

namespace {

constexpr double kFloorDb = -60.0;

// Mean square of each stretch, read straight through in blocks.
std::vector<double> meanSquares(MCInput& input, int points) {
    const std::uint64_t total = input.getNumSamples();
    const std::uint64_t count = std::min<std::uint64_t>(total, static_cast<std::uint64_t>(points));
    std::vector<double> sums(count, 0.0);
    if (count == 0) {
        return sums;
    }
    input.rewind();
    array<float> block(8192);
    const std::uint64_t blockSize = static_cast<std::uint64_t>(block.size());
    std::uint64_t at = 0;
    while (at < total) {
        std::fill(block.data, block.data + block.size(), 0.0f);
        input.read(block);
        const std::uint64_t held = std::min(blockSize, total - at);
        for (std::uint64_t k = 0; k < held; ++k, ++at) {
            const double sample = block.data[k];
            sums[at * count / total] += sample * sample;  // stretch k holds [k N / P, (k+1) N / P)
        }
    }
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t begin = (k * total + count - 1) / count;
        const std::uint64_t end = ((k + 1) * total + count - 1) / count;
        sums[k] /= static_cast<double>(std::max<std::uint64_t>(1, end - begin));
    }
    return sums;
}

std::vector<float> toDecibels(const std::vector<double>& squares) {
    const double loudest =
        squares.empty() ? 0.0 : *std::max_element(squares.begin(), squares.end());
    std::vector<float> levels;
    levels.reserve(squares.size());
    for (const double square : squares) {
        const double db =
            square > 0.0 && loudest > 0.0 ? 10.0 * std::log10(square / loudest) : kFloorDb;
        levels.push_back(static_cast<float>(std::max(db, kFloorDb)));
    }
    return levels;
}

}  // namespace

std::map<int, std::vector<float>> loudnessEnvelopes(const std::vector<int>& ids,
                                                    MCRecordingSource& source, unsigned int threads,
                                                    int points) {
    std::vector<std::vector<float>> levels(ids.size());
    std::vector<char> read(ids.size(), 0);
    MCTaskPool(threads).run(ids.size(), [&](std::size_t index, unsigned int) {
        std::string error;
        MCInput* input = source.open(ids[index], error);
        if (input == nullptr) {
            return;  // the report names unreadable files from their own check
        }
        try {
            levels[index] = toDecibels(meanSquares(*input, std::max(1, points)));
            read[index] = 1;
        } catch (const std::exception&) {
            // A recording that fails part way has no thumbnail; the run's results stand.
        }
        source.close(input);
    });
    std::map<int, std::vector<float>> envelopes;
    for (std::size_t k = 0; k < ids.size(); ++k) {
        if (read[k] != 0) {
            envelopes[ids[k]] = std::move(levels[k]);
        }
    }
    return envelopes;
}

}  // namespace Trelis
