#include "align/LagLineFit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Trelis {

namespace {

// Peaks below this many noise spreads are not worth a candidate line: a search of a thousand
// lags holds several that high by chance.
constexpr float kCandidate = 3.5f;
// Candidate peaks per window, and in all: enough for the true line to pass through two of them
// when a few windows are strong, few enough that the lines stay cheap to score.
constexpr int kPerWindow = 4;
constexpr std::size_t kCandidates = 48;
// Lines returned at most, and the least evidence an alternative line must have against the best.
constexpr std::size_t kLines = 3;
constexpr double kAlternativeShare = 0.5;
// Evidence a window adds to a line: its peak near the line, less what noise alone reaches.
constexpr float kNoiseLevel = 3.0f;
// Standard deviation of a window's lag, in samples, times its peak height, and its floor: in
// reverberant rooms, a window's peak is lopsided and its interpolated lag scatters by a tenth
// or two of a sample, several times what the noise alone would give.
constexpr double kLagSpread = 2.5;
constexpr double kLagFloor = 0.05;

// Inverse variance of a window's lag.
double weight(float z) {
    const double sigma = std::max(kLagFloor, kLagSpread / z);
    return 1.0 / (sigma * sigma);
}

struct Candidate {
    std::size_t window;
    double lag;
    float z;
};

struct Hypothesis {
    double score;
    double x;
    double lag;
    double slope;
};

struct Agreeing {
    double centre;
    double lag;
    float z;
};

// The highest value of z within `tolerance` of `lag` (offset by m), or 0 outside the range.
float bestNear(const std::vector<float>& z, long long m, double lag, double tolerance,
               long long* where) {
    const long long last = static_cast<long long>(z.size()) - 1;
    const long long from =
        std::max<long long>(0, static_cast<long long>(std::ceil(lag - tolerance)) + m);
    const long long to = std::min(last, static_cast<long long>(std::floor(lag + tolerance)) + m);
    float best = 0.0f;
    for (long long l = from; l <= to; ++l) {
        if (z[static_cast<std::size_t>(l)] > best) {
            best = z[static_cast<std::size_t>(l)];
            *where = l;
        }
    }
    return best;
}

}  // namespace

std::vector<LagLineFit::Line> LagLineFit::fit(const std::vector<Window>& windows,
                                              long long m) const {
    // The strongest local peaks of every window.
    std::vector<Candidate> candidates;
    for (std::size_t w = 0; w < windows.size(); ++w) {
        const std::vector<float>& z = *windows[w].z;
        std::vector<Candidate> own;
        for (std::size_t l = 1; l + 1 < z.size(); ++l) {
            if (z[l] >= kCandidate && z[l] > z[l - 1] && z[l] >= z[l + 1]) {
                own.push_back({w, static_cast<double>(l) - static_cast<double>(m), z[l]});
            }
        }
        // Ties keep the earlier lag: stable order, strongest first.
        std::stable_sort(own.begin(), own.end(),
                         [](const Candidate& x, const Candidate& y) { return x.z > y.z; });
        own.resize(std::min<std::size_t>(own.size(), kPerWindow));
        candidates.insert(candidates.end(), own.begin(), own.end());
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.z > y.z; });
    candidates.resize(std::min(candidates.size(), kCandidates));
    if (candidates.empty()) {
        return {};
    }

    // Score lines through one candidate (level) or two (sloped).
    long long unused = 0;
    const auto score = [&](double x0, double lag0, double slope) {
        double total = 0.0;
        for (const Window& w : windows) {
            const float best =
                bestNear(*w.z, m, lag0 + slope * (w.centre - x0), tolerance_, &unused);
            total += std::max(0.0f, best - kNoiseLevel);
        }
        return total;
    };
    std::vector<Hypothesis> hypotheses;
    const auto consider = [&](double x0, double lag0, double slope) {
        hypotheses.push_back({score(x0, lag0, slope), x0, lag0, slope});
    };
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& ci = candidates[i];
        consider(windows[ci.window].centre, ci.lag, 0.0);
        for (std::size_t j = i + 1; j < candidates.size(); ++j) {
            const Candidate& cj = candidates[j];
            const double dx = windows[cj.window].centre - windows[ci.window].centre;
            if (cj.window == ci.window || dx == 0.0) {
                continue;
            }
            const double slope = (cj.lag - ci.lag) / dx;
            // The tolerance lets two windows close together differ by a sample or so.
            if (std::fabs(slope) <= maxSlope_ + 2.0 * tolerance_ / std::fabs(dx)) {
                consider(windows[ci.window].centre, ci.lag,
                         std::clamp(slope, -maxSlope_, maxSlope_));
            }
        }
    }
    // Most evidence first; among equals the flatter line, then the first found.
    std::stable_sort(hypotheses.begin(), hypotheses.end(),
                     [](const Hypothesis& x, const Hypothesis& y) {
                         return x.score > y.score ||
                                (x.score == y.score && std::fabs(x.slope) < std::fabs(y.slope));
                     });

    // The best line, and the next best that run apart from it and from each other: a strong
    // early reflection draws a line of its own beside the true one, and only the other pairs
    // of the cluster can tell which is which.
    double middle = 0.0;
    for (const Window& w : windows) {
        middle += w.centre / static_cast<double>(windows.size());
    }
    std::vector<Line> lines;
    std::vector<const Hypothesis*> taken;
    for (const Hypothesis& h : hypotheses) {
        if (taken.size() == kLines || h.score < kAlternativeShare * hypotheses.front().score) {
            break;
        }
        const auto at = [middle](const Hypothesis& x) { return x.lag + x.slope * (middle - x.x); };
        const bool apart = std::all_of(taken.begin(), taken.end(), [&](const Hypothesis* t) {
            return std::fabs(at(*t) - at(h)) > 2.0 * tolerance_;
        });
        if (!apart) {
            continue;
        }
        taken.push_back(&h);
        Line line = refine(windows, m, h.x, h.lag, h.slope);
        if (line.found) {
            line.score = h.score;
            lines.push_back(line);
        }
    }
    return lines;
}

