// OffsetCandidates: the offsets of a pair of files whose votes stand out from chance.
//
// Two unrelated recordings share hashes by coincidence, and each coincidence votes for an offset
// with a chance proportional to how long the files overlap under it: lengths L1 and L2 (frames)
// spread V stray votes as V * overlap(o) / (L1 L2) over the offsets o. Votes are counted in boxes
// of a few neighbouring offsets, wide enough for two clocks at the largest drift to stay in one
// box over the shorter file, and each box is judged by how unlikely its count is under that
// model: a Poisson tail whose spread is widened by the pair's own dispersion (music repeats, so
// stray votes clump), less the number of boxes tried. The best few boxes apart from each other
// are kept, so that a repeated chorus cannot hide the true offset behind its copy. The model is a
// floor: real stray votes clump beyond it (two tracks that share a drum sample, one voice's
// syllables), so a surprise ranks candidates and bounds their number rather than deciding.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace Trelis {

class OffsetCandidates {
public:
    struct Candidate {
        double offset = 0.0;   // frames the second file starts after the first: the box's centre
        std::int32_t low = 0;  // the box's offsets, [low, high]
        std::int32_t high = 0;
        double votes = 0.0;
        double chance = 0.0;    // stray votes expected in the box
        double surprise = 0.0;  // log10 of 1 / (the count's chance probability x boxes tried)
    };

    // `maxDrift` is the largest clock-rate difference (a fraction); boxes whose overlap is shorter
    // than `minOverlap` frames are not considered.
    OffsetCandidates(double maxDrift, double minOverlap, double minSurprise, unsigned int most);

    // The candidates among `votes` (packed as FlatLandmarkIndex hands them over, reordered here)
    // of two files `length1` and `length2` frames long, the most surprising first.
    std::vector<Candidate> find(std::vector<std::uint64_t>& votes, long long length1,
                                long long length2);
    // The same from the pair's vote count per offset, in increasing offset (votes summed
    // elsewhere: MCPairVotes).
    std::vector<Candidate> find(const std::vector<std::pair<std::int32_t, std::uint32_t>>& bins,
                                long long length1, long long length2);

    // Natural log of the chance that a Poisson count of mean `mean` reaches `count`, for
    // count > mean, from the saddle point of the tail.
    static double logTail(double count, double mean);

private:
    // The candidates of bins_, which hold `total` votes.
    std::vector<Candidate> fromBins(double total, long long length1, long long length2);

    double maxDrift_;
    double minOverlap_;
    double minSurprise_;
    unsigned int most_;
    std::vector<std::pair<std::int32_t, std::uint32_t>> bins_;  // offset, votes; increasing
    std::vector<std::uint32_t> dense_;
};

}  // namespace Trelis
