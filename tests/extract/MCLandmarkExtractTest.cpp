#include "MCLandmarkExtract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Landmark.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "extract/Peak.h"
#include "support/Capture.h"
#include "support/MemoryInput.h"
#include "support/WavImage.h"
#include "synth/Synth.h"

using namespace Trelis;
using TrelisTest::MemoryInput;
using TrelisTest::stdoutOf;
using TrelisTest::TempDir;

namespace {

std::unique_ptr<MCFile> extract(MCLandmarkExtract& extractor, std::vector<float> samples,
                                long id = 1) {
    MemoryInput input(std::move(samples));
    return std::unique_ptr<MCFile>(extractor.run(&input, id));
}

// Peak lists made by hand, for the pairing rules.
void setFrames(MCLandmarkExtract& extractor,
               const std::vector<std::vector<std::pair<int, float>>>& lists) {
    for (auto* list : *extractor.frames) {
        for (Peak* p : *list) {
            delete p;
        }
        delete list;
    }
    extractor.frames->clear();
    for (std::size_t f = 0; f < lists.size(); ++f) {
        auto* list = new std::vector<Peak*>();
        for (const auto& [bin, amplitude] : lists[f]) {
            list->push_back(new Peak(bin, amplitude, static_cast<int>(f)));
        }
        extractor.frames->push_back(list);
    }
}

}  // namespace

// Every landmark satisfies the hash and pairing rules, and the peak lists their limits.
TEST(MCLandmarkExtract, LandmarksAndPeaksKeepTheirLimits) {
    MCExtractParams params;
    params.timeRange = 40;
    params.setMaxPairsPerPeak(3);
    MCLandmarkExtract extractor(params);
    const auto file = extract(extractor, TrelisSynth::musicLike(5, 8.0));
    std::map<std::pair<int, std::uint32_t>, int> partnersOfAnchor;  // (frame, anchor bin)
    std::size_t count = 0;
    for (const auto& frame : file->landmarks) {
        for (const Landmark* l : frame.second) {
            EXPECT_EQ(l->hash >> 30, 0u);
            EXPECT_LE((l->hash >> 20) & 0x3FF, 40u);
            EXPECT_EQ(l->time, frame.first);
            EXPECT_EQ(l->file, file.get());
            ++partnersOfAnchor[{l->time, (l->hash >> 10) & 0x3FF}];
            ++count;
        }
    }
    ASSERT_GT(count, 50u);
    for (const auto& entry : partnersOfAnchor) {
        EXPECT_LE(entry.second, 4);
    }
    for (std::size_t f = 0; f < extractor.frames->size(); ++f) {
        const auto& list = *(*extractor.frames)[f];
        EXPECT_LE(list.size(), 5u);
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_GE(list[i]->bin, 1);
            EXPECT_LE(list[i]->bin, 254);
            EXPECT_EQ(list[i]->frame, static_cast<int>(f));
            if (i > 0) {
                EXPECT_GE(list[i - 1]->amplitude, list[i]->amplitude);
            }
        }
    }
}

TEST(MCLandmarkExtract, FrameCountAndTheInitialThresholdFrames) {
    MCLandmarkExtract extractor{MCExtractParams()};
    // F = ceil(512 / 256) + floor(S / 256) - 1: 2303 samples give 9 frames, 2304 give 10.
    MemoryInput shortInput(std::vector<float>(2303, 0.1f));
    std::unique_ptr<MCFile> none(extractor.run(&shortInput, 3));
    EXPECT_TRUE(extractor.frames->empty());
    EXPECT_TRUE(none->landmarks.empty());
    EXPECT_EQ(shortInput.reads, 0);
    EXPECT_EQ(stdoutOf([&] { extractor.printPeaks(); }), "");

    MemoryInput tenFrames(TrelisSynth::musicLike(3, 2304.0 / 8000));
    std::unique_ptr<MCFile> some(extractor.run(&tenFrames, 3));
    EXPECT_EQ(extractor.frames->size(), 10u);
    EXPECT_EQ(tenFrames.rewinds, 1);
    EXPECT_EQ(tenFrames.reads, 10 + 9);  // initial threshold, then every frame but the last

    MemoryInput empty(std::vector<float>{});
    std::unique_ptr<MCFile> nothing(extractor.run(&empty, 1));
    EXPECT_TRUE(extractor.frames->empty());

    // No input at all: an empty record that still carries its id.
    std::unique_ptr<MCFile> null(extractor.run(static_cast<MCInput*>(nullptr), 7));
    ASSERT_NE(null, nullptr);
    EXPECT_EQ(null->getId(), 7);
    EXPECT_TRUE(null->landmarks.empty());
}

