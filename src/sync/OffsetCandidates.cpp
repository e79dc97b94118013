#include "sync/OffsetCandidates.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "sync/FlatLandmarkIndex.h"

namespace Trelis {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Boxes left out of the dispersion: the true offset and its repeats are not stray votes.
constexpr std::size_t kDispersionExcluded = 5;

}  // namespace

OffsetCandidates::OffsetCandidates(double maxDrift, double minOverlap, double minSurprise,
                                   unsigned int most)
    : maxDrift_(maxDrift), minOverlap_(minOverlap), minSurprise_(minSurprise), most_(most) {}

double OffsetCandidates::logTail(double count, double mean) {
    // P(X = k) by Stirling, times the geometric sum of the terms beyond it.
    const double point = count * std::log(count / mean) - count + mean;
    return -point - 0.5 * std::log(2.0 * kPi * count) - std::log1p(-mean / (count + 1.0));
}

std::vector<OffsetCandidates::Candidate> OffsetCandidates::find(std::vector<std::uint64_t>& votes,
                                                                long long length1,
                                                                long long length2) {
    std::vector<Candidate> found;
    if (votes.empty() || length1 <= 0 || length2 <= 0) {
        return found;
    }
    // Bins in increasing offset, counted densely when the range is small next to the votes.
    bins_.clear();
    std::int32_t lowest = INT_MAX;
    std::int32_t highest = INT_MIN;
    for (std::uint64_t v : votes) {
        lowest = std::min(lowest, FlatLandmarkIndex::voteOffset(v));
        highest = std::max(highest, FlatLandmarkIndex::voteOffset(v));
    }
    const std::int64_t range = static_cast<std::int64_t>(highest) - lowest + 1;
    if (range <= static_cast<std::int64_t>(8 * votes.size() + 4096)) {
        dense_.assign(static_cast<std::size_t>(range), 0);
        for (std::uint64_t v : votes) {
            ++dense_[static_cast<std::size_t>(
                static_cast<std::int64_t>(FlatLandmarkIndex::voteOffset(v)) - lowest)];
        }
        for (std::size_t k = 0; k < dense_.size(); ++k) {
            if (dense_[k] != 0) {
                bins_.emplace_back(static_cast<std::int32_t>(lowest + static_cast<std::int64_t>(k)),
                                   dense_[k]);
            }
        }
    } else {
        std::sort(votes.begin(), votes.end());
        for (std::size_t i = 0; i < votes.size();) {
            const std::int32_t offset = FlatLandmarkIndex::voteOffset(votes[i]);
            std::size_t end = i + 1;
            while (end < votes.size() && FlatLandmarkIndex::voteOffset(votes[end]) == offset) {
                ++end;
            }
            bins_.emplace_back(offset, static_cast<std::uint32_t>(end - i));
            i = end;
        }
    }

    return fromBins(static_cast<double>(votes.size()), length1, length2);
}

std::vector<OffsetCandidates::Candidate> OffsetCandidates::find(
    const std::vector<std::pair<std::int32_t, std::uint32_t>>& bins, long long length1,
    long long length2) {
    double total = 0.0;
    for (const auto& bin : bins) {
        total += bin.second;
    }
    if (bins.empty() || length1 <= 0 || length2 <= 0) {
        return {};
    }
    bins_ = bins;
    return fromBins(total, length1, length2);
}

