// Trelis on a folder of camera files: one event filmed as MP4 with video, recorded as a 48 kHz
// WAVE file and as MP3, beside files that are not media. Run as a user would where the printed
// report, the notes or the -o folders are checked; the analysis and the writers called directly
// where only the result is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include <tinyxml2.h>

#include "support/AppRun.h"
#include "support/Process.h"
#include "synth/Synth.h"
#include "wavfile_t.h"

using TrelisTest::analyseFolder;
using TrelisTest::contains;
using TrelisTest::ffmpeg;
using TrelisTest::jsonOf;
using TrelisTest::Outcome;
using TrelisTest::refinedByName;
using TrelisTest::refinedOffsets;
using TrelisTest::TempDir;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

class CameraFolder : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir.path("in"));
        const auto event = TrelisSynth::musicLike(11, 45.0, 48000);
        const auto take = [&](const char* name, double start, std::uint32_t seed) {
            const TrelisSynth::Device device{name, start, 30.0, 0.7, 0.01, 0.0};
            return TrelisSynth::record(event, device, seed, 48000);
        };
        // The camera: stereo AAC beside a video track.
        TrelisSynth::writeWav(dir.path("camera.wav"), take("camera", 2.0, 1), 48000);
        ASSERT_TRUE(ffmpeg("-i " + dir.path("camera.wav") +
                           " -f lavfi -i color=c=gray:s=64x48:r=25:d=30 -ac 2 -c:a aac -b:a 128k "
                           "-c:v mpeg4 -shortest " +
                           dir.path("in/camera.mp4")));
        TrelisSynth::writeWav(dir.path("in/recorder.wav"), take("recorder", 9.5, 2), 48000);
        TrelisSynth::writeWav(dir.path("phone.wav"), take("phone", 13.25, 3), 48000);
        ASSERT_TRUE(ffmpeg("-i " + dir.path("phone.wav") + " -ar 44100 -c:a libmp3lame " +
                           dir.path("in/phone.mp3")));
        std::ofstream(dir.path("in/notes.txt")) << "shot list\n";
        std::ofstream(dir.path("in/._camera.mp4")) << "resource fork";
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=blue:s=64x48:r=25:d=2 -c:v mpeg4 " +
                           dir.path("in/broll.mp4")));
    }
    Outcome trelis(const std::vector<std::string>& args) {
        return TrelisTest::run(TRELIS_APP, args, dir);
    }
    TempDir dir;
};

// The analysis of every media file of `folder`, as -media all makes it.
Trelis::RunReport analyseMedia(const std::string& folder, Trelis::RunOptions options = {}) {
    options.allMedia = true;
    return analyseFolder(folder, options);
}

// The FCP7 XML of `report`, parsed into `xml`; its first sequence.
const tinyxml2::XMLElement* firstSequence(const Trelis::RunReport& report, double fps,
                                          tinyxml2::XMLDocument& xml) {
    EXPECT_EQ(xml.Parse(TrelisTest::fcp7XmlOf(report, fps).c_str()), tinyxml2::XML_SUCCESS);
    return xml.FirstChildElement("xmeml")
        ->FirstChildElement("project")
        ->FirstChildElement("children")
        ->FirstChildElement("sequence");
}

}  // namespace

