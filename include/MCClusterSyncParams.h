// Settings of matching, match acceptance and clustering.
//
// Five user-tunable thresholds, and three values derived once at construction from the extraction
// parameters so that the later stages can convert between seconds and STFT frames: frames per
// second (sample rate / hop size, in single precision), the hop size and the sample rate. Later
// changes to the extraction parameters do not reach an existing object. Lengths are in seconds,
// the percentage is a fraction from 0 to 1. Nothing here throws; a setter that refuses a value
// returns false and leaves the field as it was. The float setters use ordered comparisons, so a
// NaN passes them and is stored.
#pragma once

#include <cstdint>

#include "TrelisExport.h"

namespace Trelis {

class MCExtractParams;

class TRELIS_EXPORT MCClusterSyncParams {
public:
    explicit MCClusterSyncParams(const MCExtractParams& extractParams);

    float getMinPercentMatch() const { return minPercentMatch; }
    // Accepts fractions from 0 to 1.
    bool setMinPercentMatch(float value);

    float getMinOverlapLength() const { return minOverlapLength; }
    // Accepts 0 (which disables the test) and above.
    bool setMinOverlapLength(float value);

    float getMinTemplateLength() const { return minTemplateLength; }
    // Accepts 0 (which disables the test) and above.
    bool setMinTemplateLength(float value);

    unsigned int getMaxLandmarks() const { return maxLandmarks; }
    // Refuses 0.
    bool setMaxLandmarks(unsigned int value);

    unsigned int getAcceptThreshold() const { return acceptThreshold; }
    // Accepts every value; 0 disables the test.
    bool setAcceptThreshold(unsigned int value);

    float getFramesPerSecond() const { return framesPerSecond; }
    unsigned int getHopSize() const { return hopSize; }

    // A copy with these thresholds and the values derived from `extractParams`, as though built
    // from it: for settings read before the extraction's were final.
    MCClusterSyncParams withExtraction(const MCExtractParams& extractParams) const;

private:
    float minPercentMatch;          // fraction of overlapping landmarks that must match
    float minOverlapLength;         // seconds: shortest accepted region of overlap
    float minTemplateLength;        // seconds: shortest accepted extent of the matching landmarks
    std::uint32_t maxLandmarks;     // hashes held by more landmarks than this are dropped
    std::uint32_t acceptThreshold;  // fewest votes in the winning offset bin
    float framesPerSecond;          // sample rate / hop size
    std::uint32_t hopSize;          // samples
    [[maybe_unused]] std::uint32_t sampleRate;  // Hz; kept for the record, nothing reads it
};

}  // namespace Trelis
