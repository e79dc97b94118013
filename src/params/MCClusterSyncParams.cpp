#include "MCClusterSyncParams.h"

#include "MCExtractParams.h"

namespace Trelis {

MCClusterSyncParams::MCClusterSyncParams(const MCExtractParams& extractParams)
    : minPercentMatch(0.0025f),
      minOverlapLength(3.0f),
      minTemplateLength(3.0f),
      maxLandmarks(250),
      acceptThreshold(5),
      framesPerSecond(static_cast<float>(extractParams.getSampleRate()) /
                      static_cast<float>(extractParams.getHopSize())),
      hopSize(extractParams.getHopSize()),
      sampleRate(extractParams.getSampleRate()) {}

MCClusterSyncParams MCClusterSyncParams::withExtraction(
    const MCExtractParams& extractParams) const {
    const MCClusterSyncParams derived(extractParams);
    MCClusterSyncParams copy(*this);
    copy.framesPerSecond = derived.framesPerSecond;
    copy.hopSize = derived.hopSize;
    copy.sampleRate = derived.sampleRate;
    return copy;
}

bool MCClusterSyncParams::setMinPercentMatch(float value) {
    if (value < 0.0f || value > 1.0f) {
        return false;
    }
    minPercentMatch = value;
    return true;
}

bool MCClusterSyncParams::setMinOverlapLength(float value) {
    if (value < 0.0f) {
        return false;
    }
    minOverlapLength = value;
    return true;
}

bool MCClusterSyncParams::setMinTemplateLength(float value) {
    if (value < 0.0f) {
        return false;
    }
    minTemplateLength = value;
    return true;
}

bool MCClusterSyncParams::setMaxLandmarks(unsigned int value) {
    if (value == 0) {
        return false;
    }
    maxLandmarks = value;
    return true;
}

bool MCClusterSyncParams::setAcceptThreshold(unsigned int value) {
    acceptThreshold = value;
    return true;
}

}  // namespace Trelis
