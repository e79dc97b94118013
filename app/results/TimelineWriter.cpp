#include "results/TimelineWriter.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

namespace Trelis {

namespace {

using Json = nlohmann::ordered_json;

const InputFile* fileById(const RunReport& report, int id) {
    for (const InputFile& file : report.files) {
        if (file.id == id) {
            return &file;
        }
    }
    return nullptr;
}

std::string absolutePath(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    return absolute.lexically_normal().string();
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Length of a valid UTF-8 sequence starting at `p` (at most `left` bytes), 0 when invalid.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    if (p[0] < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned int code = 0;
    if ((p[0] & 0xE0) == 0xC0) {
        length = 2;
        code = p[0] & 0x1F;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3;
        code = p[0] & 0x0F;
    } else if ((p[0] & 0xF8) == 0xF0) {
        length = 4;
        code = p[0] & 0x07;
    } else {
        return 0;
    }
    if (length > left) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (p[i] & 0x3F);
    }
    static const unsigned int smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;  // overlong, beyond Unicode, or a surrogate
    }
    return length;
}

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

// The video frame rate of a recording, 0 when it has none or it is unknown.
double videoRate(const RecordingInfo& info) {
    return info.hasVideo && info.frameRateNum > 0 && info.frameRateDen > 0
               ? static_cast<double>(info.frameRateNum) / info.frameRateDen
               : 0.0;
}

// How long a recording's picture lasts: its video stream's own length where it states one (it can
// end a few frames before or after the sound), else the sound's.
double pictureSeconds(const RecordingInfo& info) {
    return info.videoSeconds > 0.0 ? info.videoSeconds
                                   : static_cast<double>(info.frames) / info.sampleRate;
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

// A frame rate as xmeml states it: a whole timebase, NTSC when it runs 1000/1001 slower.
struct XmlRate {
    int timebase;
    bool ntsc;
    double framesPerSecond() const { return ntsc ? timebase * 1000.0 / 1001.0 : timebase; }
};

XmlRate xmlRate(double fps) {
    const int whole = std::max(1, static_cast<int>(std::lround(fps)));
    const bool ntsc =
        std::fabs(fps - whole * 1000.0 / 1001.0) < 0.005 && std::fabs(fps - whole) > 0.005;
    return {whole, ntsc};
}

void pushRate(tinyxml2::XMLPrinter& xml, const XmlRate& rate) {
    xml.OpenElement("rate");
    xml.OpenElement("timebase");
    xml.PushText(rate.timebase);
    xml.CloseElement();
    xml.OpenElement("ntsc");
    xml.PushText(rate.ntsc ? "TRUE" : "FALSE");
    xml.CloseElement();
    xml.CloseElement();
}

void pushValue(tinyxml2::XMLPrinter& xml, const char* name, long long value) {
    xml.OpenElement(name);
    xml.PushText(static_cast<int64_t>(value));
    xml.CloseElement();
}

// The picture of a video: its rate and, when known, its size.
void pushPicture(tinyxml2::XMLPrinter& xml, const RecordingInfo& info, const XmlRate& rate) {
    xml.OpenElement("samplecharacteristics");
    pushRate(xml, rate);
    if (info.width > 0 && info.height > 0) {
        pushValue(xml, "width", info.width);
        pushValue(xml, "height", info.height);
    }
    xml.CloseElement();
}

void pushText(tinyxml2::XMLPrinter& xml, const char* name, const std::string& text) {
    xml.OpenElement(name);
    xml.PushText(text.c_str());
    xml.CloseElement();
}

// Every track says it is on and unlocked: importers index these elements without checking them.
void pushTrackState(tinyxml2::XMLPrinter& xml) {
    pushText(xml, "enabled", "TRUE");
    pushText(xml, "locked", "FALSE");
}

// A clip item that belongs with another, the picture and the sound of one camera: editors move
// and trim them together.
struct ClipLink {
    int clip;  // clip item number
    bool audio;
    int track;  // 1-based, among the sequence's tracks of its kind
};

// One clip item; the file is described in full where it first appears, referred to after, at
// its own frame rate.
void pushClip(tinyxml2::XMLPrinter& xml, const InputFile& file, double offset, const XmlRate& rate,
              bool audio, int clip, const std::vector<ClipLink>& links,
              std::map<int, bool>& described) {
    const double sound = static_cast<double>(file.info.frames) / file.info.sampleRate;
    const double picture = pictureSeconds(file.info);
    const long long length = std::llround((audio ? sound : picture) * rate.framesPerSecond());
    const long long start = std::llround(offset * rate.framesPerSecond());
    const std::string fileId = "file-" + std::to_string(file.id);
    const XmlRate own = videoRate(file.info) > 0.0 ? xmlRate(videoRate(file.info)) : rate;
    // A camera file lasts as long as its picture, a sound file as its sound.
    const long long ownLength =
        std::llround((file.info.hasVideo ? picture : sound) * own.framesPerSecond());
    xml.OpenElement("clipitem");
    xml.PushAttribute("id", ("clipitem-" + std::to_string(clip)).c_str());
    pushText(xml, "name", cleanName(file.name));
    pushValue(xml, "duration", length);
    pushRate(xml, rate);
    pushValue(xml, "start", start);
    pushValue(xml, "end", start + length);
    pushValue(xml, "in", 0);
    pushValue(xml, "out", length);
    xml.OpenElement("file");
    xml.PushAttribute("id", fileId.c_str());
    if (!described[file.id]) {
        described[file.id] = true;
        pushText(xml, "name", cleanName(fileNameOf(file.path)));
        pushText(xml, "pathurl", fileUrl(absolutePath(file.path), "localhost"));
        pushRate(xml, own);
        pushValue(xml, "duration", ownLength);
        xml.OpenElement("media");
        if (file.info.hasVideo) {
            xml.OpenElement("video");
            pushValue(xml, "duration", ownLength);
            pushPicture(xml, file.info, own);
            xml.CloseElement();
        }
        xml.OpenElement("audio");
        xml.OpenElement("samplecharacteristics");
        // Compressed sound states no depth; editors decode it to 16 bits.
        pushValue(xml, "depth", file.info.bitDepth > 0 ? file.info.bitDepth : 16);
        pushValue(xml, "samplerate", file.info.sampleRate);
        xml.CloseElement();
        pushValue(xml, "channelcount", file.info.channels);
        xml.CloseElement();
        xml.CloseElement();  // media
    }
    xml.CloseElement();  // file
    if (audio) {
        xml.OpenElement("sourcetrack");
        pushText(xml, "mediatype", "audio");
        pushValue(xml, "trackindex", 1);
        xml.CloseElement();
    }
    for (const ClipLink& link : links) {
        xml.OpenElement("link");
        pushText(xml, "linkclipref", "clipitem-" + std::to_string(link.clip));
        pushText(xml, "mediatype", link.audio ? "audio" : "video");
        pushValue(xml, "trackindex", link.track);
        pushValue(xml, "clipindex", 1);
        xml.CloseElement();
    }
    xml.CloseElement();  // clipitem
}

// The sequence starts at timecode 00:00:00:00 of its own rate.
void pushTimecode(tinyxml2::XMLPrinter& xml, const XmlRate& rate) {
    xml.OpenElement("timecode");
    pushRate(xml, rate);
    pushText(xml, "string", "00:00:00:00");
    pushValue(xml, "frame", 0);
    pushText(xml, "displayformat", "NDF");
    xml.CloseElement();
}

// The members of a cluster that can be placed: taken, described, with a sample rate.
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

}  // namespace

std::string cleanName(const std::string& text) {
    std::string clean;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(bytes + i, text.size() - i);
        if (length == 0) {
            clean += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        } else {
            if (length > 1 || (bytes[i] >= 0x20 && bytes[i] != 0x7F)) {
                clean.append(text, i, length);
            }
            i += length;
        }
    }
    return clean;
}

