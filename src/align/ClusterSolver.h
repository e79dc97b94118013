// ClusterSolver: every member's offset and clock rate from the measured pairs of a cluster.
//
// Members are numbered 0 .. count - 1. Member m's second t lies at offset_m + rate_m t on the
// reference clock. A pair (a, b) says that one instant lies `atA` seconds after the start of a on
// a's clock and `atB` seconds after the start of b on b's, so offset_a + rate_a atA = offset_b +
// rate_b atB, and that log rate_a - log rate_b = logRate. The solver picks the largest group of
// members that the pairs link (ties: the one holding the most preferred member), fixes its most
// preferred member at offset 0 and rate 1, and solves the log rates, then the offsets, by
// weighted least squares; a member's log rate is also held near 0 by a prior, which decides it
// where the pairs can't. A pair that is more than five standard deviations and a fifth of a
// millisecond (or 1 ppm) off does not close with the others. Before dropping any, the solver
// tries the other lines of the pairs that fit poorly and takes a switch when it lowers the total
// misfit by more than the evidence the line gives up is worth; when no switch helps, it drops
// the pair furthest off. It solves again until every pair closes. The switches are first costed by
// updates of the last solve (a change of one pair's line is a rank-one change of the rate
// equations, and a small one of the offset equations); only those that may beat the best are
// solved in full, and the full solves alone decide, so the result is that of solving every one.
#pragma once

#include <vector>

namespace Trelis {

class ClusterSolver {
public:
    // One line a pair's measurement allows; `share` is its evidence against the pair's best.
    struct Line {
        double atA = 0.0;
        double atB = 0.0;
        double sigma = 0.0;  // seconds
        double logRate = 0.0;
        double logRateVariance = 0.0;  // infinite when the pair does not tell
        double share = 1.0;
    };

    struct Pair {
        int a = 0;
        int b = 0;
        std::vector<Line> lines;  // the best first; never empty
        int chosen = 0;           // the line the solve uses
        double confidence = 0.0;
        bool used = true;  // false once dropped
        const Line& line() const { return lines[static_cast<std::size_t>(chosen)]; }
    };

    struct Member {
        bool linked = false;  // solved: in the anchor's group
        double offset = 0.0;  // seconds on the anchor's clock
        double logRate = 0.0;
        double logRateVariance = 0.0;
        double confidence = 0.0;  // weakest pair on the strongest path to the anchor
    };

    // `preference` lists members, most preferred first; `priorPpm` is the standard deviation of a
    // clock's rate where no pair tells it.
    ClusterSolver(int count, std::vector<int> preference, double priorPpm);

    // Solves, marking dropped pairs unused. Returns the anchor, or -1 when no pair links two
    // members.
    int solve(std::vector<Pair>& pairs);

    // Solves every switch in full instead of costing it by updates first: the straightforward
    // form the updates are tested against.
    void setExhaustive(bool exhaustive) { exhaustive_ = exhaustive; }
    // Threads that cost the switches (0: one per core); the result does not depend on them.
    void setThreads(unsigned int threads) { threads_ = threads; }

    const std::vector<Member>& members() const { return members_; }
    // Variance of the difference of two linked members' offsets, in seconds squared.
    double offsetDifferenceVariance(int x, int y) const;

private:
    // Each pair's line, chosen by the triangles it closes with the lines of the pairs through a
    // third member (ties: the pair's own best line).
    void chooseLines(std::vector<Pair>& pairs) const;

    // One solve of the group holding `anchor`; `misfit` gets every used pair's misfit in
    // standard deviations (0 within the floors), `chi` their sum of squares without the floors.
    // Without `inverses` the covariances are left as they were (a trial needs its misfit only).
    // False when the system can't be solved.
    bool solveGroup(const std::vector<Pair>& pairs, int anchor, std::vector<double>& misfit,
                    double& chi, bool inverses = true);

    // A switch solved in full: its cost (misfit and the evidence its lines give up), and
    // whether the system could be solved.
    struct Trial {
        bool solved = false;
        double cost = 0.0;
    };
    // Pair k on `line` solved in full, from the group holding `anchor`; `given` is the evidence
    // the lines in use give up. The pairs are as they were after; the solution is this solver's.
    Trial trial(std::vector<Pair>& pairs, int anchor, std::size_t k, int line, double given);

    // A used pair as the first-order updates read it; ia and ib are the unknowns of its
    // members, the count of unknowns for the anchor.
    struct Link {
        int a, b, ia, ib;
        double atA, atB;
        double fixedVariance;  // of the offset, what the rates add left out
        double rateWeight;     // 0 when the pair does not tell
        double logRate;
    };

    struct Scratch {
        std::vector<double> rate, scale, rateVariance;                         // per member
        std::vector<double> rateStep, offsetStep, applied, offsets, residual;  // per unknown
        std::vector<double> constraint, weight;                                // per pair
        std::vector<double> sensitivity;  // how the offsets move with the log rates
        std::vector<Link> links;
        std::vector<int> linkOf;  // pair -> link, -1 when unused
    };

    // What the first-order updates need from the last solve.
    void prepareUpdates(const std::vector<Pair>& pairs, Scratch& scratch) const;

    // The log rates, their exponentials and variances (in `scratch`) once pair p's rate equation
    // changes by `dWeight` in weight and `dRight` in its right side: a rank-one change of the
    // normal equations (Sherman-Morrison on their inverse); ia and ib are its members' unknowns
    // (the anchor's outside 0 .. unknowns - 1), `step` how far the rates move along the inverse
    // times (e_a - e_b), left in scratch.rateStep. False when the update can't be made.
    bool updateRates(const Pair& p, int ia, int ib, double dWeight, double dRight, Scratch& scratch,
                     double& step) const;

    // The misfit (`chi` of solveGroup) the last solve would have with pair k on `line`, from
    // that solve's inverses; NaN when the updates can't tell.
    double updatedChi(const std::vector<Pair>& pairs, std::size_t k, int line,
                      Scratch& scratch) const;
    // The same with the offsets to first order in the change of the rates, in time linear in
    // the pairs: never below it but for rounding.
    double roughChi(const std::vector<Pair>& pairs, std::size_t k, int line,
                    Scratch& scratch) const;

    int count_;
    std::vector<int> preference_;
    double priorVariance_;
    std::vector<Member> members_;
    std::vector<int> index_;  // member -> unknown in the anchor's group, -1 for the anchor
    std::vector<double> rateCovariance_;    // dense, over the unknowns
    std::vector<double> offsetCovariance_;  // dense, over the unknowns
    std::vector<double> offsetColumns_;     // the same transposed: a column is contiguous
    std::vector<double> standardized_;      // each pair's misfit of the last solve, no floors
    int unknowns_ = 0;
    bool exhaustive_ = false;
    unsigned int threads_ = 1;
};

}  // namespace Trelis
