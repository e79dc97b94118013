#include "align/PairVerifier.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "MCProgress.h"
#include "MCRecordingSource.h"
#include "MCTaskPool.h"
#include "align/PhaseCorrelator.h"
#include "align/RecordingWindows.h"

namespace Trelis {

namespace {

// Candidates with this many windows or more are probed at two of them first; those with fewer
// (overlaps up to about 15 s) are also judged by their windows' correlations added up, where the
// sound of short clips in noisy, reverberant rooms shows best. With five or six windows, added up
// correlations of unrelated recordings of the tuning corpora reached the level that verifies.
constexpr std::size_t kProbedFrom = 5;
constexpr std::size_t kStackedUpTo = kProbedFrom - 1;

}  // namespace

PairVerifier::PairVerifier(const MCAlignParams& params, unsigned int maxWindows,
                           unsigned int threads)
    : params_(params), maxWindows_(std::max(1u, maxWindows)), threads_(threads) {}

std::vector<PairMeasurement::Result> PairVerifier::verify(const std::vector<Request>& requests,
                                                          MCRecordingSource& source,
                                                          MCProgress* progress) const {
    const double rate = params_.getSampleRate();
    std::vector<PairMeasurement> measurements;
    measurements.reserve(requests.size());
    std::map<int, RecordingWindows> windows;  // by file id, so files are read in id order
    for (const Request& r : requests) {
        MCAlignParams p = params_;
        p.setSearchSeconds(r.search);
        const long long startB = std::llround(r.offset * rate);
        const long long overlap =
            std::min(r.lengthFirst, startB + r.lengthSecond) - std::max(0LL, startB);
        // Spread over the whole overlap, however long: a repeat that fits one stretch of it does
        // not fit the rest.
        const double spacing = static_cast<double>(std::max(0LL, overlap)) / rate / maxWindows_;
        p.setWindowSpacing(std::max(p.getWindowSpacing(), spacing));
        measurements.emplace_back(p, r.lengthFirst, r.lengthSecond, 0, startB);
        measurements.back().require(windows[r.first], windows[r.second]);
    }
    const double steps = static_cast<double>(windows.size() + requests.size());
    double done = 0.0;
    const auto advance = [&]() {
        done += 1.0;
        if (progress != nullptr) {
            progress->setProgress(static_cast<float>(done / steps));
        }
    };
    // Files side by side, each opened, read and closed by one thread.
    std::vector<std::pair<const int, RecordingWindows>*> files;
    for (auto& entry : windows) {
        files.push_back(&entry);
    }
    std::map<int, bool> readable;
    for (const auto& entry : windows) {
        readable[entry.first] = false;
    }
    const MCTaskPool pool(threads_);
    pool.run(
        files.size(),
        [&](std::size_t f, unsigned int) {
            const int id = files[f]->first;
            std::string error;
            MCInput* input = source.open(id, error);
            if (input != nullptr) {
                try {
                    files[f]->second.load(*input, input->getNumSamples());
                    readable.at(id) = true;
                } catch (const std::exception&) {  // a failed read leaves the file unverified
                }
                source.close(input);
            }
        },
        [&](std::size_t) { advance(); });
    std::vector<PairMeasurement::Result> results(requests.size());
    struct Scratch {
        PhaseCorrelator correlator;
        std::vector<std::vector<float>> correlations;
    };
    std::vector<Scratch> scratch(pool.size());
    pool.run(
        requests.size(),
        [&](std::size_t k, unsigned int worker) {
            measureOne(requests[k], measurements[k], windows, readable, scratch[worker].correlator,
                       scratch[worker].correlations, results[k]);
        },
        [&](std::size_t) { advance(); });
    return results;
}

void PairVerifier::measureOne(const Request& r, const PairMeasurement& m,
                              const std::map<int, RecordingWindows>& windows,
                              const std::map<int, bool>& readable, PhaseCorrelator& correlator,
                              std::vector<std::vector<float>>& correlations,
                              PairMeasurement::Result& result) const {
    if (!readable.at(r.first) || !readable.at(r.second)) {
        result.alignment.reason = AlignReason::Unreadable;
        return;
    }
    const RecordingWindows& a = windows.at(r.first);
    const RecordingWindows& b = windows.at(r.second);
    const std::size_t n = m.windowCount();
    correlations.assign(n, std::vector<float>());
    // Most candidates are chance: two windows a quarter from either end of the overlap
    // tell, and the rest is correlated only when one of them peaks as a window must to agree.
    bool worthIt = n < kProbedFrom;
    for (const std::size_t i : {n / 4, n - 1 - n / 4}) {
        if (!worthIt && m.correlate(i, a, b, correlator, correlations[i])) {
            worthIt = *std::max_element(correlations[i].begin(), correlations[i].end()) >=
                      params_.getMinPeak();
        }
    }
    if (worthIt) {
        for (std::size_t i = 0; i < n; ++i) {
            if (correlations[i].empty()) {
                m.correlate(i, a, b, correlator, correlations[i]);
            }
        }
        result = m.fit(correlations);
        if (n <= kStackedUpTo) {
            result.stacked = m.stack(correlations);
        }
    } else {
        result.alignment.reason = AlignReason::NoAgreement;
        result.alignment.windows = 2;
    }
}

}  // namespace Trelis
