#include "MCExtractParams.h"

namespace Trelis {

MCExtractParams::MCExtractParams()
    : freqRange(62),
      timeRange(126),
      initThresholdFrames(10),
      maxPeaksPerFrame(5),
      peakDynRange(40.0f),
      dbThreshold(-60.0f),
      decayPerFrame(0.2f),
      peakWidth(25.0f),
      fftSize(512),
      hopSize(256),
      sampleRate(8000),
      maxPairsPerPeak(10) {}

bool MCExtractParams::setFftSize(unsigned int value) {
    const bool powerOfTwo = (value & (value - 1)) == 0;
    if (value <= 4 || !powerOfTwo) {
        return false;
    }
    fftSize = value;
    return true;
}

bool MCExtractParams::setHopSize(unsigned int value) {
    if (value == 0) {
        return false;
    }
    hopSize = value;
    return true;
}

bool MCExtractParams::setSampleRate(unsigned int value) {
    if (value < 4000) {
        return false;
    }
    sampleRate = value;
    return true;
}

bool MCExtractParams::setMaxPairsPerPeak(unsigned int value) {
    if (value == 0) {
        return false;
    }
    maxPairsPerPeak = value;
    return true;
}

}  // namespace Trelis
