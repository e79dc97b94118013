#include "results/RunReport.h"

#include <algorithm>
#include <cmath>

namespace Trelis {

double matchConfidence(const MCMatchStats& stats) {
    if (!(stats.histStd > 0.0f)) {
        return 0.0;
    }
    const double z = (static_cast<double>(stats.matchCount) - stats.histMean) / stats.histStd;
    return z > 10.0 ? 1.0 - 10.0 / z : 0.0;
}

std::vector<ReportCluster> reportClusters(
    const ClusterResult& clusters, const std::map<const ClusterSet*, ClusterAlignment>& aligned,
    const std::vector<MCMatchStats>& accepted, const std::vector<PairMatch>& linked,
    double framesPerSecond) {
    std::vector<ReportCluster> report;
    std::map<int, std::size_t> clusterOf;
    for (const ClusterSet* cluster : clusters) {
        ReportCluster entry;
        const ClusterAlignment& alignment = aligned.at(cluster);
        entry.reference = alignment.reference;
        entry.alignments = alignment.pairs;
        for (const MemberAlignment& m : alignment.members) {  // by increasing id, as the cluster
            entry.members.push_back({m.fileId, m.frameOffset, m.offset, m});
        }
        report.push_back(std::move(entry));
    }
    // The result's own order, which the text report and the -o folders follow: cluster n is the
    // n-th everywhere.
    report.erase(std::remove_if(report.begin(), report.end(),
                                [](const ReportCluster& c) { return c.members.empty(); }),
                 report.end());
    for (std::size_t c = 0; c < report.size(); ++c) {
        for (const ReportMember& m : report[c].members) {
            clusterOf[m.id] = c;
        }
    }
    for (const MCMatchStats& stats : accepted) {  // ordered by id1, then id2
        const auto found = clusterOf.find(stats.id1);
        if (found == clusterOf.end()) {
            continue;
        }
        report[found->second].pairs.push_back(
            {stats.id1, stats.id2, stats.offset / framesPerSecond, stats.matchCount,
             stats.overlapLength / framesPerSecond, stats.templateLength / framesPerSecond,
             matchConfidence(stats)});
    }
    for (const PairMatch& pair : linked) {  // ordered by first, then second
        const auto found = clusterOf.find(pair.first);
        if (found != clusterOf.end() && pair.status == PairMatch::Status::Linked) {
            report[found->second].linked.push_back(pair);
        }
    }
    return report;
}

}  // namespace Trelis
