#include "JsonReport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace Trelis {

namespace {

using Json = nlohmann::ordered_json;

double microseconds(double seconds) {
    return std::round(seconds * 1e6) / 1e6;
}

// A float setting as the double written the way it was given (0.2, not 0.20000000298023224).
double shortest(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
    return std::strtod(text, nullptr);
}

Json settings(const RunReport& report) {
    MCExtractParams extract = report.extract;  // getMaxPairsPerPeak is not const
    const MCClusterSyncParams& cluster = report.cluster;
    Json out;
    out["extraction"] = {{"sampleRate", extract.getSampleRate()},
                         {"fftSize", extract.getFftSize()},
                         {"hopSize", extract.getHopSize()},
                         {"maxPairsPerPeak", extract.getMaxPairsPerPeak()},
                         {"maxPeaksPerFrame", extract.maxPeaksPerFrame},
                         {"freqRange", extract.freqRange},
                         {"timeRange", extract.timeRange},
                         {"initThresholdFrames", extract.initThresholdFrames},
                         {"dbThreshold", shortest(extract.dbThreshold)},
                         {"decayPerFrame", shortest(extract.decayPerFrame)},
                         {"peakWidth", shortest(extract.peakWidth)},
                         {"peakDynRange", shortest(extract.peakDynRange)}};
    out["clustering"] = {{"maxLandmarks", cluster.getMaxLandmarks()},
                         {"acceptThreshold", cluster.getAcceptThreshold()},
                         {"minTemplateLength", shortest(cluster.getMinTemplateLength())},
                         {"minOverlapLength", shortest(cluster.getMinOverlapLength())},
                         {"minPercentMatch", shortest(cluster.getMinPercentMatch())}};
    out["media"] = report.allMedia ? "all" : "wav";
    out["refineRate"] = report.refineRate != 0 ? report.refineRate : extract.getSampleRate();
    return out;
}

}  // namespace

void writeJsonReport(const RunReport& report, std::ostream& out) {
    Json root;
    root["version"] = TRELIS_VERSION;
    root["settings"] = settings(report);
    std::map<int, std::string> names;
    Json files = Json::array();
    for (const InputFile& file : report.files) {
        names[file.id] = file.name;
        Json entry = {{"id", file.id}, {"path", file.path}, {"name", file.name}};
        if (file.info.sampleRate > 0) {
            entry["duration"] =
                microseconds(static_cast<double>(file.info.frames) / file.info.sampleRate);
        } else {
            entry["duration"] = nullptr;
        }
        entry["status"] = file.error.empty() ? "ok" : "error";
        if (!file.error.empty()) {
            entry["message"] = file.error;
        }
        files.push_back(std::move(entry));
    }
    root["files"] = std::move(files);
    Json clusters = Json::array();
    for (const ReportCluster& cluster : report.clusters) {
        Json members = Json::array();
        for (const ReportMember& m : cluster.members) {
            members.push_back({{"id", m.id},
                               {"name", names[m.id]},
                               {"offset", microseconds(m.offset)},
                               {"refinedOffset", microseconds(m.refined)}});
        }
        Json pairs = Json::array();
        for (const ReportPair& p : cluster.pairs) {
            pairs.push_back({{"first", p.first},
                             {"second", p.second},
                             {"offset", microseconds(p.offset)},
                             {"matches", p.matches},
                             {"overlap", microseconds(p.overlap)},
                             {"templateLength", microseconds(p.templateLength)},
                             {"confidence", std::round(p.confidence * 1e4) / 1e4}});
        }
        clusters.push_back({{"members", std::move(members)}, {"pairs", std::move(pairs)}});
    }
    root["clusters"] = std::move(clusters);
    root["unmatched"] = report.unmatched;
    out << root.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace Trelis
