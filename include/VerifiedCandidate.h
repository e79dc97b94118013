// VerifiedCandidate: one candidate offset of a pair of files in verified matching, with what the
// audio said about it: the evidence MCVerifiedSync decides its links on, apart so that candidates
// measured on several machines can be decided on one.
//
// `first` < `second` are file ids; `votes` are the landmark votes in the candidate's box of
// offsets, `chanceVotes` those two unrelated recordings of these lengths would give it, and
// `surprise` log10 of how unlikely that count is by chance. `lined` is the line of offset and
// drift the windows agreed on (or why none did), `stacked` the correlations added up along one
// line. Plain data: copied as bytes.
#pragma once

#include "PairAlignment.h"

namespace Trelis {

struct VerifiedCandidate {
    int first = 0;
    int second = 0;
    double votes = 0.0;
    double chanceVotes = 0.0;
    double surprise = 0.0;
    PairAlignment lined;
    PairAlignment stacked;
};

}  // namespace Trelis
