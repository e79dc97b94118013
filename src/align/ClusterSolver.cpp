#include "align/ClusterSolver.h"

#include "MCTaskPool.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace Trelis {

namespace {

// For a rank-one change along e_plus - e_minus: the dense symmetric `inverse` (n x n) times that
// vector into `out` (n + 1 entries, the last 0), and the vector's product with it, the q of
// Sherman-Morrison. An index outside 0 .. n-1 (-1, or n for the anchor) is a member held fixed,
// which adds nothing.
double differenceColumn(const std::vector<double>& inverse, int n, int plus, int minus,
                        std::vector<double>& out) {
    const auto at = [n](int i, int j) { return static_cast<std::size_t>(i * n + j); };
    const bool plusFree = plus >= 0 && plus < n, minusFree = minus >= 0 && minus < n;
    out.resize(static_cast<std::size_t>(n + 1));
    for (int m = 0; m < n; ++m) {
        out[m] =
            (plusFree ? inverse[at(plus, m)] : 0.0) - (minusFree ? inverse[at(minus, m)] : 0.0);
    }
    out[n] = 0.0;
    return (plusFree ? out[plus] : 0.0) - (minusFree ? out[minus] : 0.0);
}

// Sherman-Morrison for a change of `weight` along e_plus - e_minus of the matrix whose dense
// symmetric `inverse` is given: `column` and `q` as differenceColumn gives them, and `gamma`, by
// which the change takes gamma column column^T off the inverse. False when the changed matrix is
// not positive definite.
bool rankOneChange(const std::vector<double>& inverse, int n, int plus, int minus, double weight,
                   std::vector<double>& column, double& q, double& gamma) {
    q = differenceColumn(inverse, n, plus, minus, column);
    const double denominator = 1.0 + weight * q;
    if (!(denominator > 0.0)) {
        return false;
    }
    gamma = weight / denominator;
    return true;
}

// What no measurement captures: sources spread over a stage or a room reach the members by paths
// that do not add up exactly, so no pair is trusted beyond these.
constexpr double kOffsetModel = 50e-6;  // seconds
constexpr double kRateModel = 0.05e-6;
// A pair is dropped when it is this many standard deviations off, and off by more than the
// floor: smaller misfits are the spread of honest measurements.
constexpr double kOutlierSpread = 5.0;
constexpr double kOffsetFloor = 0.2e-3;  // seconds
constexpr double kRateFloor = 1e-6;
// Pairs that fit worse than this many standard deviations may switch to another of their lines,
// and the misfit (sum of squares) that the evidence a line gives up against the best is worth.
constexpr double kSwitchMisfit = 1.5;
constexpr double kEvidenceWeight = 25.0;
// How far a switch's cost from updates may lie above the best full solve and still be solved in
// full, relative to that cost; so that no switch that could win is passed over, far beyond what
// the updates were seen to miss by on the day and crowd clusters: a few parts in 10^12 for
// updatedChi, up to 2.5 parts in 10^6 (always too high) for roughChi, which only decides what
// updatedChi looks at.
constexpr double kEstimateMargin = 1e-6;
constexpr double kRoughMargin = 1e-4;
// The updates of the offsets are repeated until the misfit they would still take off is this
// small a part of it.
constexpr double kOffsetConverged = 1e-10;
constexpr int kMaxOffsetUpdates = 12;
// The most switches costed in one go.
constexpr std::size_t kLargestBatch = 256;

// What invertAndSolve leaves in its matrix.
enum class Inverse { Full, Diagonal, None };

// Solves the symmetric positive definite system `a` x = b (n x n, row major) in place by
// Cholesky; `a` then holds the inverse, or only its diagonal, or is left as it was. False when
// the matrix is not positive definite.
bool invertAndSolve(std::vector<double>& a, std::vector<double>& b, int n, Inverse inverse) {
    // A column at a time, its entries below the diagonal kRows at a time: each entry is the sum
    // a row-by-row factorization takes, in its order, of entries made before it either way, and
    // the rows' sums run side by side.
    constexpr int kRows = 4;
    std::vector<double> l(a.size(), 0.0);
    for (int j = 0; j < n; ++j) {
        const double* pivotRow = &l[static_cast<std::size_t>(j * n)];
        double pivot = a[j * n + j];
        for (int k = 0; k < j; ++k) {
            pivot -= pivotRow[k] * pivotRow[k];
        }
        if (!(pivot > 0.0)) {
            return false;
        }
        l[j * n + j] = std::sqrt(pivot);
        for (int i = j + 1; i < n; i += kRows) {
            const int rows = std::min(kRows, n - i);
            double sum[kRows];
            for (int r = 0; r < rows; ++r) {
                sum[r] = a[(i + r) * n + j];
            }
            for (int k = 0; k < j; ++k) {
                for (int r = 0; r < rows; ++r) {
                    sum[r] -= l[static_cast<std::size_t>((i + r) * n + k)] * pivotRow[k];
                }
            }
            for (int r = 0; r < rows; ++r) {
                l[(i + r) * n + j] = sum[r] / l[j * n + j];
            }
        }
    }
    // L L^T x = y for kLanes right sides at once, entry i of side c in lane i * kLanes + c; each
    // lane takes a one-column solve's steps in its order, the lanes side by side. The forward
    // pass starts at `first`, the backward one ends at `last`: a unit vector e_j stays +0 above
    // j through the forward pass (subtracting the terms below j, +0 or -0, leaves a sum of +0
    // as it was), so unit vectors from `first` on need nothing above it; and entry j of the
    // result needs the backward pass down to j only.
    constexpr int kLanes = 4;
    std::vector<double> lanes(static_cast<std::size_t>(n * kLanes), 0.0);
    const auto lane = [&](int i, int c) -> double& {
        return lanes[static_cast<std::size_t>(i * kLanes + c)];
    };
    const auto solveLanes = [&](int first, int last) {
        double sum[kLanes];
        for (int i = first; i < n; ++i) {
            const double* row = &l[static_cast<std::size_t>(i * n)];
            for (int c = 0; c < kLanes; ++c) {
                sum[c] = lane(i, c);
            }
            for (int k = first; k < i; ++k) {
                for (int c = 0; c < kLanes; ++c) {
                    sum[c] -= row[k] * lane(k, c);
                }
            }
            for (int c = 0; c < kLanes; ++c) {
                lane(i, c) = sum[c] / row[i];
            }
        }
        for (int i = n - 1; i >= last; --i) {
            for (int c = 0; c < kLanes; ++c) {
                sum[c] = lane(i, c);
            }
            for (int k = i + 1; k < n; ++k) {
                const double lki = l[static_cast<std::size_t>(k * n + i)];
                for (int c = 0; c < kLanes; ++c) {
                    sum[c] -= lki * lane(k, c);
                }
            }
            for (int c = 0; c < kLanes; ++c) {
                lane(i, c) = sum[c] / l[i * n + i];
            }
        }
    };
    for (int i = 0; i < n; ++i) {
        lane(i, 0) = b[i];
    }
    solveLanes(0, 0);
    for (int i = 0; i < n; ++i) {
        b[i] = lane(i, 0);
    }
    if (inverse == Inverse::None) {
        return true;
    }
    for (int first = 0; first < n; first += kLanes) {
        std::fill(lanes.begin(), lanes.end(), 0.0);
        for (int c = 0; c < kLanes && first + c < n; ++c) {
            lane(first + c, c) = 1.0;
        }
        solveLanes(first, inverse == Inverse::Diagonal ? first : 0);
        for (int c = 0; c < kLanes && first + c < n; ++c) {
            const int j = first + c;
            if (inverse == Inverse::Diagonal) {
                a[j * n + j] = lane(j, c);
                continue;
            }
            for (int i = 0; i < n; ++i) {
                a[i * n + j] = lane(i, c);
            }
        }
    }
    return true;
}

// Triangles: a line of pair (a, b) closes with lines of (a, c) and (c, b) when the three agree
// to within this, or three standard deviations of the three if more.
constexpr double kClosure = 0.25e-3;  // seconds

// Where the second member of a pair starts on the first's clock, and how many of its seconds
// pass per second of the first, for one line; from either side.
struct Placement {
    double start;
    double rate;
    double sigma;
};

Placement place(const ClusterSolver::Line& line, bool reversed) {
    const double rate = std::exp(line.logRate);
    const double start = line.atA - line.atB / rate;  // b's start on a's clock
    if (!reversed) {
        return {start, rate, line.sigma};
    }
    return {-start * rate, 1.0 / rate, line.sigma * rate};
}

int findRoot(std::vector<int>& parent, int x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

}  // namespace

ClusterSolver::ClusterSolver(int count, std::vector<int> preference, double priorPpm)
    : count_(count),
      preference_(std::move(preference)),
      priorVariance_(priorPpm * 1e-6 * priorPpm * 1e-6),
      members_(static_cast<std::size_t>(count)),
      index_(static_cast<std::size_t>(count), -1) {}

void ClusterSolver::chooseLines(std::vector<Pair>& pairs) const {
    // The pair of each two members, and which way round it is stored.
    std::vector<int> pairOf(static_cast<std::size_t>(count_ * count_), -1);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        pairOf[static_cast<std::size_t>(pairs[k].a * count_ + pairs[k].b)] = static_cast<int>(k);
        pairOf[static_cast<std::size_t>(pairs[k].b * count_ + pairs[k].a)] = static_cast<int>(k);
    }
    const auto placements = [&](int x, int y) {
        std::vector<Placement> out;
        const int k = pairOf[static_cast<std::size_t>(x * count_ + y)];
        if (k >= 0) {
            for (const Line& line : pairs[static_cast<std::size_t>(k)].lines) {
                out.push_back(place(line, pairs[static_cast<std::size_t>(k)].a != x));
            }
        }
        return out;
    };
    for (Pair& p : pairs) {
        if (p.lines.size() < 2) {
            continue;
        }
        std::vector<double> support(p.lines.size(), 0.0);
        for (int c = 0; c < count_; ++c) {
            if (c == p.a || c == p.b) {
                continue;
            }
            const std::vector<Placement> ac = placements(p.a, c);
            const std::vector<Placement> cb = placements(c, p.b);
            for (std::size_t l = 0; l < p.lines.size(); ++l) {
                const Placement ab = place(p.lines[l], false);
                bool closes = false;
                for (const Placement& first : ac) {
                    for (const Placement& second : cb) {
                        // b's start on a's clock by way of c.
                        const double via = first.start + second.start / first.rate;
                        const double spread =
                            std::sqrt(ab.sigma * ab.sigma + first.sigma * first.sigma +
                                      second.sigma * second.sigma);
                        closes =
                            closes || std::fabs(via - ab.start) <= std::max(kClosure, 3.0 * spread);
                    }
                }
                support[l] += closes ? 1.0 : 0.0;
            }
        }
        // Most triangles closed first, then the most evidence.
        std::size_t chosen = 0;
        for (std::size_t l = 1; l < p.lines.size(); ++l) {
            if (support[l] > support[chosen]) {
                chosen = l;
            }
        }
        p.chosen = static_cast<int>(chosen);
    }
}