TEST(MCLandmarkExtract, HopLargerThanFftSizeIsRefusedByRun) {
    MCExtractParams params;
    params.setHopSize(1024);
    MCLandmarkExtract extractor(params);
    MemoryInput input(TrelisSynth::musicLike(1, 1.0));
    EXPECT_EQ(TrelisTest::errorOf([&] { extractor.run(&input, 1); }),
              "MCLandmarkExtract::run(): hopSize (1024) exceeds fftSize (512); successive "
              "frames must overlap or touch");
    EXPECT_EQ(input.reads, 0);
}

// The initial threshold is the loudest magnitude of each bin (the level floor in silence), and
// the FFT buffer is cleared afterwards.
TEST(MCLandmarkExtract, InitialThresholdIsTheLoudestMagnitudePerBin) {
    MCLandmarkExtract extractor{MCExtractParams()};
    extractor.setupFFT();
    MemoryInput silence(std::vector<float>(8000, 0.0f));
    array<float> threshold(256);
    threshold.fill(0.0f);
    extractor.computeInitialThreshold(threshold, &silence);
    EXPECT_EQ(silence.reads, 10);
    for (int k = 0; k < 256; ++k) {
        ASSERT_NEAR(threshold.data[k], -313.07f, 0.01f);
    }
    extractor.maskTable.assign(256, 0.0f);
    array<float> copy(threshold);
    extractor.smooth(threshold);  // no strict maxima: unchanged
    for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(threshold.data[k], copy.data[k]);
    }

    // A cosine of bin 32 (500 Hz) from the first sample: once the frame is full, bin 32 holds
    // N / 2 = 256, 48 dB.
    std::vector<float> tone(4000);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<float>(std::cos(2.0 * M_PI * 32.0 * i / 512.0));
    }
    MemoryInput input(tone);
    threshold.fill(0.0f);
    extractor.computeInitialThreshold(threshold, &input);
    EXPECT_NEAR(threshold.data[32], 20.0f * std::log10(256.0f), 0.01f);
    EXPECT_LT(threshold.data[100], threshold.data[32] - 40.0f);
    for (int i = 0; i < extractor.fftBuffer.size(); ++i) {
        ASSERT_EQ(extractor.fftBuffer.data[i], 0.0f);
    }
}

TEST(MCLandmarkExtract, SmoothLaysTheMaskOverStrictMaxima) {
    MCLandmarkExtract extractor{MCExtractParams()};
    MemoryInput input(TrelisSynth::musicLike(1, 1.0));
    std::unique_ptr<MCFile> file(extractor.run(&input, 1));  // builds the mask table

    array<float> single(256);
    single.fill(-100.0f);
    single.data[100] = 0.0f;
    extractor.smooth(single);
    for (int j = 0; j < 256; ++j) {
        ASSERT_EQ(single.data[j], extractor.maskTable[std::abs(j - 100)]) << j;
        ASSERT_GE(single.data[j], -40.0f);
    }

    array<float> plateau(256);
    plateau.fill(-100.0f);
    plateau.data[50] = 0.0f;
    plateau.data[51] = 0.0f;  // equal neighbours: no maximum
    array<float> edges(plateau);
    extractor.smooth(plateau);
    for (int j = 0; j < 256; ++j) {
        ASSERT_EQ(plateau.data[j], edges.data[j]);
    }

    array<float> one(1);
    one.data[0] = 3.0f;
    extractor.smooth(one);
    EXPECT_EQ(one.data[0], 3.0f);
}

