// MCProgress: the caller's observer of a clustering run.
//
// MCClusterSync::run calls setStage at each stage boundary (0 started, 1 fingerprints prepared
// and matching under way, 2 pairwise histograms done, 3 match statistics done, 4 histograms
// released and clustering under way, 5 clusters formed and named) and setProgress with a fraction
// from 0 to 1 during stage 1, restarting from 0 for each of its two phases. Every call comes on
// the caller's thread during run; results are ignored. The library never creates, copies or
// deletes an observer, and a null observer is allowed.
#pragma once

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCProgress {
public:
    virtual bool setProgress(float fraction) = 0;
    virtual bool setStage(int stage) = 0;

protected:
    ~MCProgress() = default;
};

}  // namespace Trelis
