#include "wavfile_t.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Capture.h"
#include "support/WavImage.h"

using Trelis::array;
using Trelis::wavfile_t;
using TrelisTest::TempDir;
using TrelisTest::WavImage;

namespace {

const std::string kBadFormat =
    "wavfile_t::wavfile_t() : WAVE file isn't PCM MCFloat,16-bit or 8-bit, can't read that format";

std::string openError(const std::string& path) {
    return TrelisTest::errorOf([&] { wavfile_t reader(path, 1, 1, 16000); });
}

std::vector<float> readAll(wavfile_t& reader, int count, float fill = 99.0f) {
    array<float> out(static_cast<std::uint32_t>(count));
    out.fill(fill);
    reader.read_mono(out);
    return std::vector<float>(out.data, out.data + count);
}

// The rule read_mono follows, one frame and one stream call at a time.
class FrameByFrameReader {
public:
    FrameByFrameReader(const std::string& path, std::streampos start, int channels, int bits)
        : in_(path, std::ios::binary), frameBytes_(channels * (bits / 8)), bits_(bits) {
        in_.seekg(start);
    }
    void read(float* out, int count) {
        unsigned char frame[64] = {};
        for (int i = 0; i < count; ++i) {
            in_.read(reinterpret_cast<char*>(frame), frameBytes_);
            out[i] = convert(frame);
            if (in_.eof()) {
                return;
            }
        }
    }

private:
    float convert(const unsigned char* p) const {
        if (bits_ == 8) {
            return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        }
        if (bits_ == 16) {
            std::int16_t v;
            std::memcpy(&v, p, 2);
            return static_cast<float>(v) / 32768.0f;
        }
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    std::ifstream in_;
    int frameBytes_;
    int bits_;
};

}  // namespace

namespace {

WavImage pcm16File(const std::vector<std::int16_t>& samples) {
    return WavImage().riff().fmt(1, 1, 8000, 16).data(WavImage::pcm16(samples));
}

}  // namespace

// Files that open: each width's conversion at its extremes; of several channels, the first; 32
// bits as float whatever the tag says; chunks and format extensions skipped by their sizes; sizes
// that disagree with the file; reads past the end.
TEST(wavfile_t, ReadsEveryAcceptedLayout) {
    TempDir dir;
    // Opens `image`, checks its header's facts, then reads want.size() samples into an array that
    // held `fill`, and again.size() more where given.
    const auto check = [&](const std::string& what, const WavImage& image, std::uint64_t frames,
                           std::streamoff dataStart, std::uint32_t rate, float fill,
                           const std::vector<float>& want, const std::vector<float>& again) {
        const std::string path = dir.path(what + ".wav");
        image.save(path);
        wavfile_t reader(path, 1, 1, 16000);
        EXPECT_EQ(reader.numFrames, frames) << what;
        EXPECT_EQ(static_cast<std::streamoff>(reader.dataStart), dataStart) << what;
        EXPECT_EQ(reader.sampleRate, rate) << what;
        EXPECT_EQ(readAll(reader, static_cast<int>(want.size()), fill), want) << what;
        if (!again.empty()) {
            EXPECT_EQ(readAll(reader, static_cast<int>(again.size()), fill), again) << what;
        }
    };
    check("16 bits", pcm16File({-32768, 16384, 0, 32767}), 4, 44, 8000, 99.0f,
          {-1.0f, 0.5f, 0.0f, 32767 / 32768.0f}, {});
    check("8 bits", WavImage().riff().fmt(1, 1, 8000, 8).data({128, 0, 255}), 3, 44, 8000, 99.0f,
          {0.0f, -1.0f, 127 / 128.0f}, {});
    check("stereo", WavImage().riff().fmt(1, 2, 8000, 16).data(WavImage::pcm16({100, -1, 200, -2})),
          2, 44, 8000, 99.0f, {100 / 32768.0f, 200 / 32768.0f}, {});
    for (const int tag : {1, 3}) {  // 32 bits are float whatever the tag says
        check("32 bits tag " + std::to_string(tag),
              WavImage().riff().fmt(tag, 1, 8000, 32).data(WavImage::float32({0.25f, -3.5f})), 2,
              44, 8000, 99.0f, {0.25f, -3.5f}, {});
    }
    // An odd-sized chunk before "fmt " takes no pad byte; a fact chunk before "data".
    check("other chunks",
          WavImage()
              .riff()
              .chunk("JUNK", {1, 2, 3})
              .fmt(1, 1, 8000, 16, 40)
              .chunk("fact", {0, 0, 0, 0})
              .chunk("LIST", {'a', 'b'})
              .data(WavImage::pcm16({8192})),
          1, 101, 8000, 99.0f, {0.25f}, {});
    check("format extension",
          WavImage().riff().fmt(1, 1, 8000, 16, 18).data(WavImage::pcm16({-8192})), 1, 46, 8000,
          99.0f, {-0.25f}, {});
    // Tag 0xFFFE is negative as 16 bits.
    check("extensible tag",
          WavImage().riff().fmt(0xFFFE, 2, 48000, 16, 40).data(WavImage::pcm16({4096, 0})), 1, 68,
          48000, 99.0f, {0.125f}, {});
    // 6 / (24 / 8) / 1 frames, none delivered.
    check("24 bits", WavImage().riff().fmt(1, 1, 8000, 24).data({1, 2, 3, 4, 5, 6}), 2, 44, 8000,
          7.0f, {7.0f, 7.0f, 7.0f}, {});
    // The element whose read meets the end repeats what the frame buffer still holds; at the end,
    // a fresh call stores one sample of its zeroed frame buffer and stops.
    check("past the end", pcm16File({1000, 2000, 3000}), 3, 44, 8000, 5.0f,
          {1000 / 32768.0f, 2000 / 32768.0f, 3000 / 32768.0f, 3000 / 32768.0f, 5.0f, 5.0f},
          {0.0f, 5.0f, 5.0f});
    check("data size beyond the file",
          WavImage().riff().fmt(1, 1, 8000, 16).data(WavImage::pcm16({8192, 8192}), 1000000),
          500000, 44, 8000, 9.0f, {0.25f, 0.25f, 0.25f, 9.0f}, {});
    // The two size bytes that are there count as frames.
    check("file ending inside the data size",
          WavImage().riff().fmt(1, 1, 8000, 16).raw({'d', 'a', 't', 'a', 8, 0}), 4, 42, 8000, 9.0f,
          {0.0f, 9.0f}, {});
}

// Files that are refused, each with its exact message; a missing file (or the folder itself)
// fails as one that doesn't start with "RIFF".
TEST(wavfile_t, RefusesBrokenFilesWithTheExactMessage) {
    const std::string kNoRiff = "wavfile_t::wavfile_t() : File doesn't start with 'RIFF'";
    const std::string kNoWave = "wavfile_t::wavfile_t() : File doesn't have 'WAVE' id";
    const std::string kNoFmt = "wavfile_t::wavfile_t() : Could not locate 'fmt ' chunk";
    const std::string kNoData = "wavfile_t::wavfile_t() : Could not locate 'data' chunk";
    const struct {
        const char* name;
        WavImage image;
        std::string message;
    } cases[] = {
        {"Text", WavImage().raw({'h', 'e', 'l', 'l', 'o', '\n'}), kNoRiff},
        {"Empty", WavImage(), kNoRiff},
        {"ThreeBytes", WavImage().raw({'R', 'I', 'F'}), kNoRiff},
        {"NotWave", WavImage().riff("RIFF", "AVI "), kNoWave},
        {"NoChunks", WavImage().riff(), kNoFmt},
        {"OnlyJunk", WavImage().riff().chunk("JUNK", {1, 2, 3, 4}), kNoFmt},
        {"JunkPastTheEnd", WavImage().riff().raw({'J', 'U', 'N', 'K', 9, 0, 0, 0}), kNoFmt},
        {"NoData", WavImage().riff().fmt(1, 1, 8000, 16), kNoData},
        {"DataIdCutShort", WavImage().riff().fmt(1, 1, 8000, 16).chunk("LIST", {}).raw({'d', 'a'}),
         kNoData},
        {"FormatShorterThan16", WavImage().riff().fmt(1, 1, 8000, 16, 12).data({0, 0}), kNoData},
        {"Adpcm", WavImage().riff().fmt(2, 1, 8000, 4).data({0, 0}), kBadFormat},
        {"FloatTag24Bits", WavImage().riff().fmt(3, 1, 8000, 24).data({0, 0, 0}), kBadFormat},
        {"NoChannels", WavImage().riff().fmt(1, 0, 8000, 16).data({0, 0}), kBadFormat},
        {"SeventeenChannels", WavImage().riff().fmt(1, 17, 8000, 16).data({0, 0}), kBadFormat},
        {"NegativeChannels", WavImage().riff().fmt(1, 0xFFFF, 8000, 16).data({0, 0}), kBadFormat},
        {"FourBits", WavImage().riff().fmt(1, 1, 8000, 4).data({0, 0}), kBadFormat},
        {"TruncatedFormat", WavImage().riff().raw({'f', 'm', 't', ' ', 16, 0, 0, 0, 1}),
         kBadFormat}};
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.path(std::string(c.name) + ".wav");
        c.image.save(path);
        EXPECT_EQ(openError(path), c.message) << c.name;
    }
    EXPECT_EQ(openError(dir.path("absent.wav")), kNoRiff);
    EXPECT_EQ(openError(dir.path("")), kNoRiff);
}