std::vector<OffsetCandidates::Candidate> OffsetCandidates::fromBins(double total, long long length1,
                                                                    long long length2) {
    std::vector<Candidate> found;
    const double l1 = static_cast<double>(length1);
    const double l2 = static_cast<double>(length2);
    const long long width = 2 + static_cast<long long>(std::ceil(maxDrift_ * std::min(l1, l2)));
    const double w = static_cast<double>(width);
    // Frames of overlap when the second file starts `o` frames after the first.
    const auto overlap = [&](double o) {
        return std::max(0.0, std::min(l1, l2 + o) - std::max(0.0, o));
    };
    // Stray votes expected in the box [s, s + width): exact on the linear stretches of the
    // overlap, close at its corners.
    const auto expected = [&](double s) {
        return total * w * overlap(s + 0.5 * (w - 1.0)) / (l1 * l2);
    };
    const auto boxSum = [&](std::size_t first, std::size_t& end) {
        double sum = 0.0;
        const std::int64_t limit = static_cast<std::int64_t>(bins_[first].first) + width;
        for (end = first; end < bins_.size() && bins_[end].first < limit; ++end) {
            sum += bins_[end].second;
        }
        return sum;
    };

    // Dispersion: Pearson's statistic over the tiling of all offsets by boxes, the empty boxes
    // adding their expectation, the most deviant left out.
    const double firstOffset = 1.0 - l2;
    const double tiles = std::max(1.0, std::ceil((l1 + l2 - 1.0) / w));
    std::vector<std::pair<double, double>> occupied;  // (count, expected) of non-empty tiles
    for (std::size_t i = 0; i < bins_.size();) {
        const double tile = std::floor((bins_[i].first - firstOffset) / w);
        const double start = firstOffset + tile * w;
        double count = 0.0;
        for (; i < bins_.size() && bins_[i].first < start + w; ++i) {
            count += bins_[i].second;
        }
        occupied.emplace_back(count, std::max(expected(start), 1e-9));
    }
    std::vector<double> deviance;
    double occupiedExpected = 0.0;
    for (const auto& [count, mean] : occupied) {
        deviance.push_back((count - mean) * (count - mean) / mean);
        occupiedExpected += mean;
    }
    const std::size_t excluded = std::min(kDispersionExcluded, deviance.size());
    std::partial_sort(deviance.begin(), deviance.begin() + static_cast<std::ptrdiff_t>(excluded),
                      deviance.end(), std::greater<double>());
    double pearson = std::max(0.0, total - occupiedExpected);
    for (std::size_t k = excluded; k < deviance.size(); ++k) {
        pearson += deviance[k];
    }
    const double dispersion = tiles > static_cast<double>(excluded) + 1.0
                                  ? std::max(1.0, pearson / (tiles - static_cast<double>(excluded)))
                                  : 1.0;
    const double tried = std::log10(tiles);

    // Every box that starts at a vote: the best box can always be moved to start at one.
    std::vector<Candidate> boxes;
    for (std::size_t i = 0; i < bins_.size(); ++i) {
        std::size_t end = i;
        const double sum = boxSum(i, end);
        const double start = bins_[i].first;
        const double mean = expected(start);
        if (sum <= dispersion * mean + 1.0 || overlap(start + 0.5 * (w - 1.0)) < minOverlap_) {
            continue;
        }
        const double surprise =
            -logTail(sum / dispersion, std::max(mean, 1e-9) / dispersion) / std::log(10.0) - tried;
        if (surprise < minSurprise_) {
            continue;
        }
        Candidate c;
        double weighted = 0.0;
        for (std::size_t k = i; k < end; ++k) {
            weighted += static_cast<double>(bins_[k].first) * bins_[k].second;
        }
        c.offset = weighted / sum;
        c.low = bins_[i].first;
        c.high = bins_[end - 1].first;
        c.votes = sum;
        c.chance = mean;
        c.surprise = surprise;
        boxes.push_back(c);
    }
    std::sort(boxes.begin(), boxes.end(), [](const Candidate& a, const Candidate& b) {
        return a.surprise != b.surprise ? a.surprise > b.surprise : a.low < b.low;
    });
    for (const Candidate& box : boxes) {
        if (found.size() >= most_) {
            break;
        }
        // Boxes within two widths of a kept one hold the same votes, or its drift.
        const bool apart = std::all_of(found.begin(), found.end(), [&](const Candidate& kept) {
            return std::fabs(kept.offset - box.offset) >= 2.0 * w;
        });
        if (apart) {
            found.push_back(box);
        }
    }
    return found;
}

}  // namespace Trelis
