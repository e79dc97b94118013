#include "MCClusterAligner.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include "MCTaskPool.h"
#include "align/ClusterSolver.h"
#include "align/PairMeasurement.h"
#include "align/PhaseCorrelator.h"
#include "align/RecordingWindows.h"

namespace Trelis {

namespace {

// A rate's standard deviation where no pair tells it: clocks of cameras and phones are rarely
// more than this far apart.
constexpr double kPriorPpm = 50.0;
// A drift is reported when the overlaps tell it to within this.
constexpr double kDriftKnownPpm = 10.0;

struct Member {
    int id = 0;
    double frameOffset = 0.0;  // seconds
    long long start = 0;       // samples on the frame-accurate time line
    long long length = 0;      // samples; -1 when unreadable
    MCInput* input = nullptr;  // open for the whole alignment
};

// Closes every input the alignment opened, however it ends.
class OpenInputs {
public:
    OpenInputs(std::vector<Member>& members, MCRecordingSource& source)
        : members_(members), source_(source) {}
    ~OpenInputs() {
        for (Member& m : members_) {
            if (m.input != nullptr) {
                source_.close(m.input);
                m.input = nullptr;
            }
        }
    }
    OpenInputs(const OpenInputs&) = delete;
    OpenInputs& operator=(const OpenInputs&) = delete;

private:
    std::vector<Member>& members_;
    MCRecordingSource& source_;
};

struct Group {
    ClusterSolver solver;
    int anchor;
};

struct Planned {
    int a = 0;  // member indices
    int b = 0;
    PairMeasurement measurement;
};

// Reads every member's stretches that the planned pairs need, and measures the pairs; members
// are read, and stretches of the time line correlated, side by side on the pool's threads.
std::vector<PairMeasurement::Result> measureAll(const std::vector<Planned>& planned,
                                                std::vector<Member>& members,
                                                const MCTaskPool& pool) {
    std::vector<RecordingWindows> windows(members.size());
    std::vector<char> needed(members.size(), 0);
    for (const Planned& p : planned) {
        p.measurement.require(windows[p.a], windows[p.b]);
        needed[p.a] = needed[p.b] = 1;
    }
    std::vector<std::size_t> reading;
    for (std::size_t m = 0; m < members.size(); ++m) {
        if (needed[m] != 0 && members[m].input != nullptr) {
            reading.push_back(m);
        }
    }
    std::vector<char> loaded(members.size(), 0);
    pool.run(reading.size(), [&](std::size_t r, unsigned int) {
        const std::size_t m = reading[r];
        try {
            windows[m].load(*members[m].input, static_cast<std::uint64_t>(members[m].length));
            loaded[m] = 1;
        } catch (const std::exception&) {  // a read that fails leaves the member unreadable
            members[m].length = -1;
        }
    });
    // Every window of every pair, in the order of the time line: the pairs that meet there share
    // their members' windows, and the correlator transforms each one once.
    std::vector<std::vector<std::vector<float>>> correlations(planned.size());
    std::vector<std::tuple<long long, std::size_t, std::size_t>> order;
    for (std::size_t k = 0; k < planned.size(); ++k) {
        const PairMeasurement& m = planned[k].measurement;
        correlations[k].resize(m.windowCount());
        for (std::size_t i = 0; i < m.windowCount(); ++i) {
            order.emplace_back(m.windowTime(i), k, i);
        }
    }
    std::sort(order.begin(), order.end());
    // Stretches of the time line, a few per thread so that none waits long for the last.
    const std::size_t stretches = std::min<std::size_t>(order.size(), 4 * pool.size());
    std::vector<PhaseCorrelator> correlators(pool.size());
    pool.run(stretches, [&](std::size_t s, unsigned int worker) {
        const std::size_t begin = order.size() * s / stretches;
        const std::size_t end = order.size() * (s + 1) / stretches;
        for (std::size_t o = begin; o < end; ++o) {
            const auto& [time, k, i] = order[o];
            const Planned& p = planned[k];
            if (loaded[p.a] != 0 && loaded[p.b] != 0) {
                p.measurement.correlate(i, windows[p.a], windows[p.b], correlators[worker],
                                        correlations[k][i]);
            }
        }
    });
    std::vector<PairMeasurement::Result> results(planned.size());
    for (std::size_t k = 0; k < planned.size(); ++k) {
        const Planned& p = planned[k];
        if (loaded[p.a] == 0 || loaded[p.b] == 0) {
            results[k].alignment.reason = AlignReason::Unreadable;
            continue;
        }
        results[k] = p.measurement.fit(correlations[k]);
    }
    return results;
}

}  // namespace

MCClusterAligner::MCClusterAligner(const MCAlignParams& alignParams, const MCRunParams& run)
    : params(alignParams), threads(run.getThreads()) {}

ClusterAlignment MCClusterAligner::align(const ClusterSet& cluster,
                                         const std::vector<std::pair<int, int>>& pairs,
                                         MCRecordingSource& source) const {
    const double rate = params.getSampleRate();
    std::vector<const MCClusterElem*> elems(cluster.begin(), cluster.end());  // by id
    std::vector<Member> members(elems.size());
    std::map<int, int> indexOf;
    for (std::size_t m = 0; m < elems.size(); ++m) {
        members[m].id = elems[m]->fileId;
        members[m].frameOffset = elems[m]->offset;
        members[m].start = std::llround(static_cast<double>(elems[m]->offset) * rate);
        indexOf[elems[m]->fileId] = static_cast<int>(m);
    }
    // Every input stays open until the end: its length plans the windows, and a member the
    // named pairs leave unmeasured is read again for its other pairs.
    const OpenInputs closer(members, source);
    if (members.size() >= 2) {
        for (Member& m : members) {
            std::string error;  // a member that can't be opened is reported unreadable
            m.input = source.open(m.id, error);
            m.length = m.input != nullptr ? static_cast<long long>(m.input->getNumSamples()) : -1;
        }
    }
    const auto readable = [&](int m) { return members[m].length >= 0; };

    // The named pairs, then every overlapping pair of a member they leave unmeasured.
    std::vector<PairAlignment> reports;
    std::vector<ClusterSolver::Pair> solved;
    std::vector<std::size_t> solvedReport;                      // report of each solved pair
    std::map<std::size_t, std::vector<PairAlignment>> choices;  // every line of a measured pair
    std::set<std::pair<int, int>> tried;
    std::vector<bool> measured(members.size(), false);
    const auto round = [&](const std::vector<std::pair<int, int>>& wanted) {
        std::vector<Planned> planned;
        for (const auto& [x, y] : wanted) {
            const int a = std::min(x, y), b = std::max(x, y);
            if (a == b || !tried.insert({a, b}).second) {
                continue;
            }
            PairMeasurement measurement(params, members[a].length, members[b].length,
                                        members[a].start, members[b].start);
            if (!readable(a) || !readable(b) || !measurement.measurable()) {
                PairAlignment report;
                report.first = members[a].id;
                report.second = members[b].id;
                report.reason = readable(a) && readable(b) ? AlignReason::ShortOverlap
                                                           : AlignReason::Unreadable;
                reports.push_back(report);
                continue;
            }
            planned.push_back({a, b, std::move(measurement)});
        }
        const std::vector<PairMeasurement::Result> results =
            measureAll(planned, members, MCTaskPool(threads));
        for (std::size_t k = 0; k < planned.size(); ++k) {
            PairAlignment report = results[k].alignment;
            report.first = members[planned[k].a].id;
            report.second = members[planned[k].b].id;
            if (report.measured) {
                measured[planned[k].a] = measured[planned[k].b] = true;
                ClusterSolver::Pair p;
                p.a = planned[k].a;
                p.b = planned[k].b;
                for (const PairMeasurement::Line& line : results[k].lines) {
                    p.lines.push_back({line.atA, line.atB, line.sigma, line.logRate,
                                       line.logRateVariance, line.share});
                    choices[reports.size()].push_back(line.alignment);
                }
                p.confidence = report.confidence;
                solvedReport.push_back(reports.size());
                solved.push_back(p);
            }
            reports.push_back(report);
        }
    };
    std::vector<std::pair<int, int>> named;
    for (const auto& [x, y] : pairs) {
        const auto a = indexOf.find(x), b = indexOf.find(y);
        if (a != indexOf.end() && b != indexOf.end()) {
            named.emplace_back(a->second, b->second);
        }
    }
    std::sort(named.begin(), named.end());
    round(named);
    std::vector<std::pair<int, int>> fallback;
    for (int m = 0; m < static_cast<int>(members.size()); ++m) {
        if (measured[m] || !readable(m)) {
            continue;
        }
        for (int o = 0; o < static_cast<int>(members.size()); ++o) {
            if (o != m && readable(o)) {
                fallback.emplace_back(std::min(m, o), std::max(m, o));
            }
        }
    }
    std::sort(fallback.begin(), fallback.end());
    round(fallback);

    // The solve: the earliest member by the frame-accurate offsets is preferred as anchor. The
    // largest group the pairs link is solved first and holds the reference; members the pairs
    // link only among themselves (a cluster that joined two events) are solved as groups of
    // their own.
    std::vector<int> preference(members.size());
    for (std::size_t m = 0; m < members.size(); ++m) {
        preference[m] = static_cast<int>(m);
    }
    std::stable_sort(preference.begin(), preference.end(),
                     [&](int x, int y) { return members[x].start < members[y].start; });
    std::vector<Group> groups;
    std::vector<int> groupOf(members.size(), -1);
    for (;;) {
        std::vector<int> left;
        std::copy_if(preference.begin(), preference.end(), std::back_inserter(left),
                     [&](int m) { return groupOf[m] < 0; });
        std::vector<std::size_t> taken;
        std::vector<ClusterSolver::Pair> subset;
        for (std::size_t k = 0; k < solved.size(); ++k) {
            if (groupOf[solved[k].a] < 0 && groupOf[solved[k].b] < 0) {
                taken.push_back(k);
                subset.push_back(solved[k]);
            }
        }
        Group group{ClusterSolver(static_cast<int>(members.size()), left, kPriorPpm), -1};
        group.solver.setThreads(threads);
        group.anchor = group.solver.solve(subset);
        if (group.anchor < 0) {
            break;
        }
        for (std::size_t k = 0; k < taken.size(); ++k) {
            solved[taken[k]] = subset[k];
        }
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (group.solver.members()[m].linked) {
                groupOf[m] = static_cast<int>(groups.size());
            }
        }
        groups.push_back(std::move(group));
    }

