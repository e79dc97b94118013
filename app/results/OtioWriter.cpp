#include "results/OtioWriter.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "results/TextEncoding.h"
#include "results/TimelinePlacement.h"

namespace Trelis {

namespace {

using Json = nlohmann::ordered_json;

Json rationalTime(long long value, double rate) {
    return {
        {"OTIO_SCHEMA", "RationalTime.1"}, {"rate", rate}, {"value", static_cast<double>(value)}};
}

Json timeRange(long long start, long long duration, double rate) {
    return {{"OTIO_SCHEMA", "TimeRange.1"},
            {"duration", rationalTime(duration, rate)},
            {"start_time", rationalTime(start, rate)}};
}

// The fields every OTIO object carries: its schema, metadata and name.
Json item(const char* schema, const std::string& name) {
    return {{"OTIO_SCHEMA", schema}, {"metadata", Json::object()}, {"name", name}};
}

// A timeline item (stack, track, gap, clip): an object with a source range, no effects or
// markers, enabled.
Json composable(const char* schema, const std::string& name, Json sourceRange) {
    Json out = item(schema, name);
    out["source_range"] = std::move(sourceRange);
    out["effects"] = Json::array();
    out["markers"] = Json::array();
    out["enabled"] = true;
    return out;
}

// A member's track: sound timed in samples, picture in frames of its own rate, as importers
// take each kind.
Json otioTrack(const InputFile& file, double offset, bool video) {
    const double rate = video ? videoRate(file.info) : file.info.sampleRate;
    const long long length =
        video ? std::llround(pictureSeconds(file.info) * rate) : file.info.frames;
    const std::string name = cleanName(file.name);
    Json track = composable("Track.1", name, nullptr);
    track["kind"] = video ? "Video" : "Audio";
    Json children = Json::array();
    const long long lead = std::llround(offset * rate);
    if (lead > 0) {
        children.push_back(composable("Gap.1", "", timeRange(0, lead, rate)));
    }
    Json reference = item("ExternalReference.1", name);
    reference["available_range"] = timeRange(0, length, rate);
    reference["target_url"] = fileUrl(absolutePath(file.path), "");
    Json clip = composable("Clip.1", name, timeRange(0, length, rate));
    clip["media_reference"] = std::move(reference);
    children.push_back(std::move(clip));
    track["children"] = std::move(children);
    return track;
}

}  // namespace

void writeOtio(const RunReport& report, double fps, std::ostream& out) {
    Json timelines = Json::array();
    int index = 0;
    for (const ReportCluster& cluster : report.clusters) {
        Json tracks = Json::array();
        // Importers take the project's frame rate from the timeline's start time: the first
        // camera's, or the one asked for when no member has video.
        double rate = 0.0;
        for (const auto& [file, offset] : placeable(report, cluster)) {
            if (videoRate(file->info) > 0.0) {
                rate = rate > 0.0 ? rate : videoRate(file->info);
                tracks.push_back(otioTrack(*file, offset, true));
            }
            tracks.push_back(otioTrack(*file, offset, false));
        }
        Json stack = composable("Stack.1", "tracks", nullptr);
        stack["children"] = std::move(tracks);
        Json timeline = item("Timeline.1", "cluster " + std::to_string(++index));
        timeline["global_start_time"] = rationalTime(0, rate > 0.0 ? rate : fps);
        timeline["tracks"] = std::move(stack);
        timelines.push_back(std::move(timeline));
    }
    // One cluster is one plain timeline, which every importer opens; several are collected.
    Json document;
    if (timelines.size() == 1) {
        document = std::move(timelines.front());
    } else {
        document = item("SerializableCollection.1", "Trelis");
        document["children"] = std::move(timelines);
    }
    out << document.dump(4, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace Trelis