TEST_F(CameraFolder, MediaAllClustersEveryFormatAtTheRightOffsets) {
    const Outcome o = trelis({"-f", dir.path("in"), "-media", "all", "-o", dir.path("out")});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    // Name order, ids as the WAVE run gives them; the hidden file is not taken.
    EXPECT_TRUE(contains(o.out, "STARTING: " + dir.path("in/broll.mp4") + " (id 1)\n"));
    EXPECT_TRUE(contains(o.out, "STARTING: " + dir.path("in/recorder.wav") + " (id 5)\n"));
    EXPECT_FALSE(contains(o.out, "._camera"));
    EXPECT_TRUE(contains(o.out, "[ERROR]: Could not load: " + dir.path("in/broll.mp4") + "\n"));
    EXPECT_TRUE(contains(o.out, "[ERROR]: Could not load: " + dir.path("in/notes.txt") + "\n"));
    EXPECT_TRUE(contains(o.err, dir.path("in/broll.mp4") + ": no audio stream")) << o.err;
    // The refinement pass opens every member as WAVE and says which it could not load.
    EXPECT_TRUE(
        contains(o.out, "[ERROR]: Could not load: " + dir.path("in/camera.mp4") + "\nException: "))
        << o.out;

    const std::map<std::string, double> offsets = refinedOffsets(o.out);
    ASSERT_EQ(offsets.size(), 3u) << o.out;
    EXPECT_NEAR(offsets.at("camera"), 0.0, 1e-6);
    EXPECT_NEAR(offsets.at("recorder"), 7.5, 0.001) << o.out;
    EXPECT_NEAR(offsets.at("phone"), 11.25, 0.001) << o.out;
    EXPECT_TRUE(contains(o.out, "CLUSTER\nname: camera offset:0.000000\n")) << o.out;

    // Written back at each original's rate and channel count, padded to the cluster's start.
    const fs::path cluster = dir.path("out/cluster_1");
    const Trelis::wavfile_t camera((cluster / "camera.wav").string(), 1, 1, 16000);
    EXPECT_EQ(camera.sampleRate, 48000u);
    EXPECT_EQ(camera.numChannels, 2u);
    const Trelis::wavfile_t phone((cluster / "phone.wav").string(), 1, 1, 16000);
    EXPECT_EQ(phone.sampleRate, 44100u);
    EXPECT_NEAR(static_cast<double>(phone.numFrames), (11.25 + 30.0) * 44100, 44100 * 0.05);
    const Trelis::wavfile_t recorder((cluster / "recorder.wav").string(), 1, 1, 16000);
    EXPECT_EQ(recorder.sampleRate, 48000u);
    EXPECT_NEAR(static_cast<double>(recorder.numFrames), (7.5 + 30.0) * 48000, 48 * 2);
}

TEST_F(CameraFolder, PlainRunsLeaveMediaOutAndSaySo) {
    const Outcome o = trelis({"-f", dir.path("in")});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(contains(
        o.out, "[ERROR]:" + dir.path("in/recorder.wav") + " has an incorrect sample rate\n"));
    EXPECT_FALSE(contains(o.out, "camera.mp4"));
    EXPECT_TRUE(contains(o.err,
                         "[NOTE]: 3 files were left out, -media all decodes them: camera.mp4 "
                         "(not WAVE), phone.mp3 (not WAVE), recorder.wav (WAVE at 48000 Hz)\n"))
        << o.err;

    // A recorder's folder, its WAVE files named in capitals: none taken, and the note says why.
    fs::create_directories(dir.path("zoom"));
    TrelisSynth::writeWav(dir.path("zoom/ZOOM0001.WAV"), TrelisSynth::musicLike(5, 3.0));
    const Outcome zoom = trelis({"-f", dir.path("zoom")});
    EXPECT_EQ(zoom.status, 1);
    EXPECT_TRUE(contains(zoom.err,
                         "[NOTE]: 1 file was left out, -media all decodes them: "
                         "ZOOM0001.WAV (extension .WAV: only .wav is taken)\n"))
        << zoom.err;
}

