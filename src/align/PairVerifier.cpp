#include "align/PairVerifier.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "MCProgress.h"
#include "MCRecordingSource.h"
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

PairVerifier::PairVerifier(const MCAlignParams& params, unsigned int maxWindows)
    : params_(params), maxWindows_(std::max(1u, maxWindows)) {}

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
    std::map<int, bool> readable;
    for (auto& [id, stretches] : windows) {
        std::string error;
        MCInput* input = source.open(id, error);
        readable[id] = input != nullptr;
        if (input != nullptr) {
            try {
                stretches.load(*input, input->getNumSamples());
            } catch (const std::exception&) {  // a failed read leaves the file unverified
                readable[id] = false;
            }
            source.close(input);
        }
        advance();
    }
    std::vector<PairMeasurement::Result> results(requests.size());
    PhaseCorrelator correlator;
    std::vector<std::vector<float>> correlations;
    for (std::size_t k = 0; k < requests.size(); ++k) {
        const Request& r = requests[k];
        const PairMeasurement& m = measurements[k];
        if (!readable[r.first] || !readable[r.second]) {
            results[k].alignment.reason = AlignReason::Unreadable;
            advance();
            continue;
        }
        const RecordingWindows& a = windows[r.first];
        const RecordingWindows& b = windows[r.second];
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
            results[k] = m.fit(correlations);
            if (n <= kStackedUpTo) {
                results[k].stacked = m.stack(correlations);
            }
        } else {
            results[k].alignment.reason = AlignReason::NoAgreement;
            results[k].alignment.windows = 2;
        }
        advance();
    }
    return results;
}

}  // namespace Trelis
