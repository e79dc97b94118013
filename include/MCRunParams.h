// How a run goes about its work, beyond the settings of its stages: how many threads it uses,
// and how the matching judges a hash too popular to be scored.
//
// Threads change nothing in the results, the output or the order of progress reports; only the
// time. By default a run stays on the caller's thread. Popularity: by default a hash held by more
// than maxLandmarks landmarks over all files is dropped (MCClusterSyncParams). An event recorded
// by a crowd holds every one of its hashes in each recording: 150 recordings of one concert
// would push its hashes over that limit, and the more recordings an event has, the fewer of its
// true matches would survive. Per recording, a recording's landmarks of a hash are left out only
// when it holds more than maxLandmarks / 10 of them (a hash that repeats within the recording,
// like a beat or a hum); a hash shared once by every recording of a crowd is kept.
#pragma once

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCRunParams {
public:
    enum class Popularity { Total, PerRecording };

    MCRunParams() = default;

    unsigned int getThreads() const { return threads; }
    // 0 (one per core) to 1024; false, and no change, above.
    bool setThreads(unsigned int value);

    Popularity getPopularity() const { return popularity; }
    void setPopularity(Popularity value) { popularity = value; }

private:
    unsigned int threads = 1;
    Popularity popularity = Popularity::Total;
};

}  // namespace Trelis