TEST(MCLandmarkExtract, AFrameKeepsOnlyItsFiveStrongestPeaks) {
    // Seven steady tones 35 bins apart: the Gaussian of one barely reaches the next, so only
    // the per-frame limit stops them.
    std::vector<float> tones(8000 * 4, 0.0f);
    const int bins[] = {20, 55, 90, 125, 160, 195, 230};
    for (std::size_t i = 0; i < tones.size(); ++i) {
        double v = 0.0;
        for (int b = 0; b < 7; ++b) {
            v += (0.05 + 0.01 * b) * std::sin(2.0 * M_PI * bins[b] * i / 512.0);
        }
        tones[i] = static_cast<float>(v);
    }
    MCLandmarkExtract extractor{MCExtractParams()};
    extractor.setupFFT();
    MemoryInput input(tones);
    extractor.findFreqPeaks(&input);
    std::size_t most = 0;
    for (const auto* list : *extractor.frames) {
        most = std::max(most, list->size());
    }
    EXPECT_EQ(most, 5u);
    for (const auto* list : *extractor.frames) {
        if (list->size() == 5) {
            std::set<int> kept;
            for (const Peak* p : *list) {
                kept.insert(p->bin);
            }
            EXPECT_EQ(kept, (std::set<int>{90, 125, 160, 195, 230}));  // the five loudest
            break;
        }
    }
}

// The hash packs the frame difference and both bins; peaks of one frame pair both ways.
TEST(MCLandmarkExtract, HashPacksFrameDifferenceAndBins) {
    MCLandmarkExtract extractor{MCExtractParams()};
    std::vector<std::vector<std::pair<int, float>>> lists(104);
    lists[100] = {{37, -10.0f}};
    lists[103] = {{52, -20.0f}};
    setFrames(extractor, lists);
    MCFile file(1);
    extractor.combine(&file);
    ASSERT_EQ(file.landmarks.at(100).size(), 1u);
    EXPECT_EQ(file.landmarks.at(100)[0]->hash, 3183668u);
    EXPECT_EQ(file.landmarks.at(100)[0]->time, 100);
    setFrames(extractor, {{{40, -1.0f}, {60, -2.0f}}});
    MCFile one(1);
    extractor.combine(&one);
    const auto& at0 = one.landmarks.at(0);
    ASSERT_EQ(at0.size(), 2u);
    EXPECT_EQ(at0[0]->hash, (40u << 10) | 60u);
    EXPECT_EQ(at0[1]->hash, (60u << 10) | 40u);

    // The peak listing skips empty frames.
    setFrames(extractor, {{{5, -1.5f}, {9, 2.25f}}, {}, {{7, -40.0f}}});
    EXPECT_EQ(stdoutOf([&] { extractor.printPeaks(); }),
              "FRAME: 0\nf: 9 a: 2.25 t:0\nf: 5 a: -1.5 t:0\nFRAME: 2\nf: 7 a: -40 t:2\n");
}

TEST(MCLandmarkExtract, PartnerSearchZoneAndLimit) {
    MCLandmarkExtract extractor{MCExtractParams()};
    std::vector<std::vector<std::pair<int, float>>> lists(200);
    lists[0] = {{10, 0.0f}};
    // Bins 0 to 72 are inside the zone of an anchor at bin 10; 73 is not.
    lists[1] = {{73, -1.0f}, {72, -2.0f}};
    lists[2] = {{0, -3.0f}};
    lists[127] = {{11, -4.0f}};  // 127 frames ahead: outside
    setFrames(extractor, lists);
    std::vector<Peak*> found;
    extractor.findNeighborPeaks((*extractor.frames)[0]->at(0), found);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->bin, 72);
    EXPECT_EQ(found[1]->bin, 0);

    // Twenty qualifying peaks: the search stops after the eleventh, in search order.
    std::vector<std::vector<std::pair<int, float>>> many(5);
    many[0] = {{100, 0.0f}, {101, -1.0f}, {102, -2.0f}};
    for (int f = 1; f < 5; ++f) {
        for (int b = 0; b < 5; ++b) {
            many[f].push_back({90 + 3 * b, -static_cast<float>(b)});
        }
    }
    setFrames(extractor, many);
    found.clear();
    extractor.findNeighborPeaks((*extractor.frames)[0]->at(0), found);
    ASSERT_EQ(found.size(), 11u);
    EXPECT_EQ(found[0]->bin, 101);  // own frame first, the anchor itself skipped
    EXPECT_EQ(found[1]->bin, 102);
    EXPECT_EQ(found[2]->frame, 1);
    EXPECT_EQ(found[10]->frame, 2);
    EXPECT_EQ(found[10]->bin, 99);

    // Near the top, the zone reaches bin M = 256; in the last frame only the frame itself.
    std::vector<std::vector<std::pair<int, float>>> top(3);
    top[2] = {{250, 0.0f}, {188, -1.0f}, {187, -2.0f}};
    setFrames(extractor, top);
    found.clear();
    extractor.findNeighborPeaks((*extractor.frames)[2]->at(0), found);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->bin, 188);

    // A lone anchor has no partner and makes no landmark.
    setFrames(extractor, {{{30, 0.0f}}});
    MCFile file(1);
    extractor.combine(&file);
    EXPECT_TRUE(file.landmarks.empty());
}

