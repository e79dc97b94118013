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
constexpr int kPerWindow = 3;
constexpr std::size_t kCandidates = 32;
// Evidence a window adds to a line: its peak near the line, less what noise alone reaches.
constexpr float kNoiseLevel = 3.0f;
// Standard deviation of a window's lag, in samples, times its peak height; and its floor (the
// bias of the parabolic interpolation).
constexpr double kLagSpread = 1.0;
constexpr double kLagFloor = 0.02;

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

LagLineFit::Line LagLineFit::fit(const std::vector<Window>& windows, long long m) const {
    Line line;
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
        return line;
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
    double bestScore = -1.0, bestX = 0.0, bestLag = 0.0, bestSlope = 0.0;
    const auto consider = [&](double x0, double lag0, double slope) {
        const double s = score(x0, lag0, slope);
        if (s > bestScore || (s == bestScore && std::fabs(slope) < std::fabs(bestSlope))) {
            bestScore = s;
            bestX = x0;
            bestLag = lag0;
            bestSlope = slope;
        }
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
            return line;
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
        // A slope needs windows apart; otherwise the line stays level.
        const double slope =
            sxx > 0.0 && agreeing.size() >= 2 ? std::clamp(sxl / sxx, -maxSlope_, maxSlope_) : 0.0;
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
        line.slopeVariance = sxx > 0.0 && agreeing.size() >= 2
                                 ? inflate / sxx
                                 : std::numeric_limits<double>::infinity();
    }
    line.found = true;
    return line;
}

}  // namespace Trelis
