// The media decoder on files that the ffmpeg command makes at test time: where sample 0 lands,
// how many samples a file holds, what rewinding gives, how channels are mixed, and what a file
// that can't be decoded reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MCExtractParams.h"
#include "MCLandmarkExtract.h"
#include "MediaDecoder.h"
#include "MediaInput.h"
#include "WavInput.h"
#include "support/Process.h"
#include "support/WavImage.h"

using Trelis::MediaDecoder;
using TrelisTest::ffmpeg;
using TrelisTest::TempDir;

namespace {

// Silence, then from 1.000 s a 1 kHz tone at half scale, 3 s in all, at `rate` Hz.
std::string toneSource(int rate, int channels = 1) {
    std::string expression = "if(gte(t\\,1)\\,0.5*sin(2*PI*1000*t)\\,0)";
    std::string all = expression;
    for (int c = 1; c < channels; ++c) {
        all += "|" + expression;
    }
    return "-f lavfi -i \"aevalsrc=" + all + ":s=" + std::to_string(rate) + ":d=3\"";
}

std::vector<float> decodeAll(MediaDecoder& decoder) {
    std::vector<float> samples(decoder.numFrames() * decoder.channels());
    std::size_t done = 0;
    for (std::size_t got;
         (got = decoder.read(samples.data() + done * decoder.channels(), 1000)) > 0;) {
        done += got;
    }
    EXPECT_EQ(done, decoder.numFrames());
    return samples;
}

// Seconds to the first sample of mono `samples` at half the tone's amplitude.
double onset(const std::vector<float>& samples, int rate) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > 0.25f) {
            return static_cast<double>(i) / rate;
        }
    }
    return -1.0;
}

struct Format {
    const char* name;
    const char* options;   // encoding options of the ffmpeg command
    bool primingRecorded;  // the container says how much encoder delay to drop
    bool endKnown;         // the stated length ends with the sound, not with padding
};

class MediaFormats : public ::testing::TestWithParam<Format> {
protected:
    TempDir dir;
};

}  // namespace

TEST_P(MediaFormats, ToneLandsOnTheContainerTimeAndRewindRepeats) {
    const Format& format = GetParam();
    const std::string path = dir.path(format.name);
    ASSERT_TRUE(ffmpeg(toneSource(48000, 2) + " " + format.options + " " + path)) << format.name;

    MediaDecoder decoder(path, 8000, true);
    EXPECT_EQ(decoder.channels(), 1);
    EXPECT_TRUE(decoder.info().hasAudio);
    // The stated length is the decoded length; three seconds, give or take a codec frame.
    EXPECT_NEAR(static_cast<double>(decoder.numFrames()), 24000.0, 8000 * 0.05) << format.name;
    const std::vector<float> first = decodeAll(decoder);
    const double at = onset(first, 8000);
    if (format.primingRecorded) {
        EXPECT_NEAR(at, 1.0, 0.001) << format.name;
    } else {
        EXPECT_NEAR(at, 1.0, 0.05) << format.name;
    }
    if (format.endKnown) {
        // The tone lasts two seconds from its onset, to the end: the length neither cuts it
        // short nor pads it with silence.
        EXPECT_GE(static_cast<double>(decoder.numFrames()), (at + 2.0) * 8000 - 8) << format.name;
        float tail = 0.0f;
        for (std::size_t i = first.size() - 80; i < first.size(); ++i) {
            tail = std::max(tail, std::fabs(first[i]));
        }
        EXPECT_GT(tail, 0.25f) << format.name;
    }
    decoder.rewind();
    EXPECT_EQ(decodeAll(decoder), first) << format.name;
}