LagLineFit::Line LagLineFit::refine(const std::vector<Window>& windows, long long m, double bestX,
                                    double bestLag, double bestSlope) const {
    Line line;

    // Refit to the windows that agree with the line, twice.
    std::vector<Agreeing> agreeing;
    for (int pass = 0; pass < 3; ++pass) {
        agreeing.clear();
        for (const Window& w : windows) {
            const std::vector<float>& z = *w.z;
            long long at = -1;
            const double expected = bestLag + bestSlope * (w.centre - bestX);
            const float peak = bestNear(z, m, expected, tolerance_, &at);
            const long long last = static_cast<long long>(z.size()) - 1;
            if (peak < minPeak_ || at <= 0 || at >= last) {
                continue;
            }
            const double left = z[static_cast<std::size_t>(at - 1)];
            const double right = z[static_cast<std::size_t>(at + 1)];
            if (left > peak || right > peak) {
                continue;  // the rising flank of a peak beyond the tolerance
            }
            const double curvature = left - 2.0 * peak + right;
            const double fraction =
                curvature < 0.0 ? std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5) : 0.0;
            agreeing.push_back({w.centre, static_cast<double>(at - m) + fraction, peak});
        }
        if (agreeing.empty()) {
            return Line();
        }
        double sw = 0.0, sx = 0.0, sl = 0.0;
        for (const Agreeing& a : agreeing) {
            const double w = weight(a.z);
            sw += w;
            sx += w * a.centre;
            sl += w * a.lag;
        }
        const double xbar = sx / sw;
        const double lbar = sl / sw;
        double sxx = 0.0, sxl = 0.0;
        for (const Agreeing& a : agreeing) {
            const double w = weight(a.z);
            sxx += w * (a.centre - xbar) * (a.centre - xbar);
            sxl += w * (a.centre - xbar) * (a.lag - lbar);
        }
        // The prior keeps the slope near 0 where the windows lie close together.
        const double precision = slopePrior_ > 0.0 ? 1.0 / (slopePrior_ * slopePrior_)
                                                   : std::numeric_limits<double>::infinity();
        const double slope = std::clamp(sxl / (sxx + precision), -maxSlope_, maxSlope_);
        bestX = xbar;
        bestLag = lbar;
        bestSlope = slope;
        line.centre = xbar;
        line.delta = lbar;
        line.slope = slope;
        line.agreeing = static_cast<int>(agreeing.size());
        double chi = 0.0, strength = 0.0;
        for (const Agreeing& a : agreeing) {
            const double r = a.lag - (lbar + slope * (a.centre - xbar));
            chi += r * r * weight(a.z);
            strength += static_cast<double>(a.z) * a.z;
        }
        line.strength = std::sqrt(strength);
        // Scatter beyond what the peak heights predict widens both errors.
        const double freedom = static_cast<double>(agreeing.size()) - 2.0;
        const double inflate = freedom > 0.0 ? std::max(1.0, chi / freedom) : 1.0;
        line.deltaVariance = inflate / sw;
        line.slopeVariance = inflate / (sxx + precision);
        line.slopeDataVariance = sxx > 0.0 && agreeing.size() >= 3
                                     ? inflate / sxx
                                     : std::numeric_limits<double>::infinity();
    }
    line.found = true;
    return line;
}

}  // namespace Trelis