int ClusterSolver::solve(std::vector<Pair>& pairs) {
    chooseLines(pairs);
    std::vector<double> misfit;
    const auto outliers = [](const std::vector<double>& m) {
        return std::count_if(m.begin(), m.end(), [](double x) { return x > kOutlierSpread; });
    };
    int anchor = -1;
    for (;;) {
        // The groups the used pairs link; the largest wins, then the one with the most preferred
        // member.
        std::vector<int> parent(static_cast<std::size_t>(count_));
        std::iota(parent.begin(), parent.end(), 0);
        for (const Pair& p : pairs) {
            if (p.used) {
                parent[findRoot(parent, p.a)] = findRoot(parent, p.b);
            }
        }
        std::vector<int> size(static_cast<std::size_t>(count_), 0);
        for (int m = 0; m < count_; ++m) {
            ++size[findRoot(parent, m)];
        }
        anchor = -1;
        for (int m : preference_) {
            if (anchor < 0 || size[findRoot(parent, m)] > size[findRoot(parent, anchor)]) {
                anchor = m;
            }
        }
        members_.assign(static_cast<std::size_t>(count_), Member());
        if (anchor < 0 || size[findRoot(parent, anchor)] < 2) {
            return -1;
        }
        const int group = findRoot(parent, anchor);
        unknowns_ = 0;
        for (int m = 0; m < count_; ++m) {
            index_[m] = (findRoot(parent, m) == group && m != anchor) ? unknowns_++ : -1;
        }
        double chi = 0.0;
        if (!solveGroup(pairs, anchor, misfit, chi)) {
            return -1;
        }
        // Another line of a pair that fits poorly may close the cycles it is in: the switch that
        // lowers the misfit most, counting the evidence a line gives up against the best, wins.
        double given = 0.0;
        for (const Pair& p : pairs) {
            given += p.used ? 1.0 - p.line().share : 0.0;
        }
        double bestCost = chi + kEvidenceWeight * given;
        std::size_t bestPair = 0;
        int bestLine = -1;
        // Every switch, costed from this solve to first order in the change of the rates
        // (-infinity when that can't be done, or isn't wanted, which has it solved in full).
        struct Switch {
            std::size_t pair;
            int line;
            double rough;
        };
        std::vector<Switch> switches;
        Scratch scratch;
        const std::vector<double> fit = standardized_;  // the trials overwrite it
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            const Pair& p = pairs[k];
            if (!p.used || !members_[p.a].linked || fit[k] < kSwitchMisfit) {
                continue;
            }
            for (int line = 0; line < static_cast<int>(p.lines.size()); ++line) {
                if (line != p.chosen) {
                    switches.push_back({k, line, -std::numeric_limits<double>::infinity()});
                }
            }
        }
        const auto withEvidence = [&](const Pair& p, int line, double updated) {
            const double cost =
                updated + kEvidenceWeight * (given - (1.0 - p.line().share) + 1.0 -
                                             p.lines[static_cast<std::size_t>(line)].share);
            return std::isnan(cost) ? -std::numeric_limits<double>::infinity() : cost;
        };
        // Each estimate depends on its switch alone, so the threads share them out freely.
        const MCTaskPool pool(threads_);
        std::vector<Scratch> own;
        if (!exhaustive_ && !switches.empty()) {
            prepareUpdates(pairs, scratch);
            own.assign(pool.size(), scratch);
            const std::size_t parts = std::min<std::size_t>(switches.size(), 8 * pool.size());
            pool.run(parts, [&](std::size_t part, unsigned int worker) {
                const std::size_t from = part * switches.size() / parts;
                const std::size_t to = (part + 1) * switches.size() / parts;
                for (std::size_t s = from; s < to; ++s) {
                    Switch& w = switches[s];
                    w.rough = withEvidence(pairs[w.pair], w.line,
                                           roughChi(pairs, w.pair, w.line, own[worker]));
                }
            });
        }
        // The most promising first: those that may come near the best are costed again to the
        // last digits that matter, and solved in full if they still may. The full solves decide,
        // ties going to the switch a search in pair order meets first.
        std::vector<std::size_t> order(switches.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            return switches[x].rough < switches[y].rough;
        });
        std::size_t bestSwitch = 0;
        const auto near = [&](double estimate, double margin) {
            return !(estimate > bestCost + margin * (1.0 + std::fabs(bestCost)));
        };
        // The finer costs are made side by side ahead of the search, for the switches next in
        // order whose rough cost is near the best, in batches that double from one per thread:
        // a search that stops early wastes little, a long one keeps the threads busy. So are the
        // full solves, each on a copy of the solver and of the pairs, for the switches next in
        // order that may still win by the costs known so far. The search then takes the results
        // in order, as it would have made them.
        std::vector<double> estimate(switches.size());
        std::size_t estimated = 0;  // positions in `order` costed so far
        std::size_t batch = pool.size();
        std::vector<Trial> trials(switches.size());
        std::vector<char> tried(switches.size(), 0);
        std::size_t trialBatch = pool.size();
        std::vector<ClusterSolver> solvers;
        std::vector<std::vector<Pair>> pairCopies;
        const auto mayWin = [&](std::size_t s) {
            return exhaustive_ || near(estimate[s], kEstimateMargin);
        };
        for (std::size_t at = 0; at < order.size(); ++at) {
            const std::size_t s = order[at];
            if (!near(switches[s].rough, kRoughMargin)) {
                break;
            }
            if (!exhaustive_ && at == estimated) {
                while (estimated < order.size() && estimated - at < batch &&
                       near(switches[order[estimated]].rough, kRoughMargin)) {
                    ++estimated;
                }
                pool.run(estimated - at, [&](std::size_t i, unsigned int worker) {
                    const Switch& w = switches[order[at + i]];
                    estimate[order[at + i]] = withEvidence(
                        pairs[w.pair], w.line, updatedChi(pairs, w.pair, w.line, own[worker]));
                });
                batch = std::min<std::size_t>(2 * batch, kLargestBatch);
            }
            if (!mayWin(s)) {
                continue;
            }
            if (!tried[s]) {
                std::vector<std::size_t> next = {s};
                for (std::size_t ahead = at + 1; ahead < order.size() && next.size() < trialBatch &&
                                                 (exhaustive_ || ahead < estimated) &&
                                                 near(switches[order[ahead]].rough, kRoughMargin);
                     ++ahead) {
                    if (mayWin(order[ahead])) {
                        next.push_back(order[ahead]);
                    }
                }
                if (solvers.empty()) {
                    solvers.assign(pool.size(), *this);
                    pairCopies.assign(pool.size(), pairs);
                }
                pool.run(next.size(), [&](std::size_t i, unsigned int worker) {
                    const Switch& w = switches[next[i]];
                    trials[next[i]] =
                        solvers[worker].trial(pairCopies[worker], anchor, w.pair, w.line, given);
                    tried[next[i]] = 1;
                });
                trialBatch = std::min<std::size_t>(2 * trialBatch, kLargestBatch);
            }
            const Trial& result = trials[s];
            if (result.solved && (result.cost < bestCost ||
                                  (result.cost == bestCost && bestLine >= 0 && s < bestSwitch))) {
                bestCost = result.cost;
                bestPair = switches[s].pair;
                bestLine = switches[s].line;
                bestSwitch = s;
            }
        }
        if (bestLine >= 0) {
            pairs[bestPair].chosen = bestLine;
            continue;
        }
        if (outliers(misfit) == 0) {
            break;
        }
        // No line helps: the pair furthest off goes.
        std::size_t worst = 0;
        for (std::size_t k = 1; k < misfit.size(); ++k) {
            if (misfit[k] > misfit[worst]) {
                worst = k;
            }
        }
        pairs[worst].used = false;
    }

    // Confidence: the widest path from the anchor, the weakest pair along it.
    std::vector<bool> done(static_cast<std::size_t>(count_), false);
    members_[anchor].confidence = 1.0;
    for (;;) {
        int next = -1;
        for (int m = 0; m < count_; ++m) {
            if (!done[m] && members_[m].linked &&
                (next < 0 || members_[m].confidence > members_[next].confidence)) {
                next = m;
            }
        }
        if (next < 0) {
            break;
        }
        done[next] = true;
        for (const Pair& p : pairs) {
            if (p.used && (p.a == next || p.b == next)) {
                const int other = p.a == next ? p.b : p.a;
                members_[other].confidence = std::max(
                    members_[other].confidence, std::min(members_[next].confidence, p.confidence));
            }
        }
    }
    return anchor;
}

