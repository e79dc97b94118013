// PairMatch: what verified matching found for one pair of files.
//
// `first` < `second` are file ids. A Linked pair joined the clustering at `alignment`'s offset
// (seconds after the start of `first` at which `second` starts) and drift; an Ambiguous pair had
// two offsets that both verified without one clearly stronger (repeated material) and was left
// unlinked: `rival` is the weaker. `votes` are the landmark votes in the candidate's box,
// `chanceVotes` those two unrelated recordings of these lengths would give it, and `surprise`
// log10 of how unlikely the count is by chance, the boxes tried counted.
#pragma once

#include "PairAlignment.h"

namespace Trelis {

struct PairMatch {
    enum class Status { Linked, Ambiguous };

    int first = 0;
    int second = 0;
    Status status = Status::Linked;
    double votes = 0.0;
    double chanceVotes = 0.0;
    double surprise = 0.0;
    PairAlignment alignment;  // the verification of the offset taken (or the stronger one)
    PairAlignment rival;      // Ambiguous only: the other offset that verified
};

}  // namespace Trelis