TEST(wavfile_t, CountedReadFillsOnlyTheStart) {
    TempDir dir;
    pcm16File({16384, 16384, 16384}).save(dir.path("a.wav"));
    wavfile_t reader(dir.path("a.wav"), 1, 1, 16000);
    array<float> out(5);
    out.fill(-2.0f);
    EXPECT_TRUE(reader.read_mono(out, 2));
    EXPECT_EQ(out.data[0], 0.5f);
    EXPECT_EQ(out.data[1], 0.5f);
    EXPECT_EQ(out.data[2], -2.0f);
    EXPECT_EQ(TrelisTest::errorOf([&] { reader.read_mono(out, 6); }),
              "wavfile_t::read_mono(): input array is too small for numSamples");
}

// The writer's header, completed by the destructor over the frames the caller wrote, is the
// header of a plain PCM file of those frames.
TEST(wavfile_t, WriterCreatesAHeaderThatTheDestructorCompletes) {
    TempDir dir;
    const std::string path = dir.path("out.wav");
    {
        wavfile_t writer(path, 2, 2, 44100);
        writer.stream.write("\x01\x00\x02\x00\x03\x00\x04\x00", 8);
        array<float> out(1);
        EXPECT_THROW(writer.read_mono(out), std::runtime_error);
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    auto want = WavImage().riff().fmt(1, 2, 44100, 16).data({1, 0, 2, 0, 3, 0, 4, 0}).bytes();
    want[4] = 44;  // the RIFF size, which the image leaves at 0
    EXPECT_EQ(bytes, want);
    // Modes other than reading and writing open nothing.
    wavfile_t nothing(dir.path("never.wav"), 0, 1, 16000);
    EXPECT_FALSE(std::filesystem::exists(dir.path("never.wav")));
}

// Block reads give exactly what reading one frame at a time gives, for every layout, any split of
// the reads into calls, data that ends mid-frame, and calls made after the end.
TEST(wavfile_t, BlockReadsMatchFrameByFrameReads) {
    TempDir dir;
    std::mt19937 rng(1234);
    const int layouts[][2] = {{1, 8},  {1, 16}, {1, 32}, {2, 8},   {2, 16},
                              {2, 32}, {3, 16}, {6, 16}, {16, 32}, {5, 8}};
    int file = 0;
    for (const auto& layout : layouts) {
        const int channels = layout[0], bits = layout[1];
        for (int trial = 0; trial < 6; ++trial, ++file) {
            const int frameBytes = channels * bits / 8;
            // Between 0 and 40000 frames plus a ragged tail of up to one frame, and sometimes a
            // chunk after the data that reads as samples too.
            const std::size_t frames = (trial == 0) ? 0 : rng() % 40000;
            std::vector<unsigned char> body(frames * frameBytes + rng() % frameBytes);
            for (auto& b : body) {
                b = static_cast<unsigned char>(rng());
            }
            const std::string path = dir.path("r" + std::to_string(file) + ".wav");
            WavImage image;
            image.riff().fmt(bits == 32 ? 3 : 1, channels, 8000, bits).data(body);
            if (trial % 2 == 1) {
                image.chunk("LIST", {1, 2, 3, 4, 5});
            }
            image.save(path);

            wavfile_t reader(path, 1, 1, 16000);
            FrameByFrameReader reference(path, reader.dataStart, channels, bits);
            const int total = static_cast<int>(frames) + 50;
            int done = 0;
            while (done < total + 20) {
                const int count = 1 + static_cast<int>(rng() % 9000);
                array<float> got(static_cast<std::uint32_t>(count));
                std::vector<float> want(count, -7.0f);
                got.fill(-7.0f);
                reader.read_mono(got);
                reference.read(want.data(), count);
                for (int i = 0; i < count; ++i) {
                    // Compare bits: random 32-bit data holds NaNs.
                    ASSERT_EQ(std::memcmp(&got.data[i], &want[i], 4), 0)
                        << "file " << file << " element " << done + i;
                }
                done += count;
            }
        }
    }
}