std::string fileUrl(const std::string& absolutePath, const std::string& host) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://" + host;
    for (const unsigned char c : absolutePath) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

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

void writeFcp7Xml(const RunReport& report, double fps, std::ostream& out) {
    tinyxml2::XMLPrinter xml;
    xml.PushDeclaration("xml version=\"1.0\" encoding=\"UTF-8\"");
    xml.PushUnknown("DOCTYPE xmeml");
    xml.OpenElement("xmeml");
    xml.PushAttribute("version", "4");
    xml.OpenElement("project");
    pushText(xml, "name", "Trelis");
    xml.OpenElement("children");
    int index = 0;
    int clipCount = 0;
    std::map<int, bool> described;
    for (const ReportCluster& cluster : report.clusters) {
        const auto members = placeable(report, cluster);
        XmlRate rate = xmlRate(fps);
        RecordingInfo picture;  // of the first member with video
        for (const auto& member : members) {
            const RecordingInfo& info = member.first->info;
            if (info.hasVideo && info.frameRateNum > 0) {
                rate = xmlRate(static_cast<double>(info.frameRateNum) / info.frameRateDen);
                picture = info;
                break;
            }
        }
        long long end = 0;
        for (const auto& [file, offset] : members) {
            double seconds = static_cast<double>(file->info.frames) / file->info.sampleRate;
            if (file->info.hasVideo) {
                seconds = std::max(seconds, pictureSeconds(file->info));
            }
            end = std::max(end, std::llround(offset * rate.framesPerSecond()) +
                                    std::llround(seconds * rate.framesPerSecond()));
        }
        xml.OpenElement("sequence");
        xml.PushAttribute("id", ("sequence-" + std::to_string(++index)).c_str());
        pushText(xml, "name", "cluster " + std::to_string(index));
        pushValue(xml, "duration", end);
        pushRate(xml, rate);
        pushTimecode(xml, rate);
        // Clip numbers: the video tracks' first, then the audio tracks', one clip each.
        std::vector<int> videoTrack(members.size(), 0);
        int videoTracks = 0;
        for (std::size_t k = 0; k < members.size(); ++k) {
            videoTrack[k] = members[k].first->info.hasVideo ? ++videoTracks : 0;
        }
        const auto linksOf = [&](std::size_t k) {
            std::vector<ClipLink> links;
            if (videoTrack[k] > 0) {
                links.push_back({clipCount + videoTrack[k], false, videoTrack[k]});
                links.push_back({clipCount + videoTracks + static_cast<int>(k) + 1, true,
                                 static_cast<int>(k) + 1});
            }
            return links;
        };
        xml.OpenElement("media");
        xml.OpenElement("video");
        xml.OpenElement("format");
        pushPicture(xml, picture, rate);
        xml.CloseElement();
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (videoTrack[k] > 0) {
                xml.OpenElement("track");
                pushClip(xml, *members[k].first, members[k].second, rate, false,
                         clipCount + videoTrack[k], linksOf(k), described);
                pushTrackState(xml);
                xml.CloseElement();
            }
        }
        xml.CloseElement();  // video
        xml.OpenElement("audio");
        for (std::size_t k = 0; k < members.size(); ++k) {
            xml.OpenElement("track");
            pushClip(xml, *members[k].first, members[k].second, rate, true,
                     clipCount + videoTracks + static_cast<int>(k) + 1, linksOf(k), described);
            pushTrackState(xml);
            xml.CloseElement();
        }
        clipCount += videoTracks + static_cast<int>(members.size());
        xml.CloseElement();  // audio
        xml.CloseElement();  // media
        xml.CloseElement();  // sequence
    }
    xml.CloseElement();  // children
    xml.CloseElement();  // project
    xml.CloseElement();  // xmeml
    out << xml.CStr();
}

}  // namespace Trelis