    // The reference is the earliest member of the first group; its clock becomes the cluster's.
    // Other groups are placed where the frame-accurate offsets put them on average.
    int reference = -1;
    ClusterAlignment result;
    std::vector<double> offsets(members.size(), 0.0);
    if (!groups.empty()) {
        const std::vector<ClusterSolver::Member>& main = groups.front().solver.members();
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (groupOf[m] == 0 && (reference < 0 || main[m].offset < main[reference].offset)) {
                reference = static_cast<int>(m);
            }
        }
        result.reference = members[reference].id;
        const double scale = std::exp(-main[reference].logRate);
        std::vector<double> shift(groups.size(), 0.0), count(groups.size(), 0.0);
        for (std::size_t m = 0; m < members.size(); ++m) {
            const double frame = members[m].frameOffset - members[reference].frameOffset;
            if (groupOf[m] < 0) {
                offsets[m] = frame;
                continue;
            }
            const ClusterSolver::Member& own = groups[groupOf[m]].solver.members()[m];
            offsets[m] =
                groupOf[m] == 0 ? (own.offset - main[reference].offset) * scale : own.offset;
            shift[groupOf[m]] += frame - offsets[m];
            count[groupOf[m]] += 1.0;
        }
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (groupOf[m] > 0) {
                offsets[m] += shift[groupOf[m]] / count[groupOf[m]];
            }
        }
    } else {
        for (std::size_t m = 0; m < members.size(); ++m) {
            offsets[m] = members[m].frameOffset;
        }
        if (members.size() == 1) {
            result.reference = members[0].id;
        }
    }
    const double earliest =
        offsets.empty() ? 0.0 : *std::min_element(offsets.begin(), offsets.end());

    // The line the solve chose for each measured pair, whether it kept the pair, and why each
    // unmeasured member stayed where it was.
    for (std::size_t k = 0; k < solved.size(); ++k) {
        PairAlignment& report = reports[solvedReport[k]];
        const PairAlignment chosen =
            choices[solvedReport[k]][static_cast<std::size_t>(solved[k].chosen)];
        report.offset = chosen.offset;
        report.offsetError = chosen.offsetError;
        report.driftPpm = chosen.driftPpm;
        report.driftError = chosen.driftError;
        report.agreeing = chosen.agreeing;
        report.strength = chosen.strength;
        report.confidence = chosen.confidence;
        report.used = solved[k].used;
        if (!report.used) {
            report.reason = AlignReason::Outlier;
        }
    }
    // What says most about a member: it was measured but not linked, then an outlier, then no
    // agreement, then too short; a pair with an unreadable member says nothing.
    const auto rank = [](AlignReason r) {
        switch (r) {
            case AlignReason::NotLinked:
                return 4;
            case AlignReason::Outlier:
                return 3;
            case AlignReason::NoAgreement:
                return 2;
            case AlignReason::ShortOverlap:
                return 1;
            default:
                return 0;
        }
    };
    std::vector<AlignReason> why(members.size(), AlignReason::NoPartner);
    for (const PairAlignment& report : reports) {
        const AlignReason reason = report.used ? AlignReason::NotLinked : report.reason;
        for (int id : {report.first, report.second}) {
            AlignReason& held = why[indexOf[id]];
            if (rank(reason) > rank(held)) {
                held = reason;
            }
        }
    }
    std::sort(reports.begin(), reports.end(), [](const PairAlignment& x, const PairAlignment& y) {
        return std::make_pair(x.first, x.second) < std::make_pair(y.first, y.second);
    });
    result.pairs = std::move(reports);

    for (std::size_t m = 0; m < members.size(); ++m) {
        MemberAlignment out;
        out.fileId = members[m].id;
        out.frameOffset = members[m].frameOffset;
        out.offset = offsets[m] - earliest;
        if (members.size() == 1 || static_cast<int>(m) == reference) {
            out.status = MemberAlignment::Status::Reference;
            out.driftMeasured = members.size() > 1;
            out.confidence = 1.0;
        } else if (groupOf[m] == 0) {
            const ClusterSolver& solver = groups.front().solver;
            const ClusterSolver::Member& own = solver.members()[m];
            const ClusterSolver::Member& ref = solver.members()[reference];
            out.status = MemberAlignment::Status::Refined;
            out.offsetError =
                std::sqrt(solver.offsetDifferenceVariance(static_cast<int>(m), reference));
            // A member whose clock is fast counts more of its own seconds per reference second.
            out.driftPpm = std::expm1(ref.logRate - own.logRate) * 1e6;
            out.driftError = std::sqrt(own.logRateVariance + ref.logRateVariance) * 1e6;
            out.driftMeasured = out.driftError <= kDriftKnownPpm;
            out.confidence = own.confidence;
        } else if (groupOf[m] > 0) {
            // Measured against its own group only: its drift against the reference is unknown.
            const Group& group = groups[static_cast<std::size_t>(groupOf[m])];
            out.status = MemberAlignment::Status::Grouped;
            out.reason = AlignReason::NotLinked;
            out.offsetError =
                std::sqrt(group.solver.offsetDifferenceVariance(static_cast<int>(m), group.anchor));
            out.confidence = group.solver.members()[m].confidence;
            out.groupReference = members[static_cast<std::size_t>(group.anchor)].id;
        } else {
            out.status = MemberAlignment::Status::Unrefined;
            out.reason = readable(static_cast<int>(m)) ? why[m] : AlignReason::Unreadable;
        }
        result.members.push_back(out);
    }
    return result;
}

PairAlignment MCClusterAligner::measure(MCInput& first, MCInput& second,
                                        double approxOffset) const {
    const auto lengthA = static_cast<long long>(first.getNumSamples());
    const auto lengthB = static_cast<long long>(second.getNumSamples());
    const PairMeasurement measurement(params, lengthA, lengthB, 0,
                                      std::llround(approxOffset * params.getSampleRate()));
    PairAlignment report;
    if (measurement.measurable()) {
        RecordingWindows a, b;
        measurement.require(a, b);
        a.load(first, static_cast<std::uint64_t>(lengthA));
        b.load(second, static_cast<std::uint64_t>(lengthB));
        PhaseCorrelator correlator;
        report = measurement.measure(a, b, correlator).alignment;
    } else {
        report.reason = AlignReason::ShortOverlap;
    }
    report.first = 1;
    report.second = 2;
    report.used = report.measured;
    return report;
}

}  // namespace Trelis
