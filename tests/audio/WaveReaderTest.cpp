#include "WaveReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/WavImage.h"

using Trelis::WaveReader;
using TrelisTest::TempDir;
using TrelisTest::WavImage;

// Every width the reader converts, interleaved as it is stored, from the start and after a seek.
TEST(WaveReader, ConvertsEveryWidthAndSeeks) {
    const TempDir dir;
    // Three stereo frames of 24-bit samples: 0x7FFF00, -1 (0xFFFFFF), 0x123456 ...
    const std::vector<unsigned char> pcm24 = {0x00, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x56, 0x34, 0x12,
                                              0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    WavImage().riff().fmt(1, 2, 48000, 24).data(pcm24).save(dir.path("a.wav"));
    WaveReader wide(dir.path("a.wav"));
    ASSERT_EQ(wide.channels(), 2u);
    ASSERT_EQ(wide.frames(), 3u);
    std::vector<std::int16_t> pcm(6);
    ASSERT_EQ(wide.readPcm16(pcm.data(), 10), 3u);
    EXPECT_EQ(pcm, (std::vector<std::int16_t>{0x7FFF, -1, 0x1234, -32768, 0, 0}));
    ASSERT_TRUE(wide.seek(1));
    std::vector<float> floats(4);
    ASSERT_EQ(wide.readFloat(floats.data(), 2), 2u);
    EXPECT_EQ(floats[0], static_cast<float>(0x123456) / 8388608.0f);
    EXPECT_EQ(floats[1], -1.0f);
    EXPECT_EQ(floats[2], 1.0f / 8388608.0f);
    EXPECT_EQ(wide.readFloat(floats.data(), 2), 0u);

    // Float samples: rounded and clipped to 16 bits, not-a-number and infinities as silence.
    const float inf = std::numeric_limits<float>::infinity();
    WavImage()
        .riff()
        .fmt(3, 1, 8000, 32)
        .data(WavImage::float32({0.5f, -2.0f, std::nanf(""), inf, 1.0f / 65536.0f}))
        .save(dir.path("f.wav"));
    WaveReader real(dir.path("f.wav"));
    std::vector<std::int16_t> rounded(5);
    ASSERT_EQ(real.readPcm16(rounded.data(), 5), 5u);
    EXPECT_EQ(rounded, (std::vector<std::int16_t>{16384, -32768, 0, 0, 1}));

    // 8-bit samples are offset by 128.
    WavImage().riff().fmt(1, 1, 8000, 8).data({0, 128, 255}).save(dir.path("b.wav"));
    WaveReader narrow(dir.path("b.wav"));
    std::vector<std::int16_t> bytes(3);
    ASSERT_EQ(narrow.readPcm16(bytes.data(), 3), 3u);
    EXPECT_EQ(bytes, (std::vector<std::int16_t>{-32768, 0, 127 * 256}));
}

// A file cut short ends where its bytes end, whatever its data size says; a bad one is refused.
TEST(WaveReader, EndsWhereTheFileEndsAndRefusesBadFiles) {
    const TempDir dir;
    WavImage()
        .riff()
        .fmt(1, 1, 8000, 16)
        .data(WavImage::pcm16({1, 2, 3}), 200)
        .save(dir.path("cut.wav"));
    WaveReader cut(dir.path("cut.wav"));
    EXPECT_EQ(cut.frames(), 100u);
    std::vector<std::int16_t> out(100);
    EXPECT_EQ(cut.readPcm16(out.data(), 100), 3u);
    EXPECT_EQ(cut.readPcm16(out.data(), 100), 0u);
    EXPECT_EQ(out[2], 3);

    WavImage().riff("RIFX").save(dir.path("bad.wav"));
    EXPECT_THROW(WaveReader(dir.path("bad.wav")), std::runtime_error);
    EXPECT_THROW(WaveReader(dir.path("missing.wav")), std::runtime_error);
}
