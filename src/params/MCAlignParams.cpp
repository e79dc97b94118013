#include "MCAlignParams.h"

namespace Trelis {

namespace {

// Ordered comparisons written so that NaN fails them.
bool within(double value, double low, double high) {
    return value >= low && value <= high;
}

}  // namespace

// Defaults: windows of 4 s every 10 s correlate 40 % of an overlap, enough for a drift fit and
// a few hundred microseconds at the default 8000 Hz; a search of +-100 ms covers the frame
// grid (32 ms) and the errors a chain of matches adds to it; 200 ppm covers two clocks 100 ppm
// off in opposite directions; a noise peak reaches 5 spreads in a search of a thousand lags
// about once in ten thousand windows.
MCAlignParams::MCAlignParams()
    : sampleRate(8000),
      windowSeconds(4.0),
      windowSpacing(10.0),
      searchSeconds(0.1),
      maxDriftPpm(200.0),
      minOverlap(1.0),
      minPeak(5.0) {}

bool MCAlignParams::setSampleRate(unsigned int value) {
    if (value < 1000 || value > 768000) {
        return false;
    }
    sampleRate = value;
    return true;
}

bool MCAlignParams::setWindowSeconds(double value) {
    if (!within(value, 0.25, 60.0)) {
        return false;
    }
    windowSeconds = value;
    return true;
}

bool MCAlignParams::setWindowSpacing(double value) {
    if (!within(value, 0.25, 600.0)) {
        return false;
    }
    windowSpacing = value;
    return true;
}

bool MCAlignParams::setSearchSeconds(double value) {
    if (!within(value, 0.001, 10.0)) {
        return false;
    }
    searchSeconds = value;
    return true;
}

bool MCAlignParams::setMaxDriftPpm(double value) {
    if (!within(value, 0.0, 2000.0)) {
        return false;
    }
    maxDriftPpm = value;
    return true;
}

bool MCAlignParams::setMinOverlap(double value) {
    if (!within(value, 0.1, 60.0)) {
        return false;
    }
    minOverlap = value;
    return true;
}

bool MCAlignParams::setMinPeak(double value) {
    if (!within(value, 2.0, 100.0)) {
        return false;
    }
    minPeak = value;
    return true;
}

}  // namespace Trelis
