#include "results/JsonWriter.h"

#include <algorithm>
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

// `value` to two significant digits: an error estimate is itself known no better.
double twoDigits(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) {
        return value;
    }
    const double scale = std::pow(10.0, 1.0 - std::floor(std::log10(value)));
    return std::round(value * scale) / scale;
}

// `value` rounded to the decimal of the first significant digit of its error, at most three
// decimals: 21.37 +- 0.4 is written 21.4.
double toItsError(double value, double error) {
    int decimals = 3;
    if (error > 0.0 && std::isfinite(error)) {
        decimals = std::clamp(static_cast<int>(-std::floor(std::log10(error))), 0, 3);
    }
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

const char* statusName(MemberAlignment::Status status) {
    switch (status) {
        case MemberAlignment::Status::Reference:
            return "reference";
        case MemberAlignment::Status::Refined:
            return "refined";
        case MemberAlignment::Status::Grouped:
            return "grouped";
        case MemberAlignment::Status::Unrefined:
            break;
    }
    return "unrefined";
}

Json memberJson(const ReportMember& m, const std::string& name) {
    const MemberAlignment& a = m.alignment;
    Json out = {{"id", m.id},
                {"name", name},
                {"offset", microseconds(m.offset)},
                {"refinedOffset", microseconds(m.refined)},
                {"status", statusName(a.status)}};
    if (a.status == MemberAlignment::Status::Unrefined) {
        out["reason"] = describe(a.reason);
        out["driftPpm"] = nullptr;
        out["confidence"] = 0.0;
        out["offsetError"] = nullptr;
        return out;
    }
    if (a.status == MemberAlignment::Status::Grouped) {
        out["reason"] = describe(a.reason);
        out["groupReference"] = a.groupReference;
    }
    out["driftPpm"] = a.driftMeasured ? Json(toItsError(a.driftPpm, a.driftError)) : Json();
    out["driftPpmError"] = a.driftMeasured ? Json(twoDigits(a.driftError)) : Json();
    out["confidence"] = std::round(a.confidence * 1e3) / 1e3;
    out["offsetError"] = twoDigits(a.offsetError);
    return out;
}

Json alignmentJson(const PairAlignment& p) {
    Json out = {{"first", p.first},
                {"second", p.second},
                {"status", p.used ? "used" : (p.measured ? "outlier" : "failed")},
                {"windows", p.windows},
                {"agreeing", p.agreeing}};
    if (!p.used) {
        out["reason"] = describe(p.reason);
    }
    if (p.measured) {
        out["offset"] = microseconds(p.offset);
        out["offsetError"] = twoDigits(p.offsetError);
        const bool drift = std::isfinite(p.driftError);
        out["driftPpm"] = drift ? Json(toItsError(p.driftPpm, p.driftError)) : Json();
        out["driftPpmError"] = drift ? Json(twoDigits(p.driftError)) : Json();
        out["confidence"] = std::round(p.confidence * 1e3) / 1e3;
    }
    return out;
}

// A verified pair: where and how surely the audio placed it, and how its votes stood out.
Json verifiedJson(const PairMatch& m) {
    const PairAlignment& a = m.alignment;
    Json out = {{"first", m.first},
                {"second", m.second},
                {"offset", microseconds(a.offset)},
                {"offsetError", twoDigits(a.offsetError)}};
    const bool drift = std::isfinite(a.driftError);
    out["driftPpm"] = drift ? Json(toItsError(a.driftPpm, a.driftError)) : Json();
    out["driftPpmError"] = drift ? Json(twoDigits(a.driftError)) : Json();
    out["votes"] = m.votes;
    out["chanceVotes"] = twoDigits(m.chanceVotes);
    out["surprise"] = std::round(m.surprise * 10.0) / 10.0;
    out["windows"] = a.windows;
    out["agreeing"] = a.agreeing;
    out["strength"] = std::round(a.strength * 10.0) / 10.0;
    out["confidence"] = std::round(a.confidence * 1e3) / 1e3;
    return out;
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
    out["refine"] = report.refine;
    out["maxDriftPpm"] = report.maxDriftPpm;
    out["driftCorrect"] = report.driftCorrect;
    out["match"] = report.verified ? "verified" : "spec";
    out["popularity"] = report.perRecording ? "recording" : "total";
    return out;
}

// Errors in milliseconds, null without a pair to measure.
Json errorsJson(const OffsetErrors& errors) {
    if (errors.pairs == 0) {
        return {{"pairs", 0}, {"median", nullptr}, {"p95", nullptr}, {"max", nullptr}};
    }
    return {{"pairs", errors.pairs},
            {"median", errors.median},
            {"p95", errors.p95},
            {"max", errors.max}};
}

Json evaluationJson(const Evaluation& e) {
    return {{"filesScored", e.scored},
            {"filesInTruth", e.inTruth},
            {"filesClustered", e.clustered},
            {"trueClusters", e.trueClusters},
            {"foundClusters", e.foundClusters},
            {"precision", e.precision},
            {"recall", e.recall},
            {"f1", e.f1},
            {"pairsTogether", e.together},
            {"pairsOnlyInResult", e.onlyInResult},
            {"pairsOnlyInTruth", e.onlyInTruth},
            {"offsetErrorMs",
             {{"frameAccurate", errorsJson(e.frameAccurate)}, {"refined", errorsJson(e.refined)}}},
            {"notInTruth", e.notInTruth},
            {"notClustered", e.notClustered}};
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
        if (file.info.audioStreams > 0) {  // media: which of its audio streams was taken
            entry["audioStream"] = file.info.audioStream;
            entry["audioStreams"] = file.info.audioStreams;
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
            members.push_back(memberJson(m, names[m.id]));
        }
        Json pairs = Json::array();
        for (const PairMatch& m : cluster.linked) {
            pairs.push_back(verifiedJson(m));
        }
        for (const ReportPair& p : cluster.pairs) {
            pairs.push_back({{"first", p.first},
                             {"second", p.second},
                             {"offset", microseconds(p.offset)},
                             {"matches", p.matches},
                             {"overlap", microseconds(p.overlap)},
                             {"templateLength", microseconds(p.templateLength)},
                             {"confidence", std::round(p.confidence * 1e4) / 1e4}});
        }
        Json alignments = Json::array();
        for (const PairAlignment& p : cluster.alignments) {
            alignments.push_back(alignmentJson(p));
        }
        clusters.push_back(
            {{"reference", cluster.reference >= 0 ? Json(cluster.reference) : Json()},
             {"members", std::move(members)},
             {"pairs", std::move(pairs)},
             {"alignments", std::move(alignments)}});
    }
    root["clusters"] = std::move(clusters);
    root["unmatched"] = report.unmatched;
    if (report.verified) {
        // Pairs whose sound agreed at two offsets alike: left unlinked rather than guessed.
        Json ambiguous = Json::array();
        for (const PairMatch& m : report.ambiguous) {
            Json entry = verifiedJson(m);
            entry["rivalOffset"] = microseconds(m.rival.offset);
            entry["rivalStrength"] = std::round(m.rival.strength * 10.0) / 10.0;
            ambiguous.push_back(std::move(entry));
        }
        root["ambiguous"] = std::move(ambiguous);
    }
    if (report.evaluation) {
        root["evaluation"] = evaluationJson(*report.evaluation);
    }
    out << root.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace Trelis
