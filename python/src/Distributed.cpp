#include "Distributed.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "OutputCapture.h"
#include "PathNames.h"
#include "PythonProgress.h"
#include "Settings.h"
#include "Trelis.h"
#include "media/MediaExtraction.h"
#include "results/JsonWriter.h"
#include "run/Analysis.h"
#include "run/FolderContents.h"
#include "run/RecordingSource.h"

namespace py = pybind11;
using namespace Trelis;

namespace TrelisPython {

namespace {

// An accepted pair's statistics as a numpy record (MCMatchStats without its histogram pointer).
struct PairRecord {
    std::int32_t id1, id2;
    float offset, matchCount, overlapLength, percentMatchF1, percentMatchF2;
    float overlapLandmarksF1, overlapLandmarksF2, templateLength, histMean, histStd;
};

using Bins = py::array_t<MCPairVotes::Bin, py::array::c_style | py::array::forcecast>;
using Pairs = py::array_t<PairRecord, py::array::c_style | py::array::forcecast>;
using Hashes = py::array_t<std::uint32_t, py::array::c_style | py::array::forcecast>;
using Ints = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>;

template <typename T>
py::array_t<T> toArray(const std::vector<T>& values) {
    py::array_t<T> out(static_cast<py::ssize_t>(values.size()));
    if (!values.empty()) {
        std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(T));
    }
    return out;
}

template <typename T, typename Array>
std::vector<T> fromArray(const Array& array) {
    return std::vector<T>(array.data(), array.data() + array.size());
}

// Verified matching as the program sets it up: recordings read at the extraction rate, the
// drift as given.
MCVerifiedSync verifiedSync(const Settings& settings) {
    MCVerifyParams verify;
    MCAlignParams align;
    align.setSampleRate(settings.extract.getSampleRate());
    verify.setAlign(align);
    verify.setMaxDriftPpm(settings.maxDriftPpm);
    return MCVerifiedSync(settings.clusterParams(settings.extract), verify);
}

// Measured candidates as bytes, to travel between processes, and back.
py::bytes candidateBytes(const std::vector<VerifiedCandidate>& candidates) {
    static_assert(std::is_trivially_copyable<VerifiedCandidate>::value, "copied as bytes");
    return py::bytes(reinterpret_cast<const char*>(candidates.data()),
                     candidates.size() * sizeof(VerifiedCandidate));
}
std::vector<VerifiedCandidate> candidatesOf(const std::vector<std::string>& blobs) {
    std::vector<VerifiedCandidate> out;
    for (const std::string& blob : blobs) {
        if (blob.size() % sizeof(VerifiedCandidate) != 0) {
            throw py::value_error("_sync_matched: measured candidates of a foreign layout");
        }
        const std::size_t count = blob.size() / sizeof(VerifiedCandidate);
        const std::size_t at = out.size();
        out.resize(at + count);
        if (count != 0) {
            std::memcpy(&out[at], blob.data(), blob.size());
        }
    }
    return out;
}

// The files of `folder` a run takes, as the program lists them.
std::vector<std::string> folderPaths(const std::string& folder, const py::kwargs& given) {
    const Settings settings(given, Settings::All);
    FolderContents contents;
    std::string error;
    if (!readFolder(folder, settings.runOptions(), contents, error)) {
        throw py::value_error("cannot read the folder " + folder + ": " + error);
    }
    return contents.paths;
}

// One file's landmarks (hashes and frames) and its landmark counts per frame, extracted as the
// program extracts it; the error when it can't be read (empty for a WAVE file, whose problem the
// report finds again from the path).
py::tuple fingerprintPath(const std::string& path, const py::kwargs& given) {
    const Settings settings(given, Settings::All);
    std::vector<std::uint32_t> hashes;
    std::vector<std::int32_t> times, cumulative;
    int first = 0;
    bool read = false;
    std::string error;
    {
        // The extraction's lines go to the worker's standard output (its log).
        const py::gil_scoped_release nogil;
        MCLandmarkExtract extractor(settings.extract);
        std::unique_ptr<MCFileSet> set;
        std::vector<std::string> errors;
        if (settings.allMedia) {
            set.reset(extractMedia(extractor, {path}, settings.audioStream, 1, &errors));
        }
        if (!set) {
            set.reset(extractor.runAll({path}, MCRunParams()));
        }
        if (!set->getFiles().empty()) {
            MCFile& file = *set->getFiles().begin()->second;
            file.computeCLF();
            for (const auto& [frame, landmarks] : file.landmarks) {
                for (const Landmark* l : landmarks) {
                    hashes.push_back(l->hash);
                    times.push_back(l->time);
                }
            }
            for (const auto& [frame, total] : file.clf) {
                cumulative.push_back(total);
            }
            first = file.getFirstFrame();
            read = true;
        } else if (!errors.empty()) {
            error = errors.front();
        }
    }
    return py::make_tuple(read, error, toArray(hashes), toArray(times), first, toArray(cumulative));
}

// The votes of one partition of landmarks, split into `parts` by pair.
py::list votes(const Hashes& hashes, const Ints& files, const Ints& times,
               unsigned int maxLandmarks, bool perRecording, unsigned int parts) {
    if (files.size() != hashes.size() || times.size() != hashes.size()) {
        throw py::value_error("_votes: hashes, files and times differ in length");
    }
    if (parts == 0) {
        throw py::value_error("_votes: parts must be at least 1");
    }
    std::vector<std::vector<MCPairVotes::Bin>> split(parts);
    {
        const py::gil_scoped_release nogil;
        const MCPairVotes all = MCPairVotes::fromLandmarks(
            hashes.data(), files.data(), times.data(), static_cast<std::size_t>(hashes.size()),
            maxLandmarks, perRecording);
        for (const MCPairVotes::Bin& bin : all.bins()) {
            split[MCPairVotes::slotOf(bin.id1, bin.id2, parts)].push_back(bin);
        }
    }
    py::list out;
    for (const auto& part : split) {
        out.append(toArray(part));
    }
    return out;
}

// Sums the pieces of votes of one slot of pairs and returns the accepted pairs' statistics and
// how many pairs had votes. `profiles`: (id, first frame, landmark counts) of each file.
py::tuple pairStatistics(const std::vector<Bins>& pieces,
                         const std::vector<std::tuple<int, int, Ints>>& profiles,
                         const std::map<int, std::string>& paths, const py::kwargs& given) {
    const Settings settings(given, Settings::All);
    const MCClusterSyncParams params = settings.clusterParams(settings.extract);
    std::vector<std::vector<MCPairVotes::Bin>> binLists;
    for (const Bins& piece : pieces) {
        binLists.push_back(fromArray<MCPairVotes::Bin>(piece));
    }
    std::vector<std::tuple<int, int, std::vector<int>>> counts;
    for (const auto& [id, first, cumulative] : profiles) {
        counts.emplace_back(id, first, fromArray<int>(cumulative));
    }
    std::vector<PairRecord> accepted;
    std::vector<VerifiedCandidate> measured;
    std::size_t pairs = 0;
    {
        const py::gil_scoped_release nogil;
        MCPairVotes sum;
        for (auto& bins : binLists) {
            sum.add(MCPairVotes(std::move(bins)));
        }
        MCFileSet files;
        for (const auto& [id, first, cumulative] : counts) {
            auto* record = new MCFile(id);
            record->setLandmarkCounts(first, cumulative);
            files.addFile(record);
        }
        if (settings.verified) {
            // The candidates' windows read from the recordings, as the program reads them.
            RecordingSource source(paths, settings.extract.getSampleRate(), settings.allMedia,
                                   settings.audioStream);
            measured = verifiedSync(settings).measure(sum, &files, source);
            const std::vector<MCPairVotes::Bin>& bins = sum.bins();
            for (std::size_t k = 0; k < bins.size(); ++k) {
                pairs += k == 0 || bins[k - 1].id1 != bins[k].id1 || bins[k - 1].id2 != bins[k].id2;
            }
        } else {
            const std::vector<MCMatchStats> stats = sum.statistics(&files);
            pairs = stats.size();
            for (const MCMatchStats& s : MCClusterSync(params).accept(stats)) {
                accepted.push_back({s.id1, s.id2, s.offset, s.matchCount, s.overlapLength,
                                    s.percentMatchF1, s.percentMatchF2, s.overlapLandmarksF1,
                                    s.overlapLandmarksF2, s.templateLength, s.histMean, s.histStd});
            }
        }
    }
    if (settings.verified) {
        return py::make_tuple(candidateBytes(measured), pairs);
    }
    return py::make_tuple(toArray(accepted), pairs);
}

// The program's run over `paths` (named within `folder`) from the files read elsewhere (`read`,
// the ids of those taken that could be, from 1; `mediaErrors` for the others) and the accepted
// pairs: clusters, alignment and report. Returns the JSON and what the run printed.
py::tuple syncMatched(const std::string& folder, const std::vector<std::string>& paths,
                      const std::vector<int>& read, const std::vector<std::string>& mediaErrors,
                      const py::object& found, const py::kwargs& given) {
    const Settings settings(given, Settings::All);
    const std::vector<VerifiedCandidate> candidates =
        settings.verified ? candidatesOf(found.cast<std::vector<std::string>>())
                          : std::vector<VerifiedCandidate>();
    const Pairs accepted = settings.verified ? Pairs(0) : found.cast<Pairs>();
    const RunRequest request{folder, paths, settings.extract,
                             settings.clusterParams(settings.extract), settings.runOptions()};
    std::vector<MCMatchStats> stats;
    for (const PairRecord& r : fromArray<PairRecord>(accepted)) {
        MCMatchStats s(nullptr);
        s.id1 = r.id1;
        s.id2 = r.id2;
        s.offset = r.offset;
        s.matchCount = r.matchCount;
        s.overlapLength = r.overlapLength;
        s.percentMatchF1 = r.percentMatchF1;
        s.percentMatchF2 = r.percentMatchF2;
        s.overlapLandmarksF1 = r.overlapLandmarksF1;
        s.overlapLandmarksF2 = r.overlapLandmarksF2;
        s.templateLength = r.templateLength;
        s.histMean = r.histMean;
        s.histStd = r.histStd;
        stats.push_back(s);
    }
    MatchingElsewhere elsewhere;
    elsewhere.files = [&](const std::vector<std::string>& taken, std::vector<std::string>& errors) {
        auto* set = new MCFileSet();
        for (int id : read) {
            if (id >= 1 && static_cast<std::size_t>(id) <= taken.size()) {
                addNamedFile(*set, new MCFile(id), taken[static_cast<std::size_t>(id) - 1]);
            }
        }
        if (settings.allMedia) {
            errors = mediaErrors;
        }
        return set;
    };
    elsewhere.clusters = [&](MCFileSet& files, std::vector<MCMatchStats>& acceptedOut,
                             std::vector<PairMatch>& matched) {
        return settings.verified
                   ? verifiedSync(settings).cluster(&files, candidates, &matched)
                   : MCClusterSync(request.cluster).cluster(&files, stats, &acceptedOut);
    };
    PythonProgress progress(py::none(), settings.verified);
    std::ostringstream json;
    std::string log;
    {
        const py::gil_scoped_release nogil;
        const std::lock_guard<std::mutex> turn(OutputCapture::turns());
        const OutputCapture capture(progress, paths.size());
        writeJsonReport(reportOf(runAnalysis(request, &progress, &elsewhere), request), json);
        log = capture.text();
    }
    return py::make_tuple(json.str(), log);
}

// The popular-hash rule the settings ask for: (maxlandmarks, per recording); checks every setting.
py::tuple matchingRules(const py::kwargs& given) {
    const Settings settings(given, Settings::All);
    return py::make_tuple(settings.clusterParams(settings.extract).getMaxLandmarks(),
                          settings.perRecording);
}

}  // namespace

