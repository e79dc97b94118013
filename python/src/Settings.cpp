#include "Settings.h"

#include <cmath>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

namespace py = pybind11;
using Trelis::MCClusterSyncParams;
using Trelis::MCExtractParams;

namespace TrelisPython {

namespace {

[[noreturn]] void refuse(const std::string& name, const py::handle& value,
                         const std::string& rule) {
    throw py::value_error("setting " + name + "=" + py::repr(value).cast<std::string>() + ": " +
                          rule);
}

// A whole number within [low, high]; bools and fractions are refused.
long long whole(const std::string& name, const py::handle& value, long long low, long long high,
                const std::string& rule) {
    if (py::isinstance<py::bool_>(value) || !py::isinstance<py::int_>(value)) {
        refuse(name, value, rule);
    }
    long long number = 0;
    try {
        number = value.cast<long long>();
    } catch (const py::cast_error&) {
        refuse(name, value, rule);
    }
    if (number < low || number > high) {
        refuse(name, value, rule);
    }
    return number;
}

// A finite number (int or float) that `valid` accepts.
double real(const std::string& name, const py::handle& value,
            const std::function<bool(double)>& valid, const std::string& rule) {
    if (py::isinstance<py::bool_>(value) ||
        !(py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value))) {
        refuse(name, value, rule);
    }
    const double number = value.cast<double>();
    if (!std::isfinite(number) || !valid(number)) {
        refuse(name, value, rule);
    }
    return number;
}

// One of `choices`.
std::string word(const std::string& name, const py::handle& value,
                 const std::vector<std::string>& choices) {
    std::string rule = "must be ";
    for (std::size_t k = 0; k < choices.size(); ++k) {
        rule += (k == 0 ? "\"" : k + 1 == choices.size() ? " or \"" : ", \"") + choices[k] + "\"";
    }
    if (!py::isinstance<py::str>(value)) {
        refuse(name, value, rule);
    }
    const std::string text = value.cast<std::string>();
    for (const std::string& choice : choices) {
        if (text == choice) {
            return text;
        }
    }
    refuse(name, value, rule);
}

bool flag(const std::string& name, const py::handle& value) {
    if (!py::isinstance<py::bool_>(value)) {
        refuse(name, value, "must be True or False");
    }
    return value.cast<bool>();
}

struct Setting {
    unsigned group;
    std::function<void(Settings&, const std::string&, const py::handle&)> apply;
};

const std::map<std::string, Setting>& table() {
    using S = Settings;
    const auto positive = [](MCExtractParams& e, const std::string& n, const py::handle& v,
                             std::uint32_t& field) {
        field = static_cast<std::uint32_t>(whole(n, v, 1, 0xFFFFFFFFll, "must be 1 or more"));
        (void)e;
    };
    const auto above0 = [](double x) { return x > 0.0; };
    static const std::map<std::string, Setting> settings = {
        {"fftsize",
         {S::Extraction,
          [](S& s, const std::string& n, const py::handle& v) {
              const std::string rule = "must be a power of two, 8 or more";
              if (!s.extract.setFftSize(static_cast<unsigned>(whole(n, v, 8, 1 << 30, rule)))) {
                  refuse(n, v, rule);
              }
          }}},
        {"hopsize",
         {S::Extraction,
          [](S& s, const std::string& n, const py::handle& v) {
              s.extract.setHopSize(
                  static_cast<unsigned>(whole(n, v, 1, 0xFFFFFFFFll, "must be 1 or more")));
          }}},
        {"samplerate",
         {S::Extraction,
          [](S& s, const std::string& n, const py::handle& v) {
              s.extract.setSampleRate(static_cast<unsigned>(
                  whole(n, v, 4000, 0xFFFFFFFFll, "must be a whole number of Hz, 4000 or more")));
          }}},
        {"maxpairsperpeak",
         {S::Extraction,
          [](S& s, const std::string& n, const py::handle& v) {
              s.extract.setMaxPairsPerPeak(
                  static_cast<unsigned>(whole(n, v, 1, 0xFFFFFFFFll, "must be 1 or more")));
          }}},
        {"maxpeaksperframe",
         {S::Extraction,
          [=](S& s, const std::string& n, const py::handle& v) {
              positive(s.extract, n, v, s.extract.maxPeaksPerFrame);
          }}},
        {"freqrange",
         {S::Extraction,
          [=](S& s, const std::string& n, const py::handle& v) {
              positive(s.extract, n, v, s.extract.freqRange);
          }}},
        {"timerange",
         {S::Extraction,
          [=](S& s, const std::string& n, const py::handle& v) {
              positive(s.extract, n, v, s.extract.timeRange);
          }}},
        {"decayperframe",
         {S::Extraction,
          [=](S& s, const std::string& n, const py::handle& v) {
              s.extract.decayPerFrame =
                  static_cast<float>(real(n, v, above0, "must be above 0 (dB per frame)"));
          }}},
        {"peakwidth",
         {S::Extraction,
          [=](S& s, const std::string& n, const py::handle& v) {
              s.extract.peakWidth =
                  static_cast<float>(real(n, v, above0, "must be above 0 (bins)"));
          }}},
        {"peakdynrange",
         {S::Extraction,
          [=](S& s, const std::string& n, const py::handle& v) {
              s.extract.peakDynRange =
                  static_cast<float>(real(n, v, above0, "must be above 0 (dB)"));
          }}},
        {"dbthreshold",
         {S::Extraction,
          [](S& s, const std::string& n, const py::handle& v) {
              s.extract.dbThreshold = static_cast<float>(real(
                  n, v, [](double x) { return x < 0.0; }, "must be below 0 (dB)"));
          }}},
        {"maxlandmarks",
         {S::Clustering,
          [](S& s, const std::string& n, const py::handle& v) {
              s.tuned.setMaxLandmarks(
                  static_cast<unsigned>(whole(n, v, 1, 0xFFFFFFFFll, "must be 1 or more")));
          }}},
        {"accepttreshold",
         {S::Clustering,
          [](S& s, const std::string& n, const py::handle& v) {
              s.tuned.setAcceptThreshold(
                  static_cast<unsigned>(whole(n, v, 0, 0xFFFFFFFFll, "must be 0 or more")));
          }}},
        {"mintemplatelength",
         {S::Clustering,
          [](S& s, const std::string& n, const py::handle& v) {
              s.tuned.setMinTemplateLength(static_cast<float>(real(
                  n, v, [](double x) { return x >= 0.0; }, "must be 0 or more (seconds)")));
          }}},
        {"minoverlaplength",
         {S::Clustering,
          [](S& s, const std::string& n, const py::handle& v) {
              s.tuned.setMinOverlapLength(static_cast<float>(real(
                  n, v, [](double x) { return x >= 0.0; }, "must be 0 or more (seconds)")));
          }}},
        {"minpercentmatch",
         {S::Clustering,
          [](S& s, const std::string& n, const py::handle& v) {
              s.tuned.setMinPercentMatch(static_cast<float>(real(
                  n, v, [](double x) { return x >= 0.0 && x <= 1.0; },
                  "must be a fraction from 0 to 1")));
          }}},
        {"match",
         {S::Matching,
          [](S& s, const std::string& n, const py::handle& v) {
              s.verified = word(n, v, {"spec", "verified"}) == "verified";
          }}},
        {"popularity",
         {S::Matching,
          [](S& s, const std::string& n, const py::handle& v) {
              s.perRecording = word(n, v, {"total", "recording"}) == "recording";
          }}},
        {"maxdrift",
         {S::Drift,
          [](S& s, const std::string& n, const py::handle& v) {
              s.maxDriftPpm = real(
                  n, v, [](double x) { return x >= 0.0 && x <= 2000.0; },
                  "must be from 0 to 2000 (ppm)");
          }}},
        {"j",
         {S::Threads,
          [](S& s, const std::string& n, const py::handle& v) {
              s.threads = static_cast<unsigned>(whole(n, v, 1, 1024, "must be from 1 to 1024"));
          }}},
        {"refine",
         {S::Refine,
          [](S& s, const std::string& n, const py::handle& v) { s.refine = flag(n, v); }}},
        {"refinerate",
         {S::Refinement,
          [](S& s, const std::string& n, const py::handle& v) {
              s.refineRate = static_cast<unsigned>(
                  whole(n, v, 1000, 384000, "must be a whole number of Hz from 1000 to 384000"));
          }}},
        {"media",
         {S::Files,
          [](S& s, const std::string& n, const py::handle& v) {
              s.allMedia = word(n, v, {"all", "wav"}) == "all";
          }}},
        {"stream",
         {S::Files,
          [](S& s, const std::string& n, const py::handle& v) {
              s.audioStream = static_cast<int>(whole(n, v, 1, 64, "must be from 1 to 64"));
          }}},
        {"recursive",
         {S::Files,
          [](S& s, const std::string& n, const py::handle& v) { s.recursive = flag(n, v); }}},
    };
    return settings;
}

}  // namespace

