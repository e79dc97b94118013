// The media decoder on files that the ffmpeg command makes at test time: where sample 0 lands,
// how many samples a file holds, what rewinding and seeking give, how channels are mixed, and what
// a file that can't be decoded reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstddef>
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
#include "support/Capture.h"
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

// A test's name from its case's file name.
template <typename Case>
std::string testName(const ::testing::TestParamInfo<Case>& param) {
    std::string name = param.param.name;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
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
    testName<Format>);

TEST(MediaDecoder, MixesEveryChannelWithEqualWeightOrKeepsThemWhenAsked) {
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

    // The source's own rate and channels, kept when asked, the tone where it starts.
    const std::string stereo = dir.path("stereo44.wav");
    ASSERT_TRUE(ffmpeg(toneSource(44100, 2) + " -c:a pcm_s16le " + stereo));
    MediaDecoder source(stereo, 0, false);
    EXPECT_EQ(source.sampleRate(), 44100);
    EXPECT_EQ(source.channels(), 2);
    EXPECT_EQ(source.numFrames(), 3u * 44100u);
    EXPECT_NEAR(onset(decodeAll(source), 2 * 44100), 1.0, 1e-4);
}

namespace {

// Pink noise of `seconds` s, stereo at 48 kHz from `seed`, encoded with `options` into `path`.
bool noise(const std::string& path, const std::string& options, int seconds = 95, int seed = 7) {
    return ffmpeg("-f lavfi -i \"anoisesrc=d=" + std::to_string(seconds) +
                  ":c=pink:r=48000:a=0.3:s=" + std::to_string(seed) + "\" -ac 2 " + options + " " +
                  path);
}

// Copies `source` with one AAC packet stamped as lasting 544 samples longer than it does, from
// the `packet`-th on every timestamp later, as some cameras write their files.
bool withGap(const std::string& source, const std::string& path, int packet) {
    return ffmpeg("-i " + source + " -c copy -bsf:a \"setts=ts=if(gte(N\\," +
                  std::to_string(packet) + ")\\,PTS+544\\,PTS)\" " + path);
}

// Two MPEG-TS files one after the other, byte for byte: the second's timestamps start again at
// its own origin, shifted by `offset` seconds.
bool joined(const TempDir& dir, const std::string& path, int offset) {
    const std::string second = dir.path("second.ts");
    if (!noise(path, "-c:a aac", 50) ||
        !noise(second, "-c:a aac -output_ts_offset " + std::to_string(offset), 45, 8)) {
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << std::ifstream(second, std::ios::binary).rdbuf();
    return static_cast<bool>(out);
}

bool plainNoise(const TempDir&, const std::string& path) {
    return noise(path, "");
}

struct SeekCase {
    const char* name;
    bool (*make)(const TempDir& dir, const std::string& path);
};

void PrintTo(const SeekCase& c, std::ostream* out) {
    *out << c.name;
}

class Seeks : public ::testing::TestWithParam<SeekCase> {
protected:
    TempDir dir;
};

}  // namespace

// Wherever a seek goes, near or far, ahead or back, across a timestamp gap or jump, what follows
// is bit for bit what reading from the start gives there.
TEST_P(Seeks, GiveExactlyTheSamplesOfAStraightRead) {
    const std::string path = dir.path(GetParam().name);
    ASSERT_TRUE(GetParam().make(dir, path)) << path;
    MediaDecoder straight(path, 8000, true);
    const std::vector<float> all = decodeAll(straight);
    ASSERT_GT(all.size(), 90u * 8000u);
    MediaDecoder seeking(path, 8000, true);
    const std::uint64_t end = seeking.numFrames();
    // 75 s ahead, back, a little ahead, back near the start, then to just before the end.
    for (const std::uint64_t at :
         std::vector<std::uint64_t>{600000, 250000, 250100, 30000, end - 10}) {
        seeking.seek(at);
        ASSERT_EQ(seeking.position(), at);
        std::vector<float> got(4000);
        got.resize(seeking.read(got.data(), got.size()));
        ASSERT_EQ(got.size(), std::min<std::uint64_t>(4000, end - at));
        const auto from = all.begin() + static_cast<std::ptrdiff_t>(at);
        const auto same = std::mismatch(got.begin(), got.end(), from).first - got.begin();
        EXPECT_EQ(same, static_cast<std::ptrdiff_t>(got.size())) << "seek to " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, Seeks,
    ::testing::Values(
        SeekCase{"long.m4a", plainNoise}, SeekCase{"long.mp3", plainNoise},
        SeekCase{"long.ts", plainNoise}, SeekCase{"long.flac", plainNoise},
        SeekCase{"long.wav", plainNoise},
        // The gap lies at 42.7 s, between the far seeks' targets.
        SeekCase{"gap.mp4",
                 [](const TempDir& d, const std::string& p) {
                     return noise(d.path("plain.mp4"), "-c:a aac") &&
                            withGap(d.path("plain.mp4"), p, 2000);
                 }},
        SeekCase{"jump_back.ts",
                 [](const TempDir& d, const std::string& p) { return joined(d, p, 0); }},
        SeekCase{"jump_ahead.ts",
                 [](const TempDir& d, const std::string& p) { return joined(d, p, 600); }}),
    testName<SeekCase>);

// A packet stamped longer than it lasts moves no sample: the samples on both sides of the gap
// follow each other as in the same file without it, so an alignment against another copy of the
// sound stays exact. Only the stated length grows, by the gap, at the end.
TEST(MediaDecoder, TimestampGapNeitherInsertsNorDropsSamples) {
    TempDir dir;
    const std::string plain = dir.path("plain.mp4");
    const std::string gapped = dir.path("gapped.mp4");
    ASSERT_TRUE(noise(plain, "-c:a aac", 20));
    ASSERT_TRUE(withGap(plain, gapped, 300));
    for (const int rate : {8000, 0}) {  // as extraction reads it, and as the output copies it
        MediaDecoder a(plain, rate, rate != 0);
        MediaDecoder b(gapped, rate, rate != 0);
        const std::vector<float> without = decodeAll(a);
        const std::vector<float> with = decodeAll(b);
        ASSERT_GE(with.size(), without.size()) << rate;
        EXPECT_TRUE(std::equal(without.begin(), without.end(), with.begin())) << rate;
        const double gapFrames = 544.0 * b.sampleRate() / 48000.0;
        EXPECT_LE(static_cast<double>(b.numFrames() - a.numFrames()), std::ceil(gapFrames));
    }
}

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

TEST(MediaDecoder, ProbesWhatTimelinesDeclareAndRefusesWhatItCannotDecode) {
    TempDir dir;
    const auto reasonFor = [](const std::string& path) {
        return TrelisTest::errorOf([&] { MediaDecoder decoder(path, 8000, true); });
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

    // What timelines declare: the picture's own rate and length (here shorter than the sound),
    // and the bits per sample where the sound states them.
    const std::string ntsc = dir.path("ntsc.mp4");
    ASSERT_TRUE(ffmpeg(toneSource(48000) + " -f lavfi -i color=s=64x48:r=30000/1001:d=2 " +
                       "-c:v mpeg4 -c:a aac " + ntsc));
    const Trelis::MediaInfo info = MediaDecoder::probe(ntsc);
    EXPECT_TRUE(info.hasVideo);
    EXPECT_EQ(info.frameRateNum, 30000);
    EXPECT_EQ(info.frameRateDen, 1001);
    EXPECT_EQ(info.sampleRate, 48000);
    EXPECT_NEAR(info.videoSeconds, 2.0, 0.05);
    EXPECT_EQ(info.bitDepth, 0);  // AAC
    ASSERT_TRUE(ffmpeg(toneSource(48000) + " -c:a pcm_s24le " + dir.path("deep.mov")));
    EXPECT_EQ(MediaDecoder::probe(dir.path("deep.mov")).bitDepth, 24);
    EXPECT_EQ(MediaDecoder::probe(dir.path("deep.mov")).videoSeconds, 0.0);
}

// A file with a silent spare input on one stream and the tone on the other: the tone's stream is
// taken unless another is asked for, and the choice follows the file when it is replaced.
TEST(MediaDecoder, TakesTheStreamWithTheSoundOrTheOneAskedFor) {
    TempDir dir;
    const std::string path = dir.path("pro.mov");
    const auto make = [&](bool toneFirst) {
        std::filesystem::remove(path);
        const std::string silence = " -f lavfi -i anullsrc=r=48000:cl=mono:d=3 ";
        const std::string tone = " " + toneSource(48000) + " ";
        return ffmpeg((toneFirst ? tone + silence : silence + tone) +
                      "-map 0:a -map 1:a -c:a pcm_s16le " + path);
    };
    const auto taken = [&](int stream) {
        return MediaDecoder(path, 8000, true, stream).info().audioStream;
    };
    ASSERT_TRUE(make(false));
    EXPECT_EQ(taken(0), 2);
    EXPECT_EQ(taken(1), 1);
    EXPECT_EQ(taken(3), 2);  // the file has fewer: the choice stands
    MediaDecoder decoder(path, 8000, true);
    EXPECT_NEAR(onset(decodeAll(decoder), 8000), 1.0, 0.002);
    ASSERT_TRUE(make(true));
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(1));
    EXPECT_EQ(taken(0), 1);
}

// What the media fuzzer found, decoded to the end: each input is refused with a reason or read
// through, twice alike, never a crash (the resampler was fed again after it had been emptied).
TEST(MediaDecoder, FuzzFindingsAreReadOrRefused) {
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TRELIS_FUZZ_REGRESSIONS)) {
        if (entry.path().filename().string().rfind("media-", 0) != 0) {
            continue;
        }
        ++inputs;
        try {
            Trelis::MediaDecoder decoder(entry.path().string(), 8000, true);
            std::vector<float> first(decoder.numFrames()), second(decoder.numFrames());
            EXPECT_EQ(decoder.read(first.data(), first.size()), first.size());
            decoder.rewind();
            EXPECT_EQ(decoder.read(second.data(), second.size()), second.size());
            EXPECT_EQ(first, second) << entry.path();
        } catch (const std::runtime_error&) {
            // refused with a reason: a correct outcome
        }
    }
    EXPECT_GE(inputs, 1);
}
