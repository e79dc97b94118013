#include "align/ClusterSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace Trelis {

namespace {

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

// Solves the symmetric positive definite system `a` x = b (n x n, row major) in place by
// Cholesky; `a` then holds the inverse. False when the matrix is not positive definite.
bool invertAndSolve(std::vector<double>& a, std::vector<double>& b, int n) {
    std::vector<double> l(a.size(), 0.0);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = a[i * n + j];
            for (int k = 0; k < j; ++k) {
                sum -= l[i * n + k] * l[j * n + k];
            }
            if (i == j) {
                if (!(sum > 0.0)) {
                    return false;
                }
                l[i * n + i] = std::sqrt(sum);
            } else {
                l[i * n + j] = sum / l[j * n + j];
            }
        }
    }
    // L L^T x = y, for the right side and for every unit vector.
    const auto solveColumn = [&](std::vector<double>& y) {
        for (int i = 0; i < n; ++i) {
            double sum = y[i];
            for (int k = 0; k < i; ++k) {
                sum -= l[i * n + k] * y[k];
            }
            y[i] = sum / l[i * n + i];
        }
        for (int i = n - 1; i >= 0; --i) {
            double sum = y[i];
            for (int k = i + 1; k < n; ++k) {
                sum -= l[k * n + i] * y[k];
            }
            y[i] = sum / l[i * n + i];
        }
    };
    solveColumn(b);
    std::vector<double> column(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) {
        std::fill(column.begin(), column.end(), 0.0);
        column[j] = 1.0;
        solveColumn(column);
        for (int i = 0; i < n; ++i) {
            a[i * n + j] = column[i];
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
        std::vector<double> trial;
        const std::vector<double> fit = standardized_;  // the trials overwrite it
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            Pair& p = pairs[k];
            if (!p.used || !members_[p.a].linked || fit[k] < kSwitchMisfit) {
                continue;
            }
            for (int line = 0; line < static_cast<int>(p.lines.size()); ++line) {
                if (line == p.chosen) {
                    continue;
                }
                const int held = p.chosen;
                const double before = 1.0 - p.line().share;
                p.chosen = line;
                double trialChi = 0.0;
                const bool solved = solveGroup(pairs, anchor, trial, trialChi);
                const double cost =
                    trialChi + kEvidenceWeight * (given - before + 1.0 - p.line().share);
                p.chosen = held;
                if (solved && cost < bestCost) {
                    bestCost = cost;
                    bestPair = k;
                    bestLine = line;
                }
            }
        }
        if (bestLine >= 0) {
            pairs[bestPair].chosen = bestLine;
            continue;
        }
        if (!solveGroup(pairs, anchor, misfit, chi)) {
            return -1;
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

bool ClusterSolver::solveGroup(const std::vector<Pair>& pairs, int anchor,
                               std::vector<double>& misfit, double& chi) {
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
    if (!invertAndSolve(matrix, rhs, n)) {
        return false;
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
    if (!invertAndSolve(matrix, rhs, n)) {
        return false;
    }
    for (int m = 0; m < count_; ++m) {
        if (index_[m] >= 0) {
            members_[m].offset = rhs[index_[m]];
        }
    }
    offsetCovariance_ = std::move(matrix);

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

double ClusterSolver::offsetDifferenceVariance(int x, int y) const {
    const int i = index_[x], j = index_[y];
    const auto cell = [&](int r, int c) {
        return r < 0 || c < 0 ? 0.0
                              : offsetCovariance_[static_cast<std::size_t>(r * unknowns_ + c)];
    };
    return std::max(0.0, cell(i, i) + cell(j, j) - 2.0 * cell(i, j));
}

}  // namespace Trelis