namespace {

std::string wav(const TempDir& dir, const std::string& name, std::uint32_t rate = 8000) {
    const std::string path = dir.path(name);
    TrelisSynth::writeWav(path, TrelisSynth::musicLike(9, 4.0, rate), rate);
    return path;
}

}  // namespace

// Only lower-case .wav files are taken; a file of another rate or no WAVE at all is reported, and
// its id is left as a gap.
TEST(MCLandmarkExtractRunAll, ReportsUnusableFilesAndLeavesGapsInTheIds) {
    TempDir dir;
    MCLandmarkExtract extractor{MCExtractParams()};
    std::unique_ptr<MCFileSet> set;
    EXPECT_EQ(stdoutOf([&] { set.reset(extractor.runAll({})); }), "");
    EXPECT_TRUE(set->getFiles().empty());
    const std::string upper = wav(dir, "a.WAV");
    const std::string x = wav(dir, "x.wav", 16000);
    const std::string y = wav(dir, "y.wav");
    const std::string text = dir.path("t.wav");
    TrelisTest::WavImage().raw({'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'}).save(text);
    const std::string out = stdoutOf([&] {
        set.reset(extractor.runAll({upper, x, dir.path("notes.txt"), y, text}));
    });
    EXPECT_EQ(out, "STARTING: " + x + " (id 1)\n[ERROR]:" + x +
                       " has an incorrect sample rate\nFEATURE EXTRACTION COMPLETE: " + x +
                       "\nSTARTING: " + y + " (id 2)\nFEATURE EXTRACTION COMPLETE: " + y +
                       "\nSTARTING: " + text + " (id 3)\n[ERROR]: Could not load: " + text +
                       "\nFEATURE EXTRACTION COMPLETE: " + text + "\n");
    ASSERT_EQ(set->getFiles().size(), 1u);
    EXPECT_FALSE(set->getFiles().at(2)->landmarks.empty());
    EXPECT_EQ(set->idToName, (std::map<int, std::string>{{2, "y"}}));
    EXPECT_EQ(set->idToPath.at(2), y);
    EXPECT_EQ(set->nameToId.at("y"), 2);
}

// Base names are cut at the last dot of the last part; of two files with one base name, the name
// maps to the later id.
TEST(MCLandmarkExtractRunAll, BaseNamesAndTheirIds) {
    TempDir dir;
    std::filesystem::create_directories(dir.path("a"));
    std::filesystem::create_directories(dir.path("d.x"));
    const std::string first = wav(dir, "a/take.wav");
    const std::string second = wav(dir, "d.x/take.wav");
    const std::string dotted = wav(dir, "d.x/cam1.take2.wav");
    const std::string hidden = wav(dir, "d.x/.wav");
    MCLandmarkExtract extractor{MCExtractParams()};
    std::unique_ptr<MCFileSet> set;
    stdoutOf([&] { set.reset(extractor.runAll({first, second, dotted, hidden})); });
    EXPECT_EQ(set->idToName,
              (std::map<int, std::string>{{1, "take"}, {2, "take"}, {3, "cam1.take2"}, {4, ""}}));
    EXPECT_EQ(set->nameToId.at("take"), 2);
    EXPECT_EQ(set->idToPath.at(1), first);
}
