#include "results/TimelinePlacement.h"

namespace Trelis {

namespace {

const InputFile* fileById(const RunReport& report, int id) {
    for (const InputFile& file : report.files) {
        if (file.id == id) {
            return &file;
        }
    }
    return nullptr;
}

}  // namespace

double videoRate(const RecordingInfo& info) {
    return info.hasVideo && info.frameRateNum > 0 && info.frameRateDen > 0
               ? static_cast<double>(info.frameRateNum) / info.frameRateDen
               : 0.0;
}

double pictureSeconds(const RecordingInfo& info) {
    return info.videoSeconds > 0.0 ? info.videoSeconds
                                   : static_cast<double>(info.frames) / info.sampleRate;
}

std::vector<std::pair<const InputFile*, double>> placeable(const RunReport& report,
                                                           const ReportCluster& cluster) {
    std::vector<std::pair<const InputFile*, double>> members;
    for (const ReportMember& m : cluster.members) {
        const InputFile* file = fileById(report, m.id);
        if (file != nullptr && file->info.sampleRate > 0) {
            members.emplace_back(file, m.refined);
        }
    }
    return members;
}

}  // namespace Trelis