ClusterSolver::Trial ClusterSolver::trial(std::vector<Pair>& pairs, int anchor, std::size_t k,
                                          int line, double given) {
    Pair& p = pairs[k];
    const int held = p.chosen;
    const double before = 1.0 - p.line().share;
    p.chosen = line;
    Trial result;
    std::vector<double> misfit;
    double chi = 0.0;
    result.solved = solveGroup(pairs, anchor, misfit, chi, false);
    result.cost = chi + kEvidenceWeight * (given - before + 1.0 - p.line().share);
    p.chosen = held;
    return result;
}

bool ClusterSolver::solveGroup(const std::vector<Pair>& pairs, int anchor,
                               std::vector<double>& misfit, double& chi, bool inverses) {
    const int n = unknowns_;
    const auto at = [n](int i, int j) { return static_cast<std::size_t>(i * n + j); };
    for (int m = 0; m < count_; ++m) {
        members_[m] = Member();
        members_[m].linked = index_[m] >= 0 || m == anchor;
    }
    const auto inGroup = [&](const Pair& p) { return p.used && members_[p.a].linked; };

    // Log rates, each held near 0 by the prior.
    std::vector<double> matrix(static_cast<std::size_t>(n * n), 0.0);
    std::vector<double> rhs(static_cast<std::size_t>(n), 0.0);
    const auto addEquation = [&](int a, int b, double value, double weight) {
        // x_a - x_b = value
        const int i = index_[a], j = index_[b];
        if (i >= 0) {
            matrix[at(i, i)] += weight;
            rhs[i] += weight * value;
        }
        if (j >= 0) {
            matrix[at(j, j)] += weight;
            rhs[j] -= weight * value;
        }
        if (i >= 0 && j >= 0) {
            matrix[at(i, j)] -= weight;
            matrix[at(j, i)] -= weight;
        }
    };
    for (const Pair& p : pairs) {
        if (inGroup(p) && std::isfinite(p.line().logRateVariance)) {
            addEquation(p.a, p.b, p.line().logRate,
                        1.0 / (p.line().logRateVariance + kRateModel * kRateModel));
        }
    }
    for (int i = 0; i < n; ++i) {
        matrix[at(i, i)] += 1.0 / priorVariance_;
    }
    if (!invertAndSolve(matrix, rhs, n, inverses ? Inverse::Full : Inverse::Diagonal)) {
        return false;
    }
    if (inverses) {
        rateCovariance_ = matrix;
    }
    for (int m = 0; m < count_; ++m) {
        if (index_[m] >= 0) {
            members_[m].logRate = rhs[index_[m]];
            members_[m].logRateVariance = matrix[at(index_[m], index_[m])];
        }
    }

    // Offsets, with the rates' uncertainty carried into each pair's.
    std::vector<double> constraint(pairs.size(), 0.0), variance(pairs.size(), 0.0);
    std::fill(matrix.begin(), matrix.end(), 0.0);
    std::fill(rhs.begin(), rhs.end(), 0.0);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const Pair& p = pairs[k];
        if (!inGroup(p)) {
            continue;
        }
        const Member& a = members_[p.a];
        const Member& b = members_[p.b];
        const double ta = std::exp(a.logRate) * p.line().atA;
        const double tb = std::exp(b.logRate) * p.line().atB;
        constraint[k] = ta - tb;  // offset_b - offset_a
        variance[k] = p.line().sigma * p.line().sigma + kOffsetModel * kOffsetModel +
                      ta * ta * a.logRateVariance + tb * tb * b.logRateVariance;
        addEquation(p.b, p.a, constraint[k], 1.0 / variance[k]);
    }
    if (!invertAndSolve(matrix, rhs, n, inverses ? Inverse::Full : Inverse::None)) {
        return false;
    }
    for (int m = 0; m < count_; ++m) {
        if (index_[m] >= 0) {
            members_[m].offset = rhs[index_[m]];
        }
    }
    if (inverses) {
        offsetCovariance_ = std::move(matrix);
        offsetColumns_.resize(offsetCovariance_.size());
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                offsetColumns_[at(j, i)] = offsetCovariance_[at(i, j)];
            }
        }
    }

    misfit.assign(pairs.size(), 0.0);
    standardized_.assign(pairs.size(), 0.0);
    chi = 0.0;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const Pair& p = pairs[k];
        if (!inGroup(p)) {
            continue;
        }
        const Member& a = members_[p.a];
        const Member& b = members_[p.b];
        const double miss = b.offset - a.offset - constraint[k];
        const double z = std::fabs(miss) / std::sqrt(variance[k]);
        double worst = z;
        chi += z * z;
        if (std::fabs(miss) > kOffsetFloor) {
            misfit[k] = z;
        }
        if (std::isfinite(p.line().logRateVariance)) {
            const double rateMiss = a.logRate - b.logRate - p.line().logRate;
            const double zr =
                std::fabs(rateMiss) / std::sqrt(p.line().logRateVariance + kRateModel * kRateModel);
            worst = std::max(worst, zr);
            chi += zr * zr;
            if (std::fabs(rateMiss) > kRateFloor) {
                misfit[k] = std::max(misfit[k], zr);
            }
        }
        standardized_[k] = worst;
    }
    return true;
}

