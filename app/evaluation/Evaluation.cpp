#include "evaluation/Evaluation.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <set>
#include <stdexcept>

namespace Trelis {

namespace {

std::runtime_error truthError(const std::string& path, const std::string& problem) {
    return std::runtime_error(path + ": " + problem);
}

// The value at fraction q of the sorted values, by nearest rank.
double percentile(const std::vector<double>& sorted, double q) {
    const auto rank = static_cast<std::size_t>(std::ceil(q * sorted.size()));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

OffsetErrors summarize(std::vector<double> errors) {
    OffsetErrors summary;
    summary.pairs = errors.size();
    if (!errors.empty()) {
        std::sort(errors.begin(), errors.end());
        summary.median = percentile(errors, 0.5);
        summary.p95 = percentile(errors, 0.95);
        summary.max = errors.back();
    }
    return summary;
}

void printErrors(const char* label, const OffsetErrors& errors) {
    std::cout << "offset error (ms), " << label << ": ";
    if (errors.pairs == 0) {
        std::cout << "no pair to measure" << std::endl;
        return;
    }
    std::cout << "median " << errors.median << " p95 " << errors.p95 << " max " << errors.max
              << " (" << errors.pairs << " pairs)" << std::endl;
}

}  // namespace

std::vector<TruthFile> readTruth(const std::string& path) {
    tinyxml2::XMLDocument document;
    if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        throw truthError(
            path, document.ErrorStr() != nullptr ? document.ErrorStr() : "cannot be read as XML");
    }
    const tinyxml2::XMLElement* root = document.RootElement();
    if (root == nullptr || std::string(root->Name()) != "truth") {
        throw truthError(path, "the root element must be <truth>");
    }
    std::vector<TruthFile> files;
    std::set<std::string> seen;
    int clusterIndex = 0;
    for (const tinyxml2::XMLElement* cluster = root->FirstChildElement(); cluster != nullptr;
         cluster = cluster->NextSiblingElement()) {
        if (std::string(cluster->Name()) != "cluster") {
            throw truthError(path, "line " + std::to_string(cluster->GetLineNum()) + ": <" +
                                       cluster->Name() + "> where a <cluster> belongs");
        }
        for (const tinyxml2::XMLElement* file = cluster->FirstChildElement(); file != nullptr;
             file = file->NextSiblingElement()) {
            const std::string line = "line " + std::to_string(file->GetLineNum());
            if (std::string(file->Name()) != "file") {
                throw truthError(path, line + ": <" + file->Name() + "> where a <file> belongs");
            }
            const char* name = file->Attribute("name");
            if (name == nullptr || *name == '\0') {
                throw truthError(path, line + ": a <file> without a name");
            }
            if (!seen.insert(name).second) {
                throw truthError(path, line + ": " + name + " is listed twice");
            }
            TruthFile entry{name, clusterIndex, std::nullopt};
            if (file->Attribute("offset") != nullptr) {
                double offset = 0.0;
                if (file->QueryDoubleAttribute("offset", &offset) != tinyxml2::XML_SUCCESS ||
                    !std::isfinite(offset)) {
                    throw truthError(path, line + ": the offset of " + entry.name +
                                               " is not a number of seconds");
                }
                entry.offset = offset;
            }
            if (file->Attribute("drift") != nullptr) {
                double ppm = 0.0;
                if (file->QueryDoubleAttribute("drift", &ppm) != tinyxml2::XML_SUCCESS ||
                    !std::isfinite(ppm)) {
                    throw truthError(
                        path, line + ": the drift of " + entry.name + " is not a number of ppm");
                }
                entry.drift = ppm * 1e-6;
            }
            files.push_back(entry);
        }
        ++clusterIndex;
    }
    return files;
}

Evaluation evaluate(const std::vector<TruthFile>& truth, const std::vector<FoundFile>& found) {
    Evaluation e;
    e.inTruth = truth.size();
    e.clustered = found.size();
    std::map<std::string, const TruthFile*> truthByName;
    for (const TruthFile& t : truth) {
        truthByName[t.name] = &t;
    }
    std::vector<std::pair<const TruthFile*, const FoundFile*>> scored;
    std::set<std::string> foundNames;
    for (const FoundFile& f : found) {
        foundNames.insert(f.name);
        const auto t = truthByName.find(f.name);
        if (t == truthByName.end()) {
            e.notInTruth.push_back(f.name);
        } else {
            scored.emplace_back(t->second, &f);
        }
    }
    for (const TruthFile& t : truth) {
        if (foundNames.count(t.name) == 0) {
            e.notClustered.push_back(t.name);
        }
    }
    e.scored = scored.size();

    std::vector<double> frameErrors, refinedErrors;
    std::set<int> trueClusters, foundClusters;
    for (std::size_t i = 0; i < scored.size(); ++i) {
        trueClusters.insert(scored[i].first->cluster);
        foundClusters.insert(scored[i].second->cluster);
        for (std::size_t j = i + 1; j < scored.size(); ++j) {
            const auto& [ti, fi] = scored[i];
            const auto& [tj, fj] = scored[j];
            const bool together = ti->cluster == tj->cluster;
            const bool placed = fi->cluster == fj->cluster;
            e.together += together && placed;
            e.onlyInResult += !together && placed;
            e.onlyInTruth += together && !placed;
            if (together && placed && ti->offset && tj->offset) {
                const double want = *ti->offset - *tj->offset;
                frameErrors.push_back(1000.0 * std::fabs(fi->frameOffset - fj->frameOffset - want));
                const auto reference = truthByName.find(fi->reference);
                const double clock =
                    reference != truthByName.end() ? 1.0 + reference->second->drift : 1.0;
                refinedErrors.push_back(
                    1000.0 * std::fabs(fi->refinedOffset - fj->refinedOffset - want * clock));
            }
        }
    }
    e.trueClusters = trueClusters.size();
    e.foundClusters = foundClusters.size();
    const auto ratio = [](std::size_t a, std::size_t b) {
        return b == 0 ? 1.0 : static_cast<double>(a) / static_cast<double>(b);
    };
    e.precision = ratio(e.together, e.together + e.onlyInResult);
    e.recall = ratio(e.together, e.together + e.onlyInTruth);
    e.f1 = e.precision + e.recall > 0.0 ? 2.0 * e.precision * e.recall / (e.precision + e.recall)
                                        : 0.0;
    e.frameAccurate = summarize(std::move(frameErrors));
    e.refined = summarize(std::move(refinedErrors));
    return e;
}

void printEvaluation(const Evaluation& e, const std::string& truthPath) {
    for (const std::string& name : e.notInTruth) {
        std::cerr << "[WARNING]: " << name << " is not in " << truthPath
                  << "; it is left out of the evaluation" << std::endl;
    }
    for (const std::string& name : e.notClustered) {
        std::cerr << "[WARNING]: " << truthPath << " names " << name
                  << ", which is not among the recordings clustered; it is left out of the "
                     "evaluation"
                  << std::endl;
    }
    const auto flags = std::cout.flags();
    const auto precisionDigits = std::cout.precision();
    std::cout << std::fixed << std::setprecision(3);
    std::cout << "EVALUATION" << std::endl;
    std::cout << "files scored: " << e.scored << " (in the truth: " << e.inTruth
              << ", clustered: " << e.clustered << ")" << std::endl;
    std::cout << "clusters: true " << e.trueClusters << ", found " << e.foundClusters << std::endl;
    std::cout << "pairwise precision: " << e.precision << " recall: " << e.recall << " F1: " << e.f1
              << " (together in both: " << e.together << ", only in the result: " << e.onlyInResult
              << ", only in the truth: " << e.onlyInTruth << ")" << std::endl;
    printErrors("frame-accurate", e.frameAccurate);
    printErrors("refined", e.refined);
    std::cout.flags(flags);
    std::cout.precision(precisionDigits);
}

}  // namespace Trelis
