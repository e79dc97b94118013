// The application's analysis of a folder called directly, as the program makes it of the folder
// and its options, for the tests of what the program does with its result. Header-only: only the
// application's test program links the application.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>

#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "results/Fcp7XmlWriter.h"
#include "results/JsonWriter.h"
#include "results/OtioWriter.h"
#include "results/RunReport.h"
#include "run/Analysis.h"
#include "run/FolderContents.h"

namespace TrelisTest {

// What the program reports of `folder` run with `options` and default tuning; what the run
// prints goes to `printed` (dropped when null).
inline Trelis::RunReport analyseFolder(const std::string& folder,
                                       const Trelis::RunOptions& options = {},
                                       std::string* printed = nullptr) {
    Trelis::FolderContents contents;
    std::string error;
    if (!Trelis::readFolder(folder, options, contents, error)) {
        throw std::runtime_error(error);
    }
    const Trelis::MCExtractParams extract;
    const Trelis::RunRequest request{folder, contents.paths, extract,
                                     Trelis::MCClusterSyncParams(extract), options};
    testing::internal::CaptureStdout();
    Trelis::RunReport report = Trelis::analyse(request, nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed != nullptr) {
        *printed = out;
    }
    return report;
}

// Every clustered member's refined offset, by its name in the reports.
inline std::map<std::string, double> refinedByName(const Trelis::RunReport& report) {
    std::map<std::string, double> offsets;
    for (const Trelis::ReportCluster& cluster : report.clusters) {
        for (const Trelis::ReportMember& m : cluster.members) {
            offsets[report.files.at(static_cast<std::size_t>(m.id - 1)).name] = m.refined;
        }
    }
    return offsets;
}

// The result files' text, as the program writes them of `report`; `fps` is -fps.
inline nlohmann::json jsonOf(const Trelis::RunReport& report) {
    std::ostringstream out;
    Trelis::writeJsonReport(report, out);
    return nlohmann::json::parse(out.str());
}
inline std::string otioOf(const Trelis::RunReport& report, double fps = 25.0) {
    std::ostringstream out;
    Trelis::writeOtio(report, fps, out);
    return out.str();
}
inline std::string fcp7XmlOf(const Trelis::RunReport& report, double fps = 25.0) {
    std::ostringstream out;
    Trelis::writeFcp7Xml(report, fps, out);
    return out.str();
}

}  // namespace TrelisTest
