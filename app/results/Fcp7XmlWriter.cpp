#include "results/Fcp7XmlWriter.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "results/TextEncoding.h"
#include "results/TimelinePlacement.h"

namespace Trelis {

namespace {

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

}  // namespace

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