void ClusterSolver::prepareUpdates(const std::vector<Pair>& pairs, Scratch& scratch) const {
    const int n = unknowns_;
    const auto at = [n](int i, int j) { return static_cast<std::size_t>(i * n + j); };
    // The used pairs, each member's unknown n for the anchor (which stays at 0).
    scratch.links.clear();
    scratch.linkOf.assign(pairs.size(), -1);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const Pair& p = pairs[k];
        if (p.used && members_[p.a].linked) {
            const Line& l = p.line();
            scratch.linkOf[k] = static_cast<int>(scratch.links.size());
            scratch.links.push_back({p.a, p.b, index_[p.a] >= 0 ? index_[p.a] : n,
                                     index_[p.b] >= 0 ? index_[p.b] : n, l.atA, l.atB,
                                     l.sigma * l.sigma + kOffsetModel * kOffsetModel,
                                     std::isfinite(l.logRateVariance)
                                         ? 1.0 / (l.logRateVariance + kRateModel * kRateModel)
                                         : 0.0,
                                     l.logRate});
        }
    }
    // K R, K being how the offset equations' right side moves with the log rates, to first order.
    std::vector<double> moved(static_cast<std::size_t>(n * n), 0.0);
    for (const Pair& p : pairs) {
        if (!p.used || !members_[p.a].linked) {
            continue;
        }
        const int ia = index_[p.a], ib = index_[p.b];
        const double ta = std::exp(members_[p.a].logRate) * p.line().atA;
        const double tb = std::exp(members_[p.b].logRate) * p.line().atB;
        const double weight = 1.0 / (p.line().sigma * p.line().sigma + kOffsetModel * kOffsetModel +
                                     ta * ta * members_[p.a].logRateVariance +
                                     tb * tb * members_[p.b].logRateVariance);
        for (int m = 0; m < n; ++m) {
            const double v = weight * ((ia >= 0 ? ta * rateCovariance_[at(ia, m)] : 0.0) -
                                       (ib >= 0 ? tb * rateCovariance_[at(ib, m)] : 0.0));
            if (ib >= 0) {
                moved[at(ib, m)] += v;
            }
            if (ia >= 0) {
                moved[at(ia, m)] -= v;
            }
        }
    }
    // (C K R)^T = (K R)^T C, stored so that a column of C K R is a row.
    scratch.sensitivity.assign(static_cast<std::size_t>(n * n), 0.0);
    for (int i = 0; i < n; ++i) {
        for (int l = 0; l < n; ++l) {
            const double x = moved[at(l, i)];
            if (x == 0.0) {
                continue;
            }
            for (int j = 0; j < n; ++j) {
                scratch.sensitivity[at(i, j)] += x * offsetCovariance_[at(l, j)];
            }
        }
    }
}

