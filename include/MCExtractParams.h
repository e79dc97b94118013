// Settings of landmark extraction: the short-time Fourier transform (frame size, hop, sample rate),
// the decaying threshold with its Gaussian masking, peak pruning and the pairing neighbourhood.
//
// Units: bins of the FFT, STFT frames (one per hop), dB, samples and Hz, as each field says. The
// defaults are tuned for audio sampled at 8000 Hz. A plain value: the extractor and the
// cluster-sync parameters copy what they need and keep no reference to it. Nothing here throws;
// a setter that refuses a value returns false and leaves the field as it was.
#pragma once

#include <cstdint>

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCExtractParams {
public:
    MCExtractParams();

    unsigned int getFftSize() const { return fftSize; }
    // Accepts powers of two from 8 upwards.
    bool setFftSize(unsigned int value);

    unsigned int getHopSize() const { return hopSize; }
    // Accepts any non-zero value; it is not compared with the FFT size.
    bool setHopSize(unsigned int value);

    unsigned int getSampleRate() const { return sampleRate; }
    // Accepts 4000 Hz and above.
    bool setSampleRate(unsigned int value);

    unsigned int getMaxPairsPerPeak() { return maxPairsPerPeak; }
    // Accepts any non-zero value.
    bool setMaxPairsPerPeak(unsigned int value);

    // Written by the command-line parser and read directly by the extractor.
    std::uint32_t freqRange;            // bins: half-width of the pairing neighbourhood
    std::uint32_t timeRange;            // frames: how far ahead of a peak pairing reaches
    std::uint32_t initThresholdFrames;  // frames: leading frames of the initial threshold
    std::uint32_t maxPeaksPerFrame;     // most peaks kept in one frame
    float peakDynRange;                 // dB: amplitude of the Gaussian masking window
    float dbThreshold;                  // dB, negative: pruning level below the loudest level
    float decayPerFrame;                // dB per frame: fall of the running threshold
    float peakWidth;                    // bins: standard deviation of the masking window

private:
    std::uint32_t fftSize;          // samples per STFT frame, a power of two
    std::uint32_t hopSize;          // samples between the starts of successive frames
    std::uint32_t sampleRate;       // Hz; every input must have exactly this rate
    std::uint32_t maxPairsPerPeak;  // an anchor yields at most this many + 1 landmarks
};

}  // namespace Trelis
