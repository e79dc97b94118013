// The loudness of each recording over its length, for the report page's thumbnails: one value per
// equal stretch of the recording, in dB below its loudest stretch, down to -60. Each recording is
// read once more, on the run's threads; each envelope comes from its own recording alone, so it
// is the same for any number of threads.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Trelis {

class MCRecordingSource;

// Stretches per recording: enough for the shapes to line up by eye, few enough for a page of 200.
constexpr int kEnvelopePoints = 300;

// The envelope of every recording of `ids` that `source` opens (recordings it can't open are left
// out), with up to `points` values each (fewer for a recording of fewer samples, none for an empty
// one). `threads` 0 takes one per core.
std::map<int, std::vector<float>> loudnessEnvelopes(const std::vector<int>& ids,
                                                    MCRecordingSource& source, unsigned int threads,
                                                    int points = kEnvelopePoints);

}  // namespace Trelis
