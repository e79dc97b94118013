#include "WavInput.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Landmark.h"
#include "MCFile.h"
#include "MCLandmarkExtract.h"
#include "support/MemoryInput.h"
#include "support/WavImage.h"
#include "synth/Synth.h"
#include "wavfile_t.h"

using namespace Trelis;
using TrelisTest::TempDir;
using TrelisTest::WavImage;

namespace {

std::vector<float> readBlock(WavInput& input, std::uint32_t size, float fill = 9.0f) {
    array<float> block(size);
    block.fill(fill);
    input.read(block);
    return std::vector<float>(block.data, block.data + size);
}

}  // namespace

// A file shorter than the ten blocks of the initial threshold meets its end before the rewind;
// the rewind must still give the samples again.
TEST(WavInput, RewindAfterTheEndGivesTheSameSamples) {
    TempDir dir;
    const auto signal = TrelisSynth::musicLike(2, 2400.0 / 8000);
    TrelisSynth::writeWav(dir.path("a.wav"), signal);
    MCLandmarkExtract extractor{MCExtractParams()};
    WavInput input(dir.path("a.wav"), &extractor);
    std::vector<std::vector<float>> first;
    for (int i = 0; i < 10; ++i) {
        first.push_back(readBlock(input, 256));
    }
    EXPECT_TRUE(input.rewind());
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(readBlock(input, 256), first[i]) << "block " << i;
    }
    // The tenth block held the end: 96 samples, one repeated, then the block as it was.
    const auto tail = readBlock(input, 256);
    EXPECT_EQ(tail[95], tail[96]);
    EXPECT_EQ(tail[97], 9.0f);
}

// Of a stereo file, the left channel and the count of frames; a file at another rate, or one
// that can't be read, leaves no reader.
TEST(WavInput, StereoGivesTheLeftChannelAWrongRateOrBrokenFileNoReader) {
    TempDir dir;
    WavImage()
        .riff()
        .fmt(1, 2, 8000, 16)
        .data(WavImage::pcm16({8192, -1, 16384, -1}))
        .save(dir.path("s.wav"));
    MCLandmarkExtract stereoExtractor{MCExtractParams()};
    WavInput stereo(dir.path("s.wav"), &stereoExtractor);
    ASSERT_NE(stereo.reader, nullptr);
    EXPECT_EQ(stereo.getNumSamples(), 2u);
    EXPECT_EQ(readBlock(stereo, 2), (std::vector<float>{0.25f, 0.5f}));

    TrelisSynth::writeWav(dir.path("r.wav"), std::vector<float>(100, 0.0f), 16000);
    MCLandmarkExtract extractor{MCExtractParams()};
    testing::internal::CaptureStdout();
    WavInput wrongRate(dir.path("r.wav"), &extractor);
    WavInput missing(dir.path("none.wav"), &extractor);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(wrongRate.reader, nullptr);
    EXPECT_EQ(missing.reader, nullptr);
    EXPECT_EQ(out, "[ERROR]:" + dir.path("r.wav") + " has an incorrect sample rate\n" +
                       "[ERROR]: Could not load: " + dir.path("none.wav") + "\n");
    std::unique_ptr<MCFile> none(extractor.run(dir.path("none.wav"), 1));
    EXPECT_EQ(none, nullptr);
}

// Files whose data ends mid-frame or mid-block extract like the same samples in memory.
TEST(WavInput, OddDataSizeAndShortTailExtractLikeMemory) {
    TempDir dir;
    const auto signal = TrelisSynth::musicLike(6, 3.0);
    std::vector<std::int16_t> pcm = TrelisSynth::toPcm16(signal);
    pcm.resize(pcm.size() - 77);  // ends inside a block
    auto bytes = WavImage::pcm16(pcm);
    bytes.push_back(0x7F);  // a dangling byte: half a sample
    WavImage().riff().fmt(1, 1, 8000, 16).data(bytes).save(dir.path("odd.wav"));
    std::vector<float> samples;
    for (std::int16_t v : pcm) {
        samples.push_back(v / 32768.0f);
    }
    MCLandmarkExtract extractor{MCExtractParams()};
    std::unique_ptr<MCFile> fromFile(extractor.run(dir.path("odd.wav"), 1));
    TrelisTest::MemoryInput memory(samples);
    std::unique_ptr<MCFile> fromMemory(extractor.run(&memory, 1));
    ASSERT_NE(fromFile, nullptr);
    ASSERT_EQ(fromFile->landmarks.size(), fromMemory->landmarks.size());
    auto a = fromFile->landmarks.begin();
    for (const auto& frame : fromMemory->landmarks) {
        ASSERT_EQ(a->first, frame.first);
        ASSERT_EQ(a->second.size(), frame.second.size());
        for (std::size_t i = 0; i < frame.second.size(); ++i) {
            ASSERT_EQ(a->second[i]->hash, frame.second[i]->hash);
        }
        ++a;
    }
}
