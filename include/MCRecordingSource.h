// MCRecordingSource: opens the recordings of a cluster for the alignment, by file id.
//
// open() returns a new input positioned at the first sample, delivering mono samples at the
// alignment's sample rate (MCAlignParams), or null with the reason in `error`. close() destroys
// what open() returned: inputs are destroyed through their own type. The aligner opens each
// member once, reads it straight through from a rewind (once, or twice when it needs more of it),
// keeps it open meanwhile, and closes it before it returns, also when it throws; it never closes
// null. Verified matching on several threads (MCRunParams) opens and closes recordings from
// several threads at once: a source given to it must allow that.
#pragma once

#include <string>

#include "MCInput.h"
#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCRecordingSource {
public:
    virtual MCInput* open(int fileId, std::string& error) = 0;
    virtual void close(MCInput* input) = 0;

protected:
    ~MCRecordingSource() = default;
};

}  // namespace Trelis