Settings::Settings(const py::dict& settings, unsigned groups) {
    for (const auto& item : settings) {
        const std::string name = py::str(item.first).cast<std::string>();
        const auto found = table().find(name);
        if (found == table().end() || (found->second.group & groups) == 0) {
            std::string known;
            for (const auto& [other, setting] : table()) {
                if ((setting.group & groups) != 0) {
                    known += (known.empty() ? "" : ", ") + other;
                }
            }
            throw py::value_error("unknown setting " + name + " (this call takes " + known + ")");
        }
        if (item.second.is_none()) {
            continue;  // None keeps the default
        }
        found->second.apply(*this, name, item.second);
        extractionGiven = extractionGiven || found->second.group == Extraction;
    }
    if (extract.getHopSize() > extract.getFftSize()) {
        throw py::value_error("setting hopsize=" + std::to_string(extract.getHopSize()) +
                              ": must be at most fftsize (" + std::to_string(extract.getFftSize()) +
                              "), or frames would skip sound between them");
    }
}

MCClusterSyncParams Settings::clusterParams(const MCExtractParams& from) const {
    return tuned.withExtraction(from);
}

Trelis::RunOptions Settings::runOptions() const {
    Trelis::RunOptions options;
    options.allMedia = allMedia;
    options.refineRate = refineRate;
    options.refine = refine;
    options.maxDriftPpm = maxDriftPpm;
    options.verified = verified;
    options.audioStream = audioStream;
    options.recursive = recursive;
    options.threads = threads;
    options.perRecording = perRecording;
    return options;
}

}  // namespace TrelisPython