bool ClusterSolver::updateRates(const Pair& p, int ia, int ib, double dWeight, double dRight,
                                Scratch& scratch, double& step) const {
    std::vector<double>& g = scratch.rateStep;  // the inverse times (e_a - e_b)
    double q = 0.0, gamma = 0.0;
    if (!rankOneChange(rateCovariance_, unknowns_, ia, ib, dWeight, g, q, gamma)) {
        return false;
    }
    const double difference = members_[p.a].logRate - members_[p.b].logRate;
    step = dRight - gamma * (difference + dRight * q);
    scratch.rate.resize(static_cast<std::size_t>(count_));
    scratch.scale.resize(static_cast<std::size_t>(count_));
    scratch.rateVariance.resize(static_cast<std::size_t>(count_));
    for (int m = 0; m < count_; ++m) {
        const int i = index_[m];
        scratch.rate[m] = members_[m].logRate + (i >= 0 ? step * g[i] : 0.0);
        scratch.scale[m] = std::exp(scratch.rate[m]);
        scratch.rateVariance[m] =
            members_[m].logRateVariance - (i >= 0 ? gamma * g[i] * g[i] : 0.0);
        if (scratch.rateVariance[m] < 0.0) {
            return false;
        }
    }
    return true;
}

double ClusterSolver::roughChi(const std::vector<Pair>& pairs, std::size_t k, int line,
                               Scratch& scratch) const {
    constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
    const int n = unknowns_;
    const auto at = [n](int i, int j) { return static_cast<std::size_t>(i * n + j); };
    const Pair& p = pairs[k];
    const Line& taken = p.lines[static_cast<std::size_t>(line)];
    const Link& own = scratch.links[static_cast<std::size_t>(scratch.linkOf[k])];
    const double newRateWeight = std::isfinite(taken.logRateVariance)
                                     ? 1.0 / (taken.logRateVariance + kRateModel * kRateModel)
                                     : 0.0;

    // Log rates, exact but for rounding (as in updatedChi).
    const int ia = own.ia, ib = own.ib;  // n for the anchor
    const double dWeight = newRateWeight - own.rateWeight;
    const double dRight = newRateWeight * taken.logRate - own.rateWeight * own.logRate;
    double step = 0.0;
    if (!updateRates(p, ia, ib, dWeight, dRight, scratch, step)) {
        return kUnknown;
    }
    const std::vector<double>& g = scratch.rateStep;
    const std::vector<double>& rate = scratch.rate;
    const std::vector<double>& scale = scratch.scale;
    const std::vector<double>& variance = scratch.rateVariance;

    // The pair's own offset equation, before and after.
    const double oldTa = std::exp(members_[p.a].logRate) * own.atA;
    const double oldTb = std::exp(members_[p.b].logRate) * own.atB;
    const double oldWeight =
        1.0 / (own.fixedVariance + oldTa * oldTa * members_[p.a].logRateVariance +
               oldTb * oldTb * members_[p.b].logRateVariance);
    const double newTa = scale[p.a] * taken.atA, newTb = scale[p.b] * taken.atB;
    const double newFixed = taken.sigma * taken.sigma + kOffsetModel * kOffsetModel;
    const double newWeight =
        1.0 / (newFixed + newTa * newTa * variance[p.a] + newTb * newTb * variance[p.b]);
    const double dOffsetWeight = newWeight - oldWeight;

    // Offsets to first order in the change of the rates, the pair's own change exact
    // (Sherman-Morrison on the last solve's inverse).
    std::vector<double>& h = scratch.offsetStep;
    std::vector<double>& y = scratch.offsets;
    y.resize(static_cast<std::size_t>(n + 1));
    double qOffset = 0.0, offsetGamma = 0.0;
    if (!rankOneChange(offsetCovariance_, n, ib, ia, dOffsetWeight, h, qOffset, offsetGamma)) {
        return kUnknown;
    }
    const double correction = newWeight * (newTa - newTb) - oldWeight * (oldTa - oldTb) -
                              oldWeight * step * (oldTa * g[ia] - oldTb * g[ib]);
    for (int m = 0; m < count_; ++m) {
        const int i = index_[m];
        if (i >= 0) {
            y[i] = members_[m].offset + correction * h[i] +
                   step * ((ia < n ? scratch.sensitivity[at(ia, i)] : 0.0) -
                           (ib < n ? scratch.sensitivity[at(ib, i)] : 0.0));
        }
    }
    y[n] = 0.0;
    const double along = y[ib] - y[ia];
    for (int i = 0; i < n; ++i) {
        y[i] -= offsetGamma * h[i] * along;
    }

    double chi = 0.0;
    for (const Link& l : scratch.links) {
        const double ta = scale[l.a] * l.atA;
        const double tb = scale[l.b] * l.atB;
        const double miss = ta - tb - (y[l.ib] - y[l.ia]);
        const double rateMiss = rate[l.a] - rate[l.b] - l.logRate;
        chi += miss * miss / (l.fixedVariance + ta * ta * variance[l.a] + tb * tb * variance[l.b]) +
               rateMiss * rateMiss * l.rateWeight;
    }
    // The pair itself on its new line instead.
    const double miss = newTa - newTb - (y[ib] - y[ia]);
    const double rateMiss = rate[p.a] - rate[p.b] - taken.logRate;
    const double ownTa = scale[p.a] * own.atA, ownTb = scale[p.b] * own.atB;
    const double ownMiss = ownTa - ownTb - (y[ib] - y[ia]);
    const double ownRateMiss = rate[p.a] - rate[p.b] - own.logRate;
    chi +=
        miss * miss * newWeight + rateMiss * rateMiss * newRateWeight -
        (ownMiss * ownMiss /
             (own.fixedVariance + ownTa * ownTa * variance[p.a] + ownTb * ownTb * variance[p.b]) +
         ownRateMiss * ownRateMiss * own.rateWeight);
    return std::max(chi, 0.0);
}

