// Settings: the keyword settings of the module's functions, by the program's option names
// without the dash (fftsize, minpercentmatch, maxdrift, ...), with the program's defaults.
//
// Each function takes the groups it uses: extraction (the eleven extraction options), clustering
// (the five thresholds), matching (match, popularity), drift (maxdrift), threads (j),
// refinement (refinerate), refine (the switch) and files (media, stream, recursive). A name outside
// them, or a value the program or the library would refuse, raises ValueError naming the setting,
// the value and what it may be, instead of keeping the default as the program's parser does. Built
// under the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "cli/CommandLine.h"

namespace TrelisPython {

class Settings {
public:
    enum Group : unsigned {
        Extraction = 1,
        Clustering = 2,
        Matching = 4,
        Refinement = 8,
        Files = 16,
        Refine = 32,
        Drift = 64,
        Threads = 128,
        All = 255
    };

    // Reads `settings` (the caller's keywords), allowing the groups of `groups`.
    Settings(const pybind11::dict& settings, unsigned groups);

    // The cluster parameters of `extract` with the thresholds given here.
    Trelis::MCClusterSyncParams clusterParams(const Trelis::MCExtractParams& extract) const;
    // The program's run options these settings stand for.
    Trelis::RunOptions runOptions() const;

    Trelis::MCExtractParams extract;
    Trelis::MCClusterSyncParams tuned{extract};  // thresholds only: rebuilt by clusterParams
    bool verified = false;                       // match="verified"
    bool perRecording = false;                   // popularity="recording"
    unsigned int threads = 0;                    // j; 0 for one per core
    double maxDriftPpm = 200.0;
    bool refine = true;
    unsigned int refineRate = 0;  // 0: the extraction rate
    bool allMedia = true;         // media="all" (the module's default), or "wav"
    int audioStream = 0;
    bool recursive = false;
    bool extractionGiven = false;  // any extraction setting was given
};

}  // namespace TrelisPython