// A camera card: the proxy, thumbnail and metadata beside a clip are not recordings, and the card's
// subfolder is not searched; both are said, and only the clip and the phone are taken.
TEST_F(CameraFolder, CardSidecarsAndSubfoldersAreNamedNotTaken) {
    fs::create_directories(dir.path("card/DCIM"));
    fs::copy_file(dir.path("in/camera.mp4"), dir.path("card/GX010001.MP4"));
    fs::copy_file(dir.path("in/camera.mp4"), dir.path("card/GX010001.LRV"));
    fs::copy_file(dir.path("in/phone.mp3"), dir.path("card/phone.mp3"));
    std::ofstream(dir.path("card/GX010001.THM")) << "jpeg";
    std::ofstream(dir.path("card/GX010001.XML")) << "<clip/>";
    std::ofstream(dir.path("card/._GX010001.MP4")) << "resource fork";
    const Outcome o = trelis({"-f", dir.path("card"), "-media", "all"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(o.err,
                         "[NOTE]: Not recordings, left out: ._GX010001.MP4 (resource fork), "
                         "GX010001.LRV (proxy), GX010001.THM (thumbnail), GX010001.XML "
                         "(clip metadata)\n"))
        << o.err;
    EXPECT_TRUE(
        contains(o.err, "[NOTE]: 1 subfolder was not searched, only the files directly in " +
                            dir.path("card") + " (-recursive takes subfolders too): DCIM\n"))
        << o.err;
    EXPECT_TRUE(contains(o.out, "STARTING: " + dir.path("card/GX010001.MP4") + " (id 1)\n"));
    EXPECT_TRUE(contains(o.out, "STARTING: " + dir.path("card/phone.mp3") + " (id 2)\n"));
    EXPECT_FALSE(contains(o.out, "STARTING: " + dir.path("card/GX010001.LRV"))) << o.out;
    EXPECT_EQ(refinedOffsets(o.out).size(), 2u) << o.out;

    // With -recursive, the card's folders too (not hidden ones); the clip found twice is named by
    // its path, in the reports and in the synchronized files.
    fs::create_directories(dir.path("card/DCIM/100GOPRO"));
    fs::create_directories(dir.path("card/.Trashes"));
    fs::copy_file(dir.path("in/camera.mp4"), dir.path("card/DCIM/100GOPRO/GX010001.MP4"));
    fs::copy_file(dir.path("in/camera.mp4"), dir.path("card/.Trashes/old.mp4"));
    const Outcome r =
        trelis({"-f", dir.path("card"), "-media", "all", "-recursive", "-o", dir.path("card-out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "not searched")) << r.err;
    EXPECT_TRUE(
        contains(r.out, "STARTING: " + dir.path("card/DCIM/100GOPRO/GX010001.MP4") + " (id 1)\n"))
        << r.out;
    EXPECT_FALSE(contains(r.out, "old.mp4")) << r.out;
    const std::map<std::string, double> offsets = refinedOffsets(r.out);
    ASSERT_EQ(offsets.size(), 3u) << r.out;
    EXPECT_NEAR(offsets.at("DCIM/100GOPRO/GX010001.MP4"), offsets.at("GX010001.MP4"), 0.001);
    EXPECT_TRUE(fs::exists(dir.path("card-out/cluster_1/DCIM/100GOPRO/GX010001.MP4.wav")));
    EXPECT_TRUE(fs::exists(dir.path("card-out/cluster_1/GX010001.MP4.wav")));
}

// Two files of one base name keep their extensions in the results (in the -o folders as in
// CardSidecarsAndSubfoldersAreNamedNotTaken).
TEST_F(CameraFolder, FilesOfOneBaseNameAreToldApart) {
    fs::create_directories(dir.path("twins"));
    fs::copy_file(dir.path("in/camera.mp4"), dir.path("twins/clip.mp4"));
    ASSERT_TRUE(
        ffmpeg("-i " + dir.path("in/phone.mp3") + " -c:a copy " + dir.path("twins/clip.mka")));
    const Trelis::RunReport report = analyseMedia(dir.path("twins"));
    const std::map<std::string, double> offsets = refinedByName(report);
    ASSERT_EQ(offsets.size(), 2u);
    // Within the MP3's encoder delay, which the copy into Matroska no longer declares.
    EXPECT_NEAR(offsets.at("clip.mka") - offsets.at("clip.mp4"), 11.25, 0.05);
    const Json json = jsonOf(report);
    EXPECT_EQ(json["files"][0]["name"], "clip.mka");
    EXPECT_EQ(json["files"][1]["name"], "clip.mp4");
}

// Two cameras at 30 and 25 fps in one XML sequence, and a 24-bit recorder: each file declared at
// its own rate and depth, each camera's picture as long as it is and linked to its sound, the
// sequence starting at timecode zero.
TEST_F(CameraFolder, XmlFilesKeepTheirRatesAndCamerasTheirLinks) {
    fs::create_directories(dir.path("two"));
    fs::copy_file(dir.path("in/camera.mp4"), dir.path("two/camera.mp4"));
    // Its picture stops 2 s before its sound.
    ASSERT_TRUE(ffmpeg("-i " + dir.path("phone.wav") +
                       " -f lavfi -i color=c=gray:s=64x48:r=30:d=28 -c:a aac -c:v mpeg4 " +
                       dir.path("two/cam30.mp4")));
    ASSERT_TRUE(ffmpeg("-i " + dir.path("in/recorder.wav") + " -c:a pcm_s24le " +
                       dir.path("two/recorder.wav")));
    tinyxml2::XMLDocument xml;
    const auto* sequence = firstSequence(analyseMedia(dir.path("two")), 25.0, xml);
    ASSERT_NE(sequence, nullptr);
    // cam30 has the lowest id: the sequence takes its rate.
    EXPECT_EQ(sequence->FirstChildElement("rate")->FirstChildElement("timebase")->IntText(), 30);
    const auto* timecode = sequence->FirstChildElement("timecode");
    ASSERT_NE(timecode, nullptr);
    EXPECT_STREQ(timecode->FirstChildElement("string")->GetText(), "00:00:00:00");
    std::map<std::string, std::string> clipOf;  // "name video|audio" -> clip item id
    std::map<std::string, int> clipLength;      // "name video|audio" -> frames of the sequence
    std::map<std::string, int> fileRate, fileDepth;
    std::map<std::string, std::vector<std::string>> linksOf;
    for (const char* kind : {"video", "audio"}) {
        for (const auto* track =
                 sequence->FirstChildElement("media")->FirstChildElement(kind)->FirstChildElement(
                     "track");
             track != nullptr; track = track->NextSiblingElement("track")) {
            const auto* clip = track->FirstChildElement("clipitem");
            const std::string key =
                std::string(clip->FirstChildElement("name")->GetText()) + " " + kind;
            clipOf[key] = clip->Attribute("id");
            clipLength[key] = clip->FirstChildElement("duration")->IntText();
            const auto* file = clip->FirstChildElement("file");
            const auto* rate = file->FirstChildElement("rate");
            if (rate != nullptr) {
                const std::string name = clip->FirstChildElement("name")->GetText();
                fileRate[name] = rate->FirstChildElement("timebase")->IntText();
                fileDepth[name] = file->FirstChildElement("media")
                                      ->FirstChildElement("audio")
                                      ->FirstChildElement("samplecharacteristics")
                                      ->FirstChildElement("depth")
                                      ->IntText();
            }
            for (const auto* link = clip->FirstChildElement("link"); link != nullptr;
                 link = link->NextSiblingElement("link")) {
                linksOf[key].push_back(link->FirstChildElement("linkclipref")->GetText());
            }
        }
    }
    EXPECT_EQ(fileRate["camera"], 25);
    EXPECT_EQ(fileRate["cam30"], 30);
    EXPECT_EQ(fileDepth["camera"], 16);  // AAC states none: editors decode it to 16 bits
    EXPECT_EQ(fileDepth["recorder"], 24);
    EXPECT_NEAR(clipLength["cam30 video"], 28 * 30, 1);
    EXPECT_NEAR(clipLength["cam30 audio"], 30 * 30, 1);
    for (const char* name : {"camera", "cam30"}) {
        const std::vector<std::string> pair = {clipOf[std::string(name) + " video"],
                                               clipOf[std::string(name) + " audio"]};
        EXPECT_EQ(linksOf[std::string(name) + " video"], pair) << name;
        EXPECT_EQ(linksOf[std::string(name) + " audio"], pair) << name;
    }
}

// A fast-start MP4 cut in half (a copy that did not finish) states its whole length: the run
// says where its sound really ends.
TEST_F(CameraFolder, ARecordingCutShortIsSaid) {
    ASSERT_TRUE(ffmpeg("-i " + dir.path("camera.wav") + " -c:a aac -movflags +faststart " +
                       dir.path("whole.mp4")));
    fs::create_directories(dir.path("cut"));
    const std::string whole = TrelisTest::readFile(dir.path("whole.mp4"));
    std::ofstream(dir.path("cut/cut.mp4"), std::ios::binary) << whole.substr(0, whole.size() / 2);
    fs::copy_file(dir.path("in/phone.mp3"), dir.path("cut/phone.mp3"));
    const Outcome o = trelis({"-f", dir.path("cut"), "-media", "all"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(contains(
        o.err, "[WARNING]: " + dir.path("cut/cut.mp4") + " is cut short: its sound ends at "))
        << o.err;
    EXPECT_FALSE(contains(o.err, "phone.mp3 is cut short")) << o.err;
}

// A professional camera's file: a silent spare input on the first audio stream, the microphone
// on the second. The sound is taken from the second, and the JSON says so.
TEST_F(CameraFolder, TheAudioStreamWithSoundIsTaken) {
    fs::create_directories(dir.path("pro"));
    ASSERT_TRUE(ffmpeg("-f lavfi -i anullsrc=r=48000:cl=mono -i " + dir.path("camera.wav") +
                       " -map 0:a -map 1:a -c:a pcm_s16le -shortest " +
                       dir.path("pro/camera.mov")));
    fs::copy_file(dir.path("in/phone.mp3"), dir.path("pro/phone.mp3"));
    const Trelis::RunReport report = analyseMedia(dir.path("pro"));
    const std::map<std::string, double> offsets = refinedByName(report);
    ASSERT_EQ(offsets.size(), 2u);
    EXPECT_NEAR(offsets.at("phone") - offsets.at("camera"), 11.25, 0.001);
    const Json json = jsonOf(report);
    EXPECT_EQ(json["files"][0]["name"], "camera");
    EXPECT_EQ(json["files"][0]["audioStream"], 2);
    EXPECT_EQ(json["files"][0]["audioStreams"], 2);
    EXPECT_EQ(json["files"][1]["audioStream"], 1);

    // Asked for the first stream, the camera hears only its spare input; the phone, with one
    // stream, keeps it.
    Trelis::RunOptions firstStream;
    firstStream.audioStream = 1;
    const Json asked = jsonOf(analyseMedia(dir.path("pro"), firstStream));
    EXPECT_EQ(asked["files"][0]["audioStream"], 1);
    EXPECT_EQ(asked["files"][1]["audioStream"], 1);
    EXPECT_EQ(asked["unmatched"].size(), 2u);
}

// Refined at the recorder's rate, to a fraction of a sample of the extraction rate. (The XML
// timeline's rates and tracks are checked in XmlFilesKeepTheirRatesAndCamerasTheirLinks.)
TEST_F(CameraFolder, RefinedAtTheRecordersRateTheOtioTakesTheCamerasFrameRate) {
    Trelis::RunOptions options;
    options.refineRate = 48000;
    const Trelis::RunReport report = analyseMedia(dir.path("in"), options);
    const std::map<std::string, double> offsets = refinedByName(report);
    ASSERT_EQ(offsets.size(), 3u);
    EXPECT_NEAR(offsets.at("recorder"), 7.5, 0.0002);
    EXPECT_NEAR(offsets.at("phone"), 11.25, 0.001);
    // Band-limited test sound places the recorder as well at 8 kHz (within 0.2 us against 1.6
    // us here), so only a different measurement shows that the rate reached the alignment.
    const std::map<std::string, double> atExtraction = refinedByName(analyseMedia(dir.path("in")));
    EXPECT_NE(offsets.at("recorder"), atExtraction.at("recorder"));

    // One cluster is a plain timeline at the camera's frame rate (not the rate for timelines
    // without video), its picture timed in frames and its sound in samples.
    const Json otio = Json::parse(TrelisTest::otioOf(report, 30.0));
    EXPECT_EQ(otio["OTIO_SCHEMA"], "Timeline.1");
    EXPECT_EQ(otio["global_start_time"]["rate"], 25.0);
    int videoTracks = 0;
    for (const auto& track : otio["tracks"]["children"]) {
        const auto& clip = track["children"].back();
        if (track["kind"] == "Video") {
            ++videoTracks;
            EXPECT_EQ(clip["name"], "camera");
            EXPECT_EQ(clip["source_range"]["duration"]["rate"], 25.0);
            EXPECT_EQ(clip["source_range"]["duration"]["value"], 750.0);
        } else {
            EXPECT_NE(clip["source_range"]["duration"]["rate"], 25.0) << clip["name"];
        }
    }
    EXPECT_EQ(videoTracks, 1);

    // The JSON names the files that could not be decoded, with the reason.
    const Json json = jsonOf(report);
    EXPECT_EQ(json["settings"]["media"], "all");
    EXPECT_EQ(json["settings"]["refineRate"], 48000);
    EXPECT_EQ(json["files"][0]["name"], "broll");
    EXPECT_EQ(json["files"][0]["status"], "error");
    EXPECT_EQ(json["files"][0]["message"], "no audio stream");
    EXPECT_EQ(json["files"][1]["status"], "ok");
    EXPECT_NEAR(json["files"][1]["duration"].get<double>(), 30.0, 0.05);
}

// A camera whose clock runs 80 ppm fast over 80 s: its drift is measured, reported, and with
// -driftcorrect its synchronized file is resampled onto the reference clock (80 s lose 51
// samples at 8000 Hz) behind its padding.
TEST(MediaRun, DriftIsMeasuredReportedAndCorrectedInTheSynchronizedFiles) {
    TempDir dir;
    fs::create_directories(dir.path("in"));
    const auto event = TrelisSynth::musicLike(17, 100.0);
    TrelisSynth::writeWav(dir.path("in/cam1.wav"), event);
    const std::vector<float> fast =
        TrelisSynth::resample(event, 10.0 * 8000, 80 * 8000, 1.0 / (1.0 + 80e-6));
    TrelisSynth::writeWav(dir.path("in/cam2.wav"), fast);
    const std::string out = dir.path("out");
    const Outcome o =
        TrelisTest::run(TRELIS_APP, {"-f", dir.path("in"), "-o", out, "-driftcorrect"}, dir);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(contains(o.out, "DRIFT CORRECTION: on\n"));
    EXPECT_TRUE(contains(o.out, "\nClock drift against the cluster's reference: cam2 +80"))
        << o.out;
    EXPECT_TRUE(contains(o.out, "name: cam2 offset:10.0000")) << o.out;
    const fs::path folder = fs::path(out) / "cluster_1";
    Trelis::wavfile_t written((folder / "cam2.wav").string(), 1, 1, 16000);
    const double expected = 10.0 * 8000 + 80.0 * 8000 / (1.0 + 80e-6);
    EXPECT_NEAR(static_cast<double>(written.numFrames), expected, 2.0);
    Trelis::wavfile_t reference((folder / "cam1.wav").string(), 1, 1, 16000);
    EXPECT_EQ(reference.numFrames, event.size());
}

// An MP4 whose sound has a timestamp gap (one AAC packet stamped 544 samples longer than it
// lasts, as some cameras write) is placed exactly where its WAVE twin is: the alignment reads
// every recording straight through.
TEST(MediaRun, ATimestampGapMovesNothing) {
    TempDir dir;
    fs::create_directories(dir.path("in"));
    const auto event = TrelisSynth::musicLike(23, 60.0, 48000);
    TrelisSynth::writeWav(dir.path("in/cam1.wav"),
                          std::vector<float>(event.begin(), event.begin() + 50 * 48000), 48000);
    TrelisSynth::writeWav(dir.path("cam2.wav"),
                          std::vector<float>(event.begin() + 408000, event.end()), 48000);
    ASSERT_TRUE(
        ffmpeg("-i " + dir.path("cam2.wav") + " -c:a aac -b:a 128k " + dir.path("plain.mp4")));
    ASSERT_TRUE(ffmpeg("-i " + dir.path("plain.mp4") +
                       " -c copy -bsf:a \"setts=ts=if(gte(N\\,800)\\,PTS+544\\,PTS)\" " +
                       dir.path("in/cam2.mp4")));
    const Json json = jsonOf(analyseMedia(dir.path("in")));
    ASSERT_EQ(json["clusters"].size(), 1u) << json.dump();
    for (const auto& m : json["clusters"][0]["members"]) {
        EXPECT_NE(m["status"], "unrefined") << m.dump();
        if (m["name"] == "cam2") {
            EXPECT_NEAR(m["refinedOffset"].get<double>(), 8.5, 1e-4);
        }
    }
}
