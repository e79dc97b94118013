// Recorded digests of extraction over varied inputs and settings: the landmarks of each run (time,
// hash, order) and the peaks the extractor keeps (frame, bin, exact amplitude bits, order). They
// were recorded with the straightforward implementation; any speed work must leave them as they
// are.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Landmark.h"
#include "MCFile.h"
#include "MCLandmarkExtract.h"
#include "extract/Peak.h"
#include "support/MemoryInput.h"
#include "support/WavImage.h"
#include "synth/Synth.h"

using namespace Trelis;
using TrelisTest::MemoryInput;

namespace {

struct Digest {
    std::size_t landmarks = 0;
    std::size_t peaks = 0;
    std::uint64_t value = 1469598103934665603ull;  // FNV-1a

    void add(std::uint32_t word) {
        for (int b = 0; b < 4; ++b) {
            value = (value ^ ((word >> (8 * b)) & 0xFF)) * 1099511628211ull;
        }
    }
};

Digest digestOf(const MCFile& file, const MCLandmarkExtract& extractor) {
    Digest d;
    for (const auto& frame : file.landmarks) {
        d.add(static_cast<std::uint32_t>(frame.first));
        for (const Landmark* l : frame.second) {
            d.add(static_cast<std::uint32_t>(l->time));
            d.add(l->hash);
            ++d.landmarks;
        }
    }
    d.add(static_cast<std::uint32_t>(extractor.frames->size()));
    for (const std::vector<Peak*>* list : *extractor.frames) {
        d.add(static_cast<std::uint32_t>(list->size()));
        for (const Peak* p : *list) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &p->amplitude, sizeof bits);
            d.add(static_cast<std::uint32_t>(p->frame));
            d.add(static_cast<std::uint32_t>(p->bin));
            d.add(bits);
            ++d.peaks;
        }
    }
    return d;
}

Digest run(MCLandmarkExtract& extractor, std::vector<float> samples) {
    MemoryInput input(std::move(samples));
    std::unique_ptr<MCFile> file(extractor.run(&input, 1));
    return digestOf(*file, extractor);
}

// Uniform white noise in [-amplitude, amplitude) from a fixed xorshift sequence.
std::vector<float> noise(std::uint32_t seed, std::size_t count, float amplitude) {
    std::vector<float> out(count);
    std::uint32_t x = seed;
    for (float& v : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = amplitude * (static_cast<float>(x >> 8) / 8388608.0f - 1.0f);
    }
    return out;
}

void expectDigest(const Digest& d, std::size_t landmarks, std::size_t peaks, std::uint64_t value) {
    EXPECT_EQ(d.landmarks, landmarks);
    EXPECT_EQ(d.peaks, peaks);
    EXPECT_EQ(d.value, value);
}

}  // namespace

// Music-like sound, white noise and silence; music, then near silence, then noise (the drop below
// the loudest level and the decay matter); the shortest inputs (exactly the initial threshold
// frames, a few more, one too few); pairs of clicks in silence, whose frames hold combs of equally
// strong peaks over a flat threshold, so equal amplitudes compete for the same places; and samples
// that are not a number or infinite, whose levels have no order.
TEST(ExtractionDigest, DefaultSettings) {
    std::vector<float> sections = TrelisSynth::musicLike(3, 6.0);
    for (std::size_t i = sections.size() / 2; i < sections.size(); ++i) {
        sections[i] *= 1e-4f;
    }
    const std::vector<float> tail = noise(77u, 8000 * 3, 0.05f);
    sections.insert(sections.end(), tail.begin(), tail.end());
    std::vector<float> clicks(8000 * 2, 0.0f);
    for (std::size_t start = 3000; start + 16 < clicks.size(); start += 1500) {
        clicks[start] = 0.5f;
        clicks[start + 8 + (start / 1500) % 3 * 8] = 0.5f;
    }
    std::vector<float> unordered = TrelisSynth::musicLike(51, 3.0);
    unordered[9000] = std::numeric_limits<float>::quiet_NaN();
    unordered[16000] = std::numeric_limits<float>::infinity();
    const struct {
        const char* what;
        std::vector<float> samples;
        std::size_t landmarks, peaks;
        std::uint64_t value;
    } cases[] = {
        {"music", TrelisSynth::musicLike(11, 20.0), 1906, 193, 13281309157133448895ull},
        {"white noise", noise(12345u, 8000 * 15, 0.5f), 14686, 1349, 15371866380107084645ull},
        {"silence", std::vector<float>(8000 * 5, 0.0f), 0, 0, 5105220746629420894ull},
        {"sections", sections, 2958, 289, 7597813252758292206ull},
        {"2304 samples", TrelisSynth::musicLike(21, 2304.0 / 8000), 54, 14,
         10249021907391695845ull},
        {"3000 samples", TrelisSynth::musicLike(22, 3000.0 / 8000), 13, 5, 8046887471153930613ull},
        {"2303 samples", TrelisSynth::musicLike(23, 2303.0 / 8000), 0, 0, 3554543661169652019ull},
        {"clicks", clicks, 789, 82, 16235760368156519265ull},
        {"unordered", unordered, 193, 30, 9924251105932576078ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MCLandmarkExtract extractor{MCExtractParams()};
        expectDigest(run(extractor, c.samples), c.landmarks, c.peaks, c.value);
    }
}

// Other frame sizes and hops (one that doesn't divide the frame), more peaks per frame.
TEST(ExtractionDigest, OtherSettings) {
    MCExtractParams wide;
    wide.setFftSize(1024);
    wide.setHopSize(300);
    wide.maxPeaksPerFrame = 8;
    MCLandmarkExtract wideExtractor(wide);
    expectDigest(run(wideExtractor, TrelisSynth::musicLike(31, 8.0)), 1272, 139,
                 90872038296993883ull);
    expectDigest(run(wideExtractor, noise(9u, 8000 * 4, 0.3f)), 5572, 530, 15447136154488747659ull);

    MCExtractParams narrow;
    narrow.setFftSize(64);
    narrow.setHopSize(64);
    narrow.maxPeaksPerFrame = 3;
    narrow.freqRange = 10;
    narrow.timeRange = 20;
    MCLandmarkExtract narrowExtractor(narrow);
    expectDigest(run(narrowExtractor, TrelisSynth::musicLike(32, 4.0)), 2, 16,
                 15695603173670370989ull);
}

// Through a 16-bit WAVE file, as the command line and the benchmark read audio.
TEST(ExtractionDigest, WaveFile) {
    TrelisTest::TempDir dir;
    const std::string path = dir.path("take.wav");
    std::vector<float> samples = TrelisSynth::musicLike(41, 10.0);
    const std::vector<float> hiss = noise(5u, samples.size(), 0.02f);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] += hiss[i];
    }
    TrelisSynth::writeWav(path, samples);
    MCLandmarkExtract extractor{MCExtractParams()};
    std::unique_ptr<MCFile> file(extractor.run(path, 1));
    ASSERT_NE(file, nullptr);
    expectDigest(digestOf(*file, extractor), 864, 94, 3774514076478247616ull);
}
