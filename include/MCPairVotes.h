// MCPairVotes: the landmark votes of pairs of files, per offset bin, in a form that adds up
// exactly, for matching whose landmarks are spread over several machines.
//
// A bin holds, for one pair (id1 < id2) and one offset (frame in file id1 minus frame in file
// id2), how many pairs of landmarks voted for it and the earliest and latest file-id1 frame among
// them: sums and extremes, so the bins of landmarks split by hash combine into the bins of all
// of them, whatever the split. The popular-hash rules only look at one hash's landmarks, so a
// split by hash keeps them too. From the combined bins, statistics() makes each pair's
// MCMatchStats with the same code and to the same bit as MCClusterSync::run's matching.
//
// Bins are kept sorted by id1, id2, offset, each (pair, offset) once. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "MCMatchStats.h"
#include "TrelisExport.h"

namespace Trelis {

class MCFileSet;

class TRELIS_EXPORT MCPairVotes {
public:
    struct Bin {
        std::int32_t id1;
        std::int32_t id2;
        std::int32_t offset;
        std::uint32_t count;
        std::int32_t earliest;  // file id1's frames of the votes
        std::int32_t latest;
    };

    MCPairVotes() = default;
    // Bins in any order; equal (pair, offset) bins are combined.
    explicit MCPairVotes(std::vector<Bin> bins);

    // The votes of `count` landmarks (hash, file id, start frame), which must hold every landmark
    // of each hash among them (a split by hash), in any order. Hashes held by more than
    // `maxLandmarks` landmarks are dropped or, with `perRecording`, a file's landmarks of a hash
    // when it holds more than maxLandmarks / 10.
    static MCPairVotes fromLandmarks(const std::uint32_t* hashes, const std::int32_t* files,
                                     const std::int32_t* times, std::size_t count,
                                     unsigned int maxLandmarks, bool perRecording);

    // Adds the votes of `other`: counts summed, earliest and latest frames widened.
    void add(const MCPairVotes& other);

    // The statistics of every pair, ordered by id1 then id2, without histogram; `files` must hold
    // each file's landmark counts (its records, or records given them by setLandmarkCounts).
    std::vector<MCMatchStats> statistics(MCFileSet* files) const;

    // The bins of the pairs whose slot among `parts` (a hash of id1 and id2) is `part`.
    MCPairVotes part(unsigned int part, unsigned int parts) const;
    // Which of `parts` slots the pair falls in.
    static unsigned int slotOf(std::int32_t id1, std::int32_t id2, unsigned int parts);

    const std::vector<Bin>& bins() const { return bins_; }

private:
    std::vector<Bin> bins_;
};

}  // namespace Trelis
