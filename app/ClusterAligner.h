// ClusterAligner: sample-accurate offsets for the members of a cluster.
//
// Starting from the cluster's reference (its member at offset 0, the last one when several are),
// each member is aligned against the aligned member it overlaps most, by a cross-correlation of a
// window of their overlap around the frame-accurate offset, whitened (phase transform) so that
// reverberation and coloured noise do not smear the peak. Only lags within two frames of the
// frame-accurate offset are searched and the peak is interpolated between samples. Two windows of
// the overlap must agree on the lag, and each peak must stand out, or the member keeps its
// frame-accurate offset. WAVE files are read only at the windows, so hour-long recordings cost
// what a minute does; media files are decoded up to them.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "ClusterResult.h"

namespace Trelis {

class RecordingReader;

struct AlignmentSettings {
    unsigned int sampleRate = 8000;
    unsigned int hopSize = 256;
    double windowSeconds = 20.0;  // longest stretch of the overlap correlated, both windows
    double minimumSeconds = 1.0;  // shorter overlaps keep the frame-accurate offset
    double minimumPeak = 5.0;     // peak height over the correlation's spread to be trusted
    bool decodeAll = false;       // read every file through the media decoder (RecordingReader)
};

class ClusterAligner {
public:
    ClusterAligner(std::map<int, std::string> paths, AlignmentSettings settings)
        : idToPath_(std::move(paths)), settings_(settings) {}

    // Offsets in seconds per file id, the earliest member at 0. Members that can't be aligned
    // (unreadable, too little overlap, weak peak, or more than two frames from their
    // frame-accurate offset through the chain) keep their frame-accurate offsets.
    std::map<int, double> align(const ClusterSet& cluster) const;

private:
    // How many samples later than `start` (the estimate) `second` starts after `first`; nothing
    // when the overlap is too short or the correlation can't be trusted.
    std::optional<double> measure(RecordingReader& first, RecordingReader& second,
                                  long long start) const;

    std::map<int, std::string> idToPath_;
    AlignmentSettings settings_;
};

}  // namespace Trelis
