// The Python module trelis._trelis: fingerprints of numpy arrays, their clustering and the
// alignment of two recordings, over the public library. The pure-Python package around it
// (python/trelis) adds the run over files and the result classes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "ArrayInput.h"
#include "AudioArray.h"
#include "Distributed.h"
#include "Fingerprint.h"
#include "FingerprintSource.h"
#include "PythonProgress.h"
#include "Resampler.h"
#include "Settings.h"
#include "SyncRun.h"
#include "Trelis.h"

namespace py = pybind11;
using namespace Trelis;
using namespace TrelisPython;

namespace {

// The caller's array as shared audio; the last reference may be dropped on any thread, so the
// array is released under the GIL.
std::shared_ptr<const AudioArray> shareArray(const py::object& samples, double rate,
                                             const std::string& what) {
    auto* array = new AudioArray(samples, rate, what);
    return std::shared_ptr<const AudioArray>(array, [](const AudioArray* a) {
        const py::gil_scoped_acquire gil;
        delete a;
    });
}

MCRunParams runParams(const Settings& settings) {
    MCRunParams run;
    run.setThreads(settings.threads);
    if (settings.perRecording) {
        run.setPopularity(MCRunParams::Popularity::PerRecording);
    }
    return run;
}

// Reports of a long read, every `every` blocks: the GIL is taken only then.
std::function<void(double)> readReports(PythonProgress& progress, const char* stage,
                                        unsigned every) {
    auto calls = std::make_shared<unsigned>(0);
    return [&progress, stage, every, calls](double fraction) {
        if (++*calls % every == 0 || fraction >= 1.0) {
            progress.report(stage, fraction);
        }
    };
}

std::shared_ptr<Fingerprint> fingerprint(const py::object& samples, double rate,
                                         const py::object& name, int id,
                                         const py::object& progressCallback,
                                         const py::kwargs& settingsGiven) {
    const Settings settings(settingsGiven, Settings::Extraction);
    const auto array = shareArray(samples, rate, "samples");
    const std::string label = name.is_none() ? std::string() : py::str(name).cast<std::string>();
    PythonProgress progress(progressCallback);
    std::unique_ptr<MCFile> file;
    std::unique_ptr<MonoAudio> extracted;
    {
        const py::gil_scoped_release nogil;
        const MonoAudio original(array);
        const unsigned int extractRate = settings.extract.getSampleRate();
        extracted = std::make_unique<MonoAudio>(
            original.at(extractRate, readReports(progress, "resampling", 4)));
        ArrayInput input(*extracted, readReports(progress, "fingerprint", 256));
        MCLandmarkExtract extractor(settings.extract);
        file.reset(extractor.run(&input, id));
        progress.report("fingerprint", 1.0);
    }
    return std::make_shared<Fingerprint>(std::move(file), settings.extract, MonoAudio(array),
                                         *extracted, label);
}

bool sameExtraction(const MCExtractParams& a, MCExtractParams b) {
    MCExtractParams first = a;
    return first.getFftSize() == b.getFftSize() && first.getHopSize() == b.getHopSize() &&
           first.getSampleRate() == b.getSampleRate() &&
           first.getMaxPairsPerPeak() == b.getMaxPairsPerPeak() && first.freqRange == b.freqRange &&
           first.timeRange == b.timeRange && first.initThresholdFrames == b.initThresholdFrames &&
           first.maxPeaksPerFrame == b.maxPeaksPerFrame && first.peakDynRange == b.peakDynRange &&
           first.dbThreshold == b.dbThreshold && first.decayPerFrame == b.decayPerFrame &&
           first.peakWidth == b.peakWidth;
}

const char* reasonText(AlignReason reason) {
    return reason == AlignReason::None ? nullptr : describe(reason);
}

py::dict pairJson(const PairAlignment& p) {
    py::dict out;
    out["measured"] = p.measured;
    out["offset"] = p.offset;
    out["offsetError"] = p.offsetError;
    out["driftPpm"] = p.driftPpm;
    out["driftPpmError"] = p.driftError;
    out["windows"] = p.windows;
    out["agreeing"] = p.agreeing;
    out["strength"] = p.strength;
    out["confidence"] = p.confidence;
    out["reason"] = reasonText(p.reason);
    return out;
}

py::dict cluster(const std::vector<std::shared_ptr<Fingerprint>>& fingerprints,
                 const py::object& progressCallback, const py::kwargs& settingsGiven) {
    const Settings settings(settingsGiven, Settings::Clustering | Settings::Matching |
                                               Settings::Drift | Settings::Threads);
    if (fingerprints.empty()) {
        throw py::value_error("cluster: no fingerprints given");
    }
    std::map<int, const Fingerprint*> byId;
    for (std::size_t k = 0; k < fingerprints.size(); ++k) {
        if (!fingerprints[k]) {
            throw py::value_error("cluster: fingerprint " + std::to_string(k) + " is None");
        }
        if (!sameExtraction(fingerprints[k]->params(), fingerprints.front()->params())) {
            throw py::value_error("cluster: fingerprint " + std::to_string(k) +
                                  " was made with other extraction settings than fingerprint 0");
        }
        byId[static_cast<int>(k) + 1] = fingerprints[k].get();
    }
    const MCExtractParams extract = fingerprints.front()->params();
    const MCClusterSyncParams params = settings.clusterParams(extract);
    PythonProgress progress(progressCallback, settings.verified);
    std::vector<PairMatch> pairs;
    std::unique_ptr<ClusterResult, void (*)(ClusterResult*)> result(nullptr, deleteClusterResult);
    {
        const py::gil_scoped_release nogil;
        MCFileSet files;
        for (const auto& [id, print] : byId) {
            std::unique_ptr<MCFile> copy = print->copyAs(id);
            files.addFile(copy.get());
            copy.release();  // the set owns it now
            files.idToName[id] = print->name().empty() ? std::to_string(id - 1) : print->name();
            files.idToPath[id] = files.idToName[id];
        }
        const MCRunParams run = runParams(settings);
        if (settings.verified) {
            // As the program: recordings read at the extraction rate, drift as given.
            MCVerifyParams verify;
            MCAlignParams align;
            align.setSampleRate(extract.getSampleRate());
            verify.setAlign(align);
            verify.setMaxDriftPpm(settings.maxDriftPpm);
            FingerprintSource source(byId, extract.getSampleRate());
            result.reset(
                MCVerifiedSync(params, verify, run).run(&files, source, &progress, &pairs));
        } else {
            result.reset(MCClusterSync(params).run(&files, &progress, run));
        }
    }
    // Clusters by their first member; members by index.
    std::vector<const ClusterSet*> ordered(result->begin(), result->end());
    std::sort(ordered.begin(), ordered.end(), [](const ClusterSet* a, const ClusterSet* b) {
        return (*a->begin())->fileId < (*b->begin())->fileId;
    });
    py::list clusters;
    for (const ClusterSet* set : ordered) {
        py::list members;
        for (const MCClusterElem* elem : *set) {
            py::dict member;
            member["index"] = elem->fileId - 1;
            member["name"] = byId.at(elem->fileId)->name();
            member["offset"] = static_cast<double>(elem->offset);
            members.append(member);
        }
        clusters.append(members);
    }
    py::list linked, ambiguous;
    for (const PairMatch& m : pairs) {
        py::dict entry = pairJson(m.alignment);
        entry["first"] = m.first - 1;
        entry["second"] = m.second - 1;
        entry["votes"] = m.votes;
        entry["chanceVotes"] = m.chanceVotes;
        entry["surprise"] = m.surprise;
        if (m.status == PairMatch::Status::Ambiguous) {
            entry["rivalOffset"] = m.rival.offset;
            entry["rivalStrength"] = m.rival.strength;
            ambiguous.append(entry);
        } else {
            linked.append(entry);
        }
    }
    py::dict out;
    out["clusters"] = clusters;
    out["pairs"] = linked;
    out["ambiguous"] = ambiguous;
    out["match"] = settings.verified ? "verified" : "spec";
    return out;
}

// An argument of align: a Fingerprint (into `held`), or an array at `rate`.
std::optional<MonoAudio> alignInput(const py::object& given, const py::object& rate,
                                    const char* what, std::shared_ptr<Fingerprint>& held) {
    if (py::isinstance<Fingerprint>(given)) {
        held = given.cast<std::shared_ptr<Fingerprint>>();
        return std::nullopt;
    }
    if (rate.is_none()) {
        throw py::value_error(std::string("align: ") + what +
                              " is an array: give its sample rate (rate=...)");
    }
    return MonoAudio(shareArray(given, rate.cast<double>(), what));
}

py::dict align(const py::object& a, const py::object& b, double approxOffset,
               const py::object& rate, const py::object& progressCallback,
               const py::kwargs& settingsGiven) {
    const Settings settings(settingsGiven,
                            Settings::Refinement | Settings::Drift | Settings::Threads);
    if (!std::isfinite(approxOffset)) {
        throw py::value_error("align: approx_offset must be a finite number of seconds");
    }
    std::shared_ptr<Fingerprint> heldA, heldB;
    const std::optional<MonoAudio> audioA = alignInput(a, rate, "a", heldA);
    const std::optional<MonoAudio> audioB = alignInput(b, rate, "b", heldB);
    // The extraction settings the frame-accurate offset came from: the fingerprints', or the
    // program's defaults for arrays.
    const MCExtractParams defaults;
    const MCExtractParams& extract = heldA ? heldA->params() : heldB ? heldB->params() : defaults;
    MCAlignParams params;
    params.setSampleRate(settings.refineRate != 0 ? settings.refineRate : extract.getSampleRate());
    params.setMaxDriftPpm(settings.maxDriftPpm);
    params.setSearchSeconds(
        std::max(params.getSearchSeconds(), 3.0 * extract.getHopSize() / extract.getSampleRate()));
    PythonProgress progress(progressCallback);
    PairAlignment measured;
    {
        const py::gil_scoped_release nogil;
        const unsigned int at = params.getSampleRate();
        const auto poll = readReports(progress, "resampling", 4);
        ArrayInput first(heldA ? heldA->audioAt(at) : audioA->at(at, poll),
                         readReports(progress, "aligning", 256));
        ArrayInput second(heldB ? heldB->audioAt(at) : audioB->at(at, poll),
                          readReports(progress, "aligning", 256));
        measured =
            MCClusterAligner(params, runParams(settings)).measure(first, second, approxOffset);
    }
    return pairJson(measured);
}

// Resamples a float32 array, for the tests that hold the resampler to a direct computation.
py::array_t<float> resample(const py::array_t<float, py::array::c_style | py::array::forcecast>& in,
                            unsigned int inRate, unsigned int outRate, bool tabled) {
    const TrelisPython::Resampler resampler(inRate, outRate, tabled);
    const auto count = static_cast<std::uint64_t>(in.size());
    py::array_t<float> out(static_cast<py::ssize_t>(resampler.outputCount(count)));
    resampler.process(in.data(), 0, count, 0, resampler.outputCount(count), out.mutable_data());
    return out;
}

}  // namespace

