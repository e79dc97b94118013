#include "sync/MatchStatistics.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "sync/MatchStatsMap.h"

namespace Trelis {

namespace {

// Float to int by truncation, saturating where a plain conversion would be undefined.
int toInt(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483648.0f) {
        return INT_MAX;
    }
    if (value < -2147483648.0f) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

MCFile* recordOf(MCFileSet* fileSet, int id) {
    const auto found = fileSet->getFiles().find(id);
    return found == fileSet->getFiles().end() ? nullptr : found->second;
}

}  // namespace

float computeOverlap(MCFile* file1, MCFile* file2, float offset, float& landmarksF1,
                     float& landmarksF2) {
    if (file1 == nullptr || file2 == nullptr) {
        return 0.0f;
    }
    const auto first1 = static_cast<float>(file1->getFirstFrame());
    const auto last1 = static_cast<float>(file1->getLastFrame());
    const auto first2 = static_cast<float>(file2->getFirstFrame());
    const auto last2 = static_cast<float>(file2->getLastFrame());
    float length;
    if (offset <= 0.0f) {
        // On file 1's time axis: the first `length` frames of file 1, the last of file 2.
        const float end = last1 > last2 + offset ? last2 + offset : last1;
        const float start = first2 + offset > first1 ? first2 + offset : first1;
        length = end - start;
        landmarksF1 = static_cast<float>(
            file1->countLandmarks(toInt(first1), toInt(std::ceil(first1 + length))));
        landmarksF2 = static_cast<float>(
            file2->countLandmarks(toInt(std::floor(last2 - length)), toInt(last2)));
    } else {
        // On file 2's time axis: the last `length` frames of file 1, the first of file 2.
        const float end = last1 - offset > last2 ? last2 : last1 - offset;
        const float start = first2 > first1 - offset ? first2 : first1 - offset;
        length = end - start;
        landmarksF1 = static_cast<float>(
            file1->countLandmarks(toInt(std::floor(last1 - length)), toInt(last1)));
        landmarksF2 = static_cast<float>(
            file2->countLandmarks(toInt(first2), toInt(std::ceil(first2 + length))));
    }
    return length;
}

void computeOverlapAndFractions(MCMatchStats& stats, MCFileSet* fileSet) {
    stats.overlapLength =
        computeOverlap(recordOf(fileSet, stats.id1), recordOf(fileSet, stats.id2), stats.offset,
                       stats.overlapLandmarksF1, stats.overlapLandmarksF2);
    stats.percentMatchF1 = stats.matchCount / stats.overlapLandmarksF1;
    stats.percentMatchF2 = stats.matchCount / stats.overlapLandmarksF2;
}

void finishPairStats(MCMatchStats& stats, std::uint32_t bestCount, std::int32_t bestOffset,
                     std::int32_t earliest, std::int32_t latest,
                     const std::vector<std::uint32_t>& binCounts, MCFileSet* fileSet) {
    stats.matchCount = static_cast<float>(bestCount);
    stats.offset = static_cast<float>(bestOffset);
    computeOverlapAndFractions(stats, fileSet);
    stats.templateLength = static_cast<float>(static_cast<std::int64_t>(latest) - earliest);

    float totalVotes = 0.0f;
    for (std::uint32_t count : binCounts) {
        totalVotes += static_cast<float>(count);
    }
    const float mean = totalVotes / stats.overlapLength;
    float spread = 0.0f;
    for (std::uint32_t count : binCounts) {
        const float difference = static_cast<float>(count) - mean;
        spread += difference * difference;
    }
    setHistogramSpread(stats, mean, spread / stats.overlapLength);
}

void setHistogramSpread(MCMatchStats& stats, float mean, float variance) {
    stats.histMean = mean;
    // A floor on the spread, so a histogram of one bin still needs some height.
    if (variance < 0.1f) {
        variance = 0.1f;
    }
    stats.histStd = std::sqrt(variance);
}

void computeTemplate(int id1, int id2, OffsetHistogram* histogram, int offset,
                     float& templateLength, MCFileSet* fileSet) {
    static_cast<void>(id1);
    static_cast<void>(id2);
    if (histogram == nullptr || fileSet == nullptr) {
        return;
    }
    const auto bin = histogram->find(offset);
    if (bin == histogram->end()) {
        return;
    }
    int smallest = INT_MAX;
    int largest = INT_MIN;
    for (const Landmark* landmark : bin->second) {
        if (landmark->time < smallest) {
            smallest = landmark->time;
        }
        if (landmark->time > largest) {
            largest = landmark->time;
        }
    }
    if (smallest > largest) {
        std::cerr << "[ERROR]: error in computing the region of "
                  << "overlap between proposed histogram points" << std::endl;
        std::exit(1);
    }
    templateLength = static_cast<float>(static_cast<std::int64_t>(largest) -
                                        static_cast<std::int64_t>(smallest));
}

void computeHistogramStats(OffsetHistogram* histogram, float divisor, float& mean,
                           float& variance) {
    if (histogram == nullptr) {
        return;
    }
    float total = 0.0f;
    for (const auto& bin : *histogram) {
        total += static_cast<float>(bin.second.size());
    }
    mean = total / divisor;
    float spread = 0.0f;
    for (const auto& bin : *histogram) {
        const float difference = static_cast<float>(bin.second.size()) - mean;
        spread += difference * difference;
    }
    variance = spread / divisor;
}

MatchStatsMap* computeMatchStats(MCFileSet* fileSet, PairHistogramMap* pairHistograms) {
    if (fileSet == nullptr || pairHistograms == nullptr) {
        return nullptr;
    }
    std::unique_ptr<MatchStatsMap, void (*)(MatchStatsMap*)> result(new MatchStatsMap(),
                                                                    deleteMatchStats);
    for (const auto& entry : *pairHistograms) {
        OffsetHistogram* histogram = entry.second;
        MCMatchStats*& slot = (*result)[entry.first];
        slot = new MCMatchStats(histogram);
        MCMatchStats& stats = *slot;
        stats.id1 = entry.first.first;
        stats.id2 = entry.first.second;

        // The winning bin: most votes; among equal counts the largest offset, as the walk goes
        // up and an equal count replaces the best.
        std::size_t bestCount = 0;
        int bestOffset = 0;
        if (histogram != nullptr) {
            for (const auto& bin : *histogram) {
                if (bin.second.size() >= bestCount) {
                    bestCount = bin.second.size();
                    bestOffset = bin.first;
                }
            }
        }
        stats.matchCount = static_cast<float>(bestCount);
        stats.offset = static_cast<float>(bestOffset);

        computeOverlapAndFractions(stats, fileSet);
        computeTemplate(stats.id1, stats.id2, histogram, bestOffset, stats.templateLength, fileSet);

        float mean = 0.0f;
        float variance = 0.0f;
        computeHistogramStats(histogram, stats.overlapLength, mean, variance);
        setHistogramSpread(stats, mean, variance);
    }
    return result.release();
}

void deleteMatchStats(MatchStatsMap* stats) {
    if (stats == nullptr) {
        return;
    }
    for (auto& entry : *stats) {
        delete entry.second;
    }
    delete stats;
}

// Each rejection is a strict comparison, so a NaN operand rejects nothing.
bool acceptMatch(const MCMatchStats& stats, unsigned int acceptThreshold, float framesPerSecond,
                 float minTemplateLength, float minOverlapLength, float minPercentMatch) {
    const float larger =
        stats.percentMatchF2 > stats.percentMatchF1 ? stats.percentMatchF2 : stats.percentMatchF1;
    if (framesPerSecond * minTemplateLength > stats.templateLength) {
        return false;
    }
    if (static_cast<float>(acceptThreshold) > stats.matchCount) {
        return false;
    }
    if (framesPerSecond * minOverlapLength > stats.overlapLength) {
        return false;
    }
    if (stats.templateLength > stats.overlapLength) {
        return false;
    }
    if (minPercentMatch > larger) {
        return false;
    }
    if (0.0f > stats.overlapLength) {
        return false;
    }
    if (stats.histMean + 10.0f * stats.histStd > stats.matchCount) {
        return false;
    }
    return true;
}

void printMergeStats(const MCMatchStats& stats) {
    std::cout << "MERGE STATS OF FILE " << stats.id1 << " AND " << stats.id2 << std::endl;
    std::cout << "offset: " << stats.offset << std::endl;
    std::cout << "match count: " << stats.matchCount << std::endl;
    std::cout << "length of overlap: " << stats.overlapLength << std::endl;
    std::cout << "percentage of matches in F1: " << stats.percentMatchF1
              << " out of: " << stats.overlapLandmarksF1 << std::endl;
    std::cout << "percentage of matches in F2: " << stats.percentMatchF2
              << " out of: " << stats.overlapLandmarksF2 << std::endl;
    std::cout << "length of template region: " << stats.templateLength << std::endl;
    std::cout << "mean of hist: " << stats.histMean << std::endl;
    std::cout << "std of hist: " << stats.histStd << std::endl;
}

}  // namespace Trelis