INSTANTIATE_TEST_SUITE_P(
    Containers, MediaFormats,
    ::testing::Values(Format{"aac.mp4", "-c:a aac -b:a 128k", true, true},
                      Format{"video.mp4",
                             "-f lavfi -i color=c=gray:s=64x48:r=25:d=3 -c:v mpeg4 -c:a aac", true,
                             true},
                      Format{"aac.m4a", "-c:a aac -b:a 96k", true, true},
                      Format{"aac.mov", "-c:a aac", true, true},
                      // The MP3 header's length includes the encoder's end padding.
                      Format{"lame.mp3", "-c:a libmp3lame -b:a 128k", true, false},
                      Format{"lossless.flac", "-c:a flac", true, true},
                      Format{"pcm44k.wav", "-ar 44100 -c:a pcm_s16le", true, true},
                      // MPEG-TS records neither the encoder delay (the tone comes a codec frame
                      // late) nor a length (it is counted).
                      Format{"stream.ts", "-c:a aac", false, true}),
    [](const ::testing::TestParamInfo<Format>& param) {
        std::string name = param.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

TEST(MediaDecoder, MixesEveryChannelWithEqualWeight) {
    TempDir dir;
    // Three channels, the tone only in the third: a downmix that drops a channel it takes for
    // LFE would lose it.
    const std::string path = dir.path("three.wav");
    ASSERT_TRUE(ffmpeg(
        "-f lavfi -i \"aevalsrc=0|0|0.6*sin(2*PI*500*t):s=8000:d=1\" -c:a pcm_s16le " + path));
    MediaDecoder mono(path, 8000, true);
    const std::vector<float> mixed = decodeAll(mono);
    float peak = 0.0f;
    for (float v : mixed) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_NEAR(peak, 0.2f, 0.01f);

    MediaDecoder all(path, 0, false);
    EXPECT_EQ(all.channels(), 3);
    EXPECT_EQ(all.sampleRate(), 8000);
    const std::vector<float> frames = decodeAll(all);
    ASSERT_EQ(frames.size(), 3u * 8000u);
    for (std::size_t i = 0; i < 8000; i += 97) {
        EXPECT_EQ(frames[3 * i], 0.0f);
        EXPECT_NEAR(frames[3 * i + 2], 3.0f * mixed[i], 1e-4f);
    }
}

TEST(MediaDecoder, KeepsTheSourceRateAndChannelsWhenAsked) {
    TempDir dir;
    const std::string path = dir.path("stereo44.wav");
    ASSERT_TRUE(ffmpeg(toneSource(44100, 2) + " -c:a pcm_s16le " + path));
    MediaDecoder decoder(path, 0, false);
    EXPECT_EQ(decoder.sampleRate(), 44100);
    EXPECT_EQ(decoder.channels(), 2);
    EXPECT_EQ(decoder.numFrames(), 3u * 44100u);
    const std::vector<float> frames = decodeAll(decoder);
    EXPECT_NEAR(onset(std::vector<float>(frames.begin(), frames.end()), 2 * 44100), 1.0, 1e-4);
}

TEST(MediaDecoder, SeekGivesTheSamplesOfAStraightRead) {
    TempDir dir;
    const std::string path = dir.path("clip.m4a");
    ASSERT_TRUE(ffmpeg(toneSource(48000) + " -c:a aac " + path));
    MediaDecoder straight(path, 8000, true);
    const std::vector<float> all = decodeAll(straight);
    MediaDecoder seeking(path, 8000, true);
    for (std::uint64_t at : {12000u, 3000u, 23990u}) {  // forward, back, near the end
        seeking.seek(at);
        float got[20] = {0};
        const std::size_t n = seeking.read(got, 20);
        ASSERT_EQ(n, std::min<std::size_t>(20, all.size() - at));
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(got[i], all[at + i]) << at + i;
        }
    }
}

// Seeks far ahead and back move the demuxer; what follows must be what a straight read gives, up
// to the resampler's rounding.
class FarSeeks : public ::testing::TestWithParam<const char*> {};

TEST_P(FarSeeks, GiveTheSamplesOfAStraightRead) {
    TempDir dir;
    const std::string path = dir.path(std::string("long.") + GetParam());
    ASSERT_TRUE(ffmpeg("-f lavfi -i \"anoisesrc=d=95:c=pink:r=48000:a=0.3:s=7\" -ac 2 " + path));
    MediaDecoder straight(path, 8000, true);
    const std::vector<float> all = decodeAll(straight);
    MediaDecoder seeking(path, 8000, true);
    for (std::uint64_t at : {600000u, 250000u, 700000u, 30000u}) {  // 75 s, back, ahead, start
        seeking.seek(at);
        ASSERT_EQ(seeking.position(), at);
        std::vector<float> got(4000);
        ASSERT_EQ(seeking.read(got.data(), got.size()), got.size());
        double worst = 0.0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            worst = std::max(worst, static_cast<double>(std::fabs(got[i] - all[at + i])));
        }
        EXPECT_LT(worst, 1e-4) << GetParam() << " at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, FarSeeks,
                         ::testing::Values("m4a", "mp3", "ts", "flac", "wav"));

TEST(MediaInput, MonoWaveAtTheExtractionRateGivesTheWaveReadersSamples) {
    TempDir dir;
    const std::string path = dir.path("plain.wav");
    ASSERT_TRUE(ffmpeg(toneSource(8000) + " -af volume=0.9 -c:a pcm_s16le " + path));
    Trelis::MCExtractParams params;
    Trelis::MCLandmarkExtract extractor(params);
    Trelis::WavInput wave(path, &extractor);
    Trelis::MediaInput media(path, 8000);
    ASSERT_EQ(media.getNumSamples(), wave.getNumSamples());
    Trelis::array<float> a(256), b(256);
    for (std::uint64_t done = 0; done < wave.getNumSamples(); done += 256) {
        a.fill(7.0f);
        b.fill(7.0f);
        wave.read(a);
        media.read(b);
        // Past the end the wave reader repeats its frame buffer; only the samples count.
        const std::uint64_t valid = std::min<std::uint64_t>(256, wave.getNumSamples() - done);
        for (std::uint64_t i = 0; i < valid; ++i) {
            ASSERT_EQ(a.data[i], b.data[i]) << done + i;
        }
    }
}

TEST(MediaDecoder, RefusesWhatItCannotDecodeWithTheReason) {
    TempDir dir;
    const auto reasonFor = [](const std::string& path) {
        try {
            MediaDecoder decoder(path, 8000, true);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("(opened)");
    };
    const std::string text = dir.path("notes.mp4");
    std::ofstream(text) << "not a video at all\n";
    EXPECT_NE(reasonFor(text).find("cannot open"), std::string::npos) << reasonFor(text);

    const std::string silentVideo = dir.path("silent.mp4");
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=blue:s=64x48:r=25:d=1 -c:v mpeg4 " + silentVideo));
    EXPECT_EQ(reasonFor(silentVideo), "no audio stream");
    EXPECT_TRUE(MediaDecoder::probe(silentVideo).hasVideo);
    EXPECT_FALSE(MediaDecoder::probe(silentVideo).hasAudio);

    // The index of an MP4 is written at its end: cut short, the file can't be opened.
    const std::string whole = dir.path("whole.mp4");
    ASSERT_TRUE(ffmpeg(toneSource(48000) + " -c:a aac " + whole));
    const auto size = std::filesystem::file_size(whole);
    std::filesystem::copy_file(whole, dir.path("cut.mp4"));
    std::filesystem::resize_file(dir.path("cut.mp4"), size / 2);
    EXPECT_NE(reasonFor(dir.path("cut.mp4")).find("cannot open"), std::string::npos)
        << reasonFor(dir.path("cut.mp4"));
    EXPECT_NE(reasonFor(dir.path("missing.mp4")).find("No such file"), std::string::npos);
}

TEST(MediaDecoder, ReportsTheVideoFrameRate) {
    TempDir dir;
    const std::string path = dir.path("ntsc.mp4");
    ASSERT_TRUE(ffmpeg(toneSource(48000) + " -f lavfi -i color=s=64x48:r=30000/1001:d=3 " +
                       "-c:v mpeg4 -c:a aac -shortest " + path));
    const Trelis::MediaInfo info = MediaDecoder::probe(path);
    EXPECT_TRUE(info.hasVideo);
    EXPECT_EQ(info.frameRateNum, 30000);
    EXPECT_EQ(info.frameRateDen, 1001);
    EXPECT_EQ(info.sampleRate, 48000);
}