double ClusterSolver::updatedChi(const std::vector<Pair>& pairs, std::size_t k, int line,
                                 Scratch& scratch) const {
    constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
    const int n = unknowns_;
    const auto at = [n](int i, int j) { return static_cast<std::size_t>(i * n + j); };
    const Pair& p = pairs[k];
    const Line& taken = p.lines[static_cast<std::size_t>(line)];
    const auto rateWeight = [](const Line& l) {
        return std::isfinite(l.logRateVariance)
                   ? 1.0 / (l.logRateVariance + kRateModel * kRateModel)
                   : 0.0;
    };

    // Log rates: the pair's rate equation x_a - x_b = logRate changes its weight and value, a
    // rank-one change of the normal equations (Sherman-Morrison on their inverse).
    const int ia = index_[p.a], ib = index_[p.b];
    const double oldWeight = rateWeight(p.line()), newWeight = rateWeight(taken);
    const double dWeight = newWeight - oldWeight;
    const double dRight = (newWeight > 0.0 ? newWeight * taken.logRate : 0.0) -
                          (oldWeight > 0.0 ? oldWeight * p.line().logRate : 0.0);
    double step = 0.0;
    if (!updateRates(p, ia, ib, dWeight, dRight, scratch, step)) {
        return kUnknown;
    }

    // Offsets: every pair's constraint and weight follow the new rates. The last solve's inverse
    // with the pair's own change of weight (Sherman-Morrison again) preconditions an iteration
    // on the residuals, which the small changes of the other weights leave to converge in a few
    // steps. The used pairs are read as links, in pair order, pair k on its new line; the
    // anchor's unknown is n, held at 0.
    const std::vector<Link>& links = scratch.links;
    const auto own = static_cast<std::size_t>(scratch.linkOf[k]);
    std::vector<double>& constraint = scratch.constraint;
    std::vector<double>& weight = scratch.weight;
    constraint.resize(links.size());
    weight.resize(links.size());
    for (std::size_t r = 0; r < links.size(); ++r) {
        const Link& l = links[r];
        const bool switched = r == own;
        const double ta = scratch.scale[l.a] * (switched ? taken.atA : l.atA);
        const double tb = scratch.scale[l.b] * (switched ? taken.atB : l.atB);
        const double fixed =
            switched ? taken.sigma * taken.sigma + kOffsetModel * kOffsetModel : l.fixedVariance;
        constraint[r] = ta - tb;
        weight[r] = 1.0 / (fixed + ta * ta * scratch.rateVariance[l.a] +
                           tb * tb * scratch.rateVariance[l.b]);
    }
    const double oldTa = std::exp(members_[p.a].logRate) * p.line().atA;
    const double oldTb = std::exp(members_[p.b].logRate) * p.line().atB;
    const double oldOffsetWeight =
        1.0 / (p.line().sigma * p.line().sigma + kOffsetModel * kOffsetModel +
               oldTa * oldTa * members_[p.a].logRateVariance +
               oldTb * oldTb * members_[p.b].logRateVariance);
    const double dOffsetWeight = weight[own] - oldOffsetWeight;
    std::vector<double>& h = scratch.offsetStep;  // the inverse times (e_b - e_a)
    double qOffset = 0.0, offsetGamma = 0.0;
    if (!rankOneChange(offsetCovariance_, n, ib, ia, dOffsetWeight, h, qOffset, offsetGamma)) {
        return kUnknown;
    }
    std::vector<double>& y = scratch.offsets;
    std::vector<double>& residual = scratch.residual;
    std::vector<double>& applied = scratch.applied;
    y.assign(static_cast<std::size_t>(n + 1), 0.0);
    // Each step gives with the residual r and the step d what the misfit at the current offsets
    // exceeds the least one by (r.d, exactly so were the preconditioner exact); the steps stop
    // once that is far below what could matter.
    for (int round = 0; round < kMaxOffsetUpdates; ++round) {
        residual.assign(static_cast<std::size_t>(n + 1), 0.0);
        double offsetChi = 0.0;
        for (std::size_t r = 0; r < links.size(); ++r) {
            const Link& l = links[r];
            const double miss = constraint[r] - (y[l.ib] - y[l.ia]);
            offsetChi += miss * miss * weight[r];
            const double t = weight[r] * miss;
            residual[l.ib] += t;
            residual[l.ia] -= t;
        }
        // The inverse times the residual, a column at a time: each entry sums in a row's
        // order, and the entries are summed side by side.
        applied.assign(static_cast<std::size_t>(n), 0.0);
        for (int j = 0; j < n; ++j) {
            const double r = residual[j];
            const double* column = offsetColumns_.data() + at(j, 0);
            for (int i = 0; i < n; ++i) {
                applied[i] += column[i] * r;
            }
        }
        const double along = (ib >= 0 ? applied[ib] : 0.0) - (ia >= 0 ? applied[ia] : 0.0);
        double excess = 0.0;
        for (int i = 0; i < n; ++i) {
            const double move = applied[i] - offsetGamma * h[i] * along;
            excess += residual[i] * move;
            y[i] += move;
        }
        if (excess <= kOffsetConverged * (1.0 + offsetChi)) {
            double chi = offsetChi - excess;
            for (std::size_t r = 0; r < links.size(); ++r) {
                const Link& l = links[r];
                const bool switched = r == own;
                const double w = switched ? newWeight : l.rateWeight;
                if (w > 0.0) {
                    const double rateMiss = scratch.rate[l.a] - scratch.rate[l.b] -
                                            (switched ? taken.logRate : l.logRate);
                    chi += rateMiss * rateMiss * w;
                }
            }
            return chi;
        }
    }
    return kUnknown;
}

double ClusterSolver::offsetDifferenceVariance(int x, int y) const {
    const int i = index_[x], j = index_[y];
    const auto cell = [&](int r, int c) {
        return r < 0 || c < 0 ? 0.0
                              : offsetCovariance_[static_cast<std::size_t>(r * unknowns_ + c)];
    };
    return std::max(0.0, cell(i, i) + cell(j, j) - 2.0 * cell(i, j));
}

}  // namespace Trelis