void addDistributed(py::module_& m) {
    PYBIND11_NUMPY_DTYPE(MCPairVotes::Bin, id1, id2, offset, count, earliest, latest);
    PYBIND11_NUMPY_DTYPE(PairRecord, id1, id2, offset, matchCount, overlapLength, percentMatchF1,
                         percentMatchF2, overlapLandmarksF1, overlapLandmarksF2, templateLength,
                         histMean, histStd);
    m.def(
        "_candidate_size", [] { return sizeof(VerifiedCandidate); },
        "_candidate_size() -> int: the bytes of one measured candidate.");
    m.def("_matching_rules", &matchingRules,
          "_matching_rules(**settings) -> (maxlandmarks, per_recording), the settings checked.");
    m.def("_folder_paths", &folderPaths, py::arg("folder"),
          "_folder_paths(folder, **settings) -> list: the files of `folder` a run takes.");
    m.def("_fingerprint_path", &fingerprintPath, py::arg("path"),
          "_fingerprint_path(path, **settings) -> (read, error, hashes, times, first_frame, "
          "counts)\n\nOne file's landmarks as the program extracts them, and its cumulative "
          "landmark counts per frame from first_frame.");
    m.def("_votes", &votes, py::arg("hashes"), py::arg("files"), py::arg("times"), py::kw_only(),
          py::arg("maxlandmarks"), py::arg("per_recording"), py::arg("parts"),
          "_votes(hashes, files, times, *, maxlandmarks, per_recording, parts) -> list\n\n"
          "The vote bins of landmarks that hold every landmark of their hashes, split into "
          "`parts` arrays by pair.");
    m.def("_pair_statistics", &pairStatistics, py::arg("pieces"), py::arg("profiles"),
          py::arg("paths"),
          "_pair_statistics(pieces, profiles, paths, **settings) -> (found, pairs)\n\n"
          "The summed votes' statistics: the accepted pairs (with match=\"verified\", the\n"
          "candidates measured on the recordings at `paths`, as bytes) and how many pairs had "
          "votes.");
    m.def("_sync_matched", &syncMatched, py::arg("folder"), py::arg("paths"), py::arg("read"),
          py::arg("media_errors"), py::arg("found"),
          "_sync_matched(folder, paths, read, media_errors, found, **settings) -> (json, log)"
          "\n\nThe program's clusters, alignment and report from pairs accepted elsewhere (with"
          "\nmatch=\"verified\", from the list of measured candidates' bytes).");
}

}  // namespace TrelisPython