PYBIND11_MODULE(_trelis, m) {
    m.doc() = "Trelis: fingerprints, clusters and aligns recordings of the same events.";
    py::options options;
    options.disable_function_signatures();  // the docstrings give them, with the settings
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) {
                std::rethrow_exception(p);
            }
        } catch (const std::invalid_argument& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    py::class_<Fingerprint, std::shared_ptr<Fingerprint>>(
        m, "Fingerprint", "The landmarks of one recording, and the recording itself.")
        .def_property_readonly("landmarks", &Fingerprint::landmarks,
                               "The landmarks: a structured array of time (STFT frame of the "
                               "anchor peak), file (the id given) and hash.")
        .def_property_readonly("name", &Fingerprint::name)
        .def_property_readonly("id", &Fingerprint::id)
        .def_property_readonly("duration", &Fingerprint::duration, "Seconds.")
        .def_property_readonly(
            "sample_rate", [](const Fingerprint& f) { return f.params().getSampleRate(); },
            "The extraction rate, Hz.")
        .def("__len__", [](const Fingerprint& f) { return f.landmarkCount(); })
        .def("__repr__", [](const Fingerprint& f) {
            return "<trelis.Fingerprint " + (f.name().empty() ? std::string() : f.name() + " ") +
                   std::to_string(f.landmarkCount()) + " landmarks, " +
                   std::to_string(f.duration()) + " s>";
        });

    m.def("fingerprint", &fingerprint, py::arg("samples"), py::arg("rate"), py::kw_only(),
          py::arg("name") = py::none(), py::arg("id") = 0, py::arg("progress") = py::none(),
          "fingerprint(samples, rate, *, name=None, id=0, progress=None, **settings)\n\n"
          "The landmarks of a recording: `samples` a 1-D array, or 2-D frames x channels, of any\n"
          "float or integer dtype, at `rate` Hz; mixed to mono and resampled to the extraction\n"
          "rate (samplerate=8000). Settings: the program's extraction options (fftsize, hopsize,\n"
          "samplerate, maxpairsperpeak, maxpeaksperframe, freqrange, timerange, decayperframe,\n"
          "peakwidth, peakdynrange, dbthreshold). `id` is the landmarks' `file`.");
    m.def("cluster", &cluster, py::arg("fingerprints"), py::kw_only(),
          py::arg("progress") = py::none(),
          "cluster(fingerprints, *, progress=None, **settings) -> dict\n\n"
          "Clusters fingerprints made with the same extraction settings, as the program does.\n"
          "Settings: match (\"spec\" or \"verified\"), popularity, maxdrift, j and the five\n"
          "cluster thresholds (maxlandmarks, accepttreshold, mintemplatelength,\n"
          "minoverlaplength, minpercentmatch).");
    m.def("align", &align, py::arg("a"), py::arg("b"), py::kw_only(), py::arg("approx_offset"),
          py::arg("rate") = py::none(), py::arg("progress") = py::none(),
          "align(a, b, *, approx_offset, rate=None, progress=None, **settings) -> dict\n\n"
          "Measures where `b` starts on the clock of `a` (seconds) and its drift (ppm), searched\n"
          "near `approx_offset`: fingerprints, or arrays at `rate`. Correlated at refinerate\n"
          "(default: the extraction rate); maxdrift and j as the program's.");
    addSync(m);
    m.def("_resample", &resample, py::arg("samples"), py::arg("in_rate"), py::arg("out_rate"),
          py::arg("tabled") = true);
    addDistributed(m);
}
