#include "run/Analysis.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>

#include "MCClusterAligner.h"
#include "MCClusterSync.h"
#include "MCFile.h"
#include "MCLandmarkExtract.h"
#include "MCRunParams.h"
#include "MCTaskPool.h"
#include "MCVerifiedSync.h"
#include "PathNames.h"
#include "media/MediaExtraction.h"
#include "results/ResultFiles.h"
#include "results/TextReport.h"
#include "run/RecordingNames.h"
#include "run/RecordingSource.h"
#include "run/SyncRefiner.h"

namespace Trelis {

namespace {

// Every member of `cluster` at its frame-accurate offset, unrefined for `reason` (a cluster of one
// is its own reference).
ClusterAlignment unaligned(const ClusterSet& cluster, AlignReason reason) {
    ClusterAlignment alignment;
    for (const MCClusterElem* elem : cluster) {
        MemberAlignment m;
        m.fileId = elem->fileId;
        m.frameOffset = elem->offset;
        m.offset = elem->offset;
        m.reason = reason;
        if (cluster.size() == 1) {
            m.status = MemberAlignment::Status::Reference;
            m.confidence = 1.0;
            alignment.reference = elem->fileId;
        }
        alignment.members.push_back(m);
    }
    return alignment;
}

// The sample-accurate alignment of every cluster, measuring the accepted pairs first, at the
// refinement rate. Clusters keep their frame-accurate offsets when refinement is off or the
// refinement pass found no reference.
std::map<const ClusterSet*, ClusterAlignment> alignClusters(
    const ClusterResult& clusters, const std::vector<std::pair<int, int>>& pairs,
    const std::map<int, std::string>& idToPath, const MCExtractParams& extract,
    const RunOptions& options, const MCRunParams& run, bool referenced) {
    const unsigned int extractRate = extract.getSampleRate();
    MCAlignParams params;
    params.setSampleRate(options.refineRate != 0 ? options.refineRate : extractRate);
    params.setMaxDriftPpm(options.maxDriftPpm);
    // Three frames either side, however long the frames are: the frame grid and the errors a
    // chain of matches adds to it.
    params.setSearchSeconds(std::max(
        params.getSearchSeconds(), 3.0 * extract.getHopSize() / static_cast<double>(extractRate)));
    std::map<const ClusterSet*, ClusterAlignment> aligned;
    if (!options.refine || !referenced) {
        for (const ClusterSet* cluster : clusters) {
            aligned[cluster] = unaligned(*cluster, AlignReason::Disabled);
        }
        return aligned;
    }
    // A cluster with more than a thread's share of the pairs is aligned on every thread, one
    // after the other; the others side by side, one on each thread. The results are the same
    // however the threads are spent.
    RecordingSource source(idToPath, params.getSampleRate(), options.allMedia, options.audioStream);
    const MCTaskPool pool(run.getThreads());
    const auto weight = [](const ClusterSet* c) { return c->size() * c->size(); };
    std::size_t total = 0;
    for (const ClusterSet* cluster : clusters) {
        total += weight(cluster);
    }
    std::vector<const ClusterSet*> shared;
    const MCClusterAligner wide(params, run);
    for (const ClusterSet* cluster : clusters) {
        if (weight(cluster) * pool.size() > total) {
            aligned[cluster] = wide.align(*cluster, pairs, source);
        } else {
            shared.push_back(cluster);
        }
    }
    // The largest first, so that none is left to one thread at the end.
    std::stable_sort(shared.begin(), shared.end(), [&](const ClusterSet* x, const ClusterSet* y) {
        return weight(x) > weight(y);
    });
    const MCClusterAligner narrow(params, MCRunParams());
    std::vector<ClusterAlignment> alignments(shared.size());
    pool.run(shared.size(), [&](std::size_t c, unsigned int) {
        alignments[c] = narrow.align(*shared[c], pairs, source);
    });
    for (std::size_t c = 0; c < shared.size(); ++c) {
        aligned[shared[c]] = std::move(alignments[c]);
    }
    return aligned;
}

// The clusters of verified matching, reading the recordings at the extraction rate; the linked and
// ambiguous pairs go to `matched`.
ClusterResult* verifiedClusters(const MCClusterSyncParams& clusterParams, MCFileSet& files,
                                unsigned int rate, const RunOptions& options,
                                const MCRunParams& run, std::vector<PairMatch>& matched,
                                MCProgress* progress) {
    MCVerifyParams verify;
    MCAlignParams align;
    align.setSampleRate(rate);
    verify.setAlign(align);
    verify.setMaxDriftPpm(options.maxDriftPpm);
    RecordingSource source(files.idToPath, rate, options.allMedia, options.audioStream);
    return MCVerifiedSync(clusterParams, verify, run).run(&files, source, progress, &matched);
}

// Pairs that verified at two offsets alike, left unlinked: one line, when there are any.
void printAmbiguous(std::ostream& out, MCFileSet& files, const std::vector<PairMatch>& matched) {
    std::ostringstream line;
    for (const PairMatch& m : matched) {
        if (m.status == PairMatch::Status::Ambiguous) {
            line << (line.tellp() > 0 ? ", " : "") << files.idToName[m.first] << " and "
                 << files.idToName[m.second] << " (" << std::fixed << std::setprecision(2)
                 << m.alignment.offset << " s or " << m.rival.offset << " s)";
        }
    }
    if (line.tellp() > 0) {
        out << "Not linked, the sound agrees at two offsets: " << line.str() << std::endl;
    }
}

// After the refined offsets: the members that kept their frame-accurate offsets, with the
// reason; those refined only within a group that is not linked to the reference; and the clock
// drifts that were measured; each on one line, when there are any.
void printAlignmentNotes(std::ostream& out, const ClusterResult& clusters,
                         const std::map<const ClusterSet*, ClusterAlignment>& aligned) {
    std::ostringstream kept, grouped, drifts;
    for (const ClusterSet* cluster : clusters) {
        std::map<int, std::string> names;
        for (const MCClusterElem* elem : *cluster) {
            names[elem->fileId] = elem->name;
        }
        for (const MemberAlignment& m : aligned.at(cluster).members) {
            if (m.status == MemberAlignment::Status::Unrefined) {
                kept << (kept.tellp() > 0 ? ", " : "") << names[m.fileId] << " ("
                     << describe(m.reason) << ")";
            } else if (m.status == MemberAlignment::Status::Grouped) {
                grouped << (grouped.tellp() > 0 ? ", " : "") << names[m.fileId];
            } else if (m.status == MemberAlignment::Status::Refined && m.driftMeasured &&
                       std::fabs(m.driftPpm) >= std::max(1.0, 3.0 * m.driftError)) {
                // One decimal when the error allows it.
                drifts << (drifts.tellp() > 0 ? ", " : "") << names[m.fileId] << " " << std::showpos
                       << std::fixed << std::setprecision(m.driftError < 0.5 ? 1 : 0) << m.driftPpm
                       << std::noshowpos << " ppm";
            }
        }
    }
    if (kept.tellp() > 0) {
        out << "Not refined, frame-accurate offsets kept: " << kept.str() << std::endl;
    }
    if (grouped.tellp() > 0) {
        out << "Refined only within their own group, each group placed at its frame-accurate "
               "offset: "
            << grouped.str() << std::endl;
    }
    if (drifts.tellp() > 0) {
        out << "Clock drift against the cluster's reference: " << drifts.str() << std::endl;
    }
}

// The fingerprints are done with once the clusters are made: their records are freed now, side
// by side, rather than one after the other when the run ends, and leave their memory to the
// alignment. The set keeps the files' names and paths.
void releaseRecords(MCFileSet& files, unsigned int threads) {
    std::vector<MCFile*> records;
    for (const auto& [id, record] : files.files) {
        records.push_back(record);
    }
    files.files.clear();
    MCTaskPool(threads).run(records.size(),
                            [&](std::size_t i, unsigned int) { delete records[i]; });
}

}  // namespace

Analysis runAnalysis(const RunRequest& request, MCProgress* progress,
                     const MatchingElsewhere* elsewhere) {
    const RunOptions& options = request.options;
    MCRunParams runParams;
    runParams.setThreads(options.threads);
    if (options.perRecording) {
        runParams.setPopularity(MCRunParams::Popularity::PerRecording);
    }
    const unsigned int rate = request.extract.getSampleRate();
    Analysis analysis;
    std::copy_if(request.paths.begin(), request.paths.end(), std::back_inserter(analysis.taken),
                 [&](const std::string& p) { return options.allMedia || isWavePath(p); });
    MCLandmarkExtract extractor(request.extract);
    if (elsewhere != nullptr) {
        analysis.files.reset(elsewhere->files(analysis.taken, analysis.mediaErrors));
    } else if (options.allMedia) {
        analysis.files.reset(extractMedia(extractor, request.paths, options.audioStream,
                                          options.threads, &analysis.mediaErrors));
    }
    if (!analysis.files) {
        analysis.files.reset(extractor.runAll(request.paths, runParams));
    }
    analysis.names = recordingNames(analysis.taken, request.folder);
    nameRecordings(*analysis.files, analysis.names);

    MCFileSet& files = *analysis.files;
    if (elsewhere != nullptr) {
        analysis.clusters.reset(elsewhere->clusters(files, analysis.accepted, analysis.matched));
    } else if (options.verified) {
        analysis.clusters.reset(verifiedClusters(request.cluster, files, rate, options, runParams,
                                                 analysis.matched, progress));
    } else {
        analysis.clusters.reset(
            MCClusterSync(request.cluster).run(&files, progress, runParams, &analysis.accepted));
    }
    releaseRecords(files, runParams.getThreads());
    const ClusterResult& clusters = *analysis.clusters;
    printClusters(clusters);
    printAmbiguous(std::cout, files, analysis.matched);
    std::vector<std::pair<int, int>> linked;
    for (const MCMatchStats& stats : analysis.accepted) {
        linked.emplace_back(stats.id1, stats.id2);
    }
    for (const PairMatch& m : analysis.matched) {
        if (m.status == PairMatch::Status::Linked) {
            linked.emplace_back(m.first, m.second);
        }
    }

    SyncRefiner refiner(files.idToPath, analysis.clusters.get());
    const bool referenced = refiner.refineClusters();
    analysis.aligned = alignClusters(clusters, linked, files.idToPath, request.extract, options,
                                     runParams, referenced);
    for (const auto& [cluster, alignment] : analysis.aligned) {
        for (const MemberAlignment& m : alignment.members) {
            analysis.refined[m.fileId] = m.offset;
        }
    }
    std::ostringstream report;
    printClustersFixed(report, clusters,
                       [&](const MCClusterElem& elem) { return analysis.refined.at(elem.fileId); });
    printAlignmentNotes(report, clusters, analysis.aligned);
    analysis.refinedReport = report.str();
    std::cout << "REFINED" << std::endl << analysis.refinedReport << std::flush;
    return analysis;
}

RunReport reportOf(const Analysis& analysis, const RunRequest& request) {
    const RunOptions& options = request.options;
    RunReport result;
    result.extract = request.extract;
    result.cluster = request.cluster;
    result.allMedia = options.allMedia;
    result.refineRate = options.refineRate;
    result.refine = options.refine;
    result.maxDriftPpm = options.maxDriftPpm;
    result.driftCorrect = options.driftCorrect;
    result.verified = options.verified;
    result.perRecording = options.perRecording;
    std::copy_if(analysis.matched.begin(), analysis.matched.end(),
                 std::back_inserter(result.ambiguous),
                 [](const PairMatch& m) { return m.status == PairMatch::Status::Ambiguous; });
    result.files =
        describeInputs(analysis.taken, analysis.names, *analysis.files, analysis.mediaErrors,
                       request.extract.getSampleRate(), options.audioStream);
    result.clusters = reportClusters(*analysis.clusters, analysis.aligned, analysis.accepted,
                                     analysis.matched, request.cluster.getFramesPerSecond());
    for (const ReportCluster& cluster : result.clusters) {
        if (cluster.members.size() == 1) {
            result.unmatched.push_back(cluster.members.front().id);
        }
    }
    return result;
}

RunReport analyse(const RunRequest& request, MCProgress* progress) {
    return reportOf(runAnalysis(request, progress), request);
}

}  // namespace Trelis
