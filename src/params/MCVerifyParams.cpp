#include "MCVerifyParams.h"

namespace Trelis {

namespace {

// Ordered comparisons written so that NaN fails them.
bool within(double value, double low, double high) {
    return value >= low && value <= high;
}

}  // namespace

// Defaults: a surprise of 1 is one chance candidate in ten pairs of unrelated recordings by the
// model; real stray votes clump more (drum samples shared by two tracks, one voice's syllables,
// loops), and on the simulated corpora three in four pairs of unrelated recordings yield one. It is
// kept that low because the true offsets of short, noisy or far pairs stand barely higher (1.7 at
// the lowest on the held-out corpora) and verification is what decides; a long candidate that is
// chance costs the correlation of two windows. Three candidates per pair let a true offset through
// beside two repeats; 200 ppm are two clocks 100 ppm off in opposite directions; eight windows
// verify an hour's overlap as surely as a minute's. A strength of 13 noise spreads: on 3,355
// pairs of unrelated recordings of the simulated tuning corpora (speech babble shared between
// events included), every candidate measured, 12 linked two pairs and 13 none, while 88 % of the
// true offsets reach it.
MCVerifyParams::MCVerifyParams()
    : minSurprise(1.0),
      candidatesPerPair(3),
      maxDriftPpm(200.0),
      minOverlap(2.0),
      maxWindows(8),
      minStrength(13.0),
      clearMargin(1.5) {
    align.setMaxDriftPpm(maxDriftPpm);
}

bool MCVerifyParams::setMinSurprise(double value) {
    if (!within(value, -2.0, 50.0)) {
        return false;
    }
    minSurprise = value;
    return true;
}

bool MCVerifyParams::setCandidatesPerPair(unsigned int value) {
    if (value < 1 || value > 16) {
        return false;
    }
    candidatesPerPair = value;
    return true;
}

bool MCVerifyParams::setMaxDriftPpm(double value) {
    if (!within(value, 0.0, 2000.0)) {
        return false;
    }
    maxDriftPpm = value;
    align.setMaxDriftPpm(value);
    return true;
}

bool MCVerifyParams::setMinOverlap(double value) {
    if (!within(value, 0.5, 60.0)) {
        return false;
    }
    minOverlap = value;
    return true;
}

bool MCVerifyParams::setMaxWindows(unsigned int value) {
    if (value < 1 || value > 64) {
        return false;
    }
    maxWindows = value;
    return true;
}

bool MCVerifyParams::setMinStrength(double value) {
    if (!within(value, 2.0, 1000.0)) {
        return false;
    }
    minStrength = value;
    return true;
}

bool MCVerifyParams::setClearMargin(double value) {
    if (!within(value, 1.0, 100.0)) {
        return false;
    }
    clearMargin = value;
    return true;
}

void MCVerifyParams::setAlign(const MCAlignParams& value) {
    align = value;
    align.setMaxDriftPpm(maxDriftPpm);
}

}  // namespace Trelis
