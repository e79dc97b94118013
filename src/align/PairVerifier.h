// PairVerifier: measures candidate offsets of pairs of recordings on their audio.
//
// Each request names two files, where the second is thought to start, and how far either side to
// search; it is measured as the alignment measures a pair (PairMeasurement), at no more than the
// given number of windows spread over the overlap. Every file is opened once, in increasing id,
// read straight through keeping only the stretches the windows need, and closed before the next,
// so a run holds one open input per thread and the windows, never whole recordings. With several
// threads, files are read and requests measured side by side (the source is then called from
// several threads at once), with the same results and progress as on one.
#pragma once

#include <map>
#include <vector>

#include "MCAlignParams.h"
#include "align/PairMeasurement.h"

namespace Trelis {

class MCProgress;
class MCRecordingSource;
class PhaseCorrelator;
class RecordingWindows;

class PairVerifier {
public:
    struct Request {
        int first = 0;  // file ids
        int second = 0;
        long long lengthFirst = 0;  // samples at the parameters' rate, as far as known
        long long lengthSecond = 0;
        double offset = 0.0;  // seconds after the start of `first` at which `second` starts
        double search = 0.0;  // seconds searched either side of it
    };

    PairVerifier(const MCAlignParams& params, unsigned int maxWindows, unsigned int threads = 1);

    // One result per request, in their order; a file that can't be opened or read leaves its
    // requests unmeasured (Unreadable). `progress`, when not null, gets the fraction done.
    std::vector<PairMeasurement::Result> verify(const std::vector<Request>& requests,
                                                MCRecordingSource& source,
                                                MCProgress* progress) const;

private:
    void measureOne(const Request& r, const PairMeasurement& m,
                    const std::map<int, RecordingWindows>& windows,
                    const std::map<int, bool>& readable, PhaseCorrelator& correlator,
                    std::vector<std::vector<float>>& correlations,
                    PairMeasurement::Result& result) const;

    MCAlignParams params_;
    unsigned int maxWindows_;
    unsigned int threads_;
};

}  // namespace Trelis
