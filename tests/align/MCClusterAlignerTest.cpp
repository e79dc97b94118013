// The alignment: one pair measured on its own, and whole clusters through a recording source.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MCClusterAligner.h"
#include "support/ClusterResults.h"
#include "support/Devices.h"
#include "support/MemoryInput.h"
#include "support/MemorySource.h"
#include "synth/Synth.h"

using namespace Trelis;
using TrelisTest::MemoryInput;
using TrelisTest::MemorySource;

namespace {

// One minute of the event is enough for every test but the drifting one.
const std::vector<float>& event() {
    static const std::vector<float> samples = TrelisSynth::musicLike(5, 330.0);
    return samples;
}

// What a device hears of the event through a room of two echoes.
std::vector<float> device(double start, double seconds, double ppm, double snrDb, unsigned seed) {
    return TrelisTest::heardBy(event(), start, seconds, ppm, snrDb, seed, true);
}

// A cluster of (file id, frame-accurate offset) members.
TrelisTest::Result cluster(const std::vector<std::pair<int, float>>& members) {
    std::vector<std::tuple<int, std::string, float>> named;
    for (const auto& [id, offset] : members) {
        named.emplace_back(id, "m" + std::to_string(id), offset);
    }
    return TrelisTest::makeResult({named});
}

const MemberAlignment& member(const ClusterAlignment& a, int id) {
    for (const MemberAlignment& m : a.members) {
        if (m.fileId == id) {
            return m;
        }
    }
    throw std::logic_error("no member " + std::to_string(id));
}

}  // namespace

// A second device 12.3456 s later, between two samples, through a room and noise at 5 dB SNR,
// found from an estimate 20 ms off; the same copy without the estimate's error, a copy at
// another rate, and unrelated sound.
TEST(MCClusterAligner, MeasuresAFractionalOffsetFromAnEstimateFramesOff) {
    const MCClusterAligner aligner{MCAlignParams()};
    MemoryInput first(device(0.0, 40.0, 0.0, 5.0, 1));
    MemoryInput second(device(12.34567, 30.0, 0.0, 5.0, 2));
    const PairAlignment pair = aligner.measure(first, second, 12.34567 + 0.02);
    ASSERT_TRUE(pair.measured) << describe(pair.reason);
    EXPECT_NEAR(pair.offset, 12.34567, 20e-6);
    EXPECT_LT(pair.offsetError, 50e-6);
    EXPECT_EQ(pair.agreeing, pair.windows);
    EXPECT_GE(pair.windows, 2);
    EXPECT_GT(pair.confidence, 0.5);
    EXPECT_LE(pair.confidence, 1.0);

    // Second first: the offset is negative.
    const PairAlignment swapped = aligner.measure(second, first, -12.3);
    ASSERT_TRUE(swapped.measured);
    EXPECT_NEAR(swapped.offset, -12.34567, 20e-6);

    MemoryInput other(TrelisSynth::musicLike(99, 30.0));
    const PairAlignment unrelated = aligner.measure(first, other, 5.0);
    EXPECT_FALSE(unrelated.measured);
    EXPECT_EQ(unrelated.reason, AlignReason::NoAgreement);

    // Half a second of overlap is below the minimum of one.
    const PairAlignment brief = aligner.measure(first, second, 39.5);
    EXPECT_FALSE(brief.measured);
    EXPECT_EQ(brief.reason, AlignReason::ShortOverlap);
    EXPECT_EQ(brief.windows, 0);
}

// Over five minutes a clock 40 ppm fast drifts 12 ms; the fit follows it, and the offset is that
// of the second recording's first sample.
TEST(MCClusterAligner, FitsDriftAlongALongOverlap) {
    const MCClusterAligner aligner{MCAlignParams()};
    MemoryInput first(device(0.0, 320.0, 0.0, 10.0, 3));
    MemoryInput second(device(15.0, 300.0, 40.0, 10.0, 4));
    const PairAlignment pair = aligner.measure(first, second, 15.0);
    ASSERT_TRUE(pair.measured) << describe(pair.reason);
    EXPECT_NEAR(pair.driftPpm, 40.0, 0.5);
    EXPECT_LT(pair.driftError, 0.5);
    EXPECT_NEAR(pair.offset, 15.0, 50e-6);
    EXPECT_GE(pair.windows, 25);
    EXPECT_GE(pair.agreeing, pair.windows - 1);
}

// A cluster of five: 1 and 2 from the start, 3 later with a fast clock, 4 unreadable, 5 linked by
// an overlap too short to measure. Only the chain 1-2, 2-3 is named; 5's pairs come from the
// fallback. Frame-accurate offsets are off by up to a frame.
TEST(MCClusterAligner, SolvesAClusterOnTheReferenceClockAndSaysWhatItCouldNot) {
    MemorySource source;
    source.recordings[1] = device(2.0, 60.0, 0.0, 10.0, 11);
    source.recordings[2] = device(0.5, 50.0, 0.0, 10.0, 12);
    source.recordings[3] = device(20.25, 120.0, 25.0, 10.0, 13);
    source.recordings[5] = device(140.4, 20.0, 0.0, 10.0, 15);
    const TrelisTest::Result result =
        cluster({{1, 1.50f}, {2, 0.0f}, {3, 19.76f}, {4, 3.0f}, {5, 139.9f}});
    const MCClusterAligner aligner{MCAlignParams()};
    const ClusterAlignment a = aligner.align(**result->begin(), {{1, 2}, {2, 3}, {7, 1}}, source);

    EXPECT_EQ(source.opened, source.closed);
    EXPECT_EQ(a.reference, 2);
    ASSERT_EQ(a.members.size(), 5u);
    EXPECT_EQ(member(a, 2).status, MemberAlignment::Status::Reference);
    EXPECT_EQ(member(a, 2).offset, 0.0);
    EXPECT_EQ(member(a, 1).status, MemberAlignment::Status::Refined);
    EXPECT_NEAR(member(a, 1).offset, 1.5, 30e-6);
    EXPECT_EQ(member(a, 3).status, MemberAlignment::Status::Refined);
    EXPECT_NEAR(member(a, 3).offset, 19.75, 50e-6);
    EXPECT_TRUE(member(a, 3).driftMeasured);
    EXPECT_NEAR(member(a, 3).driftPpm, 25.0, 2.0);
    EXPECT_GT(member(a, 3).confidence, 0.0);
    // The reference's drift is 0 by definition; 1 shares its clock.
    EXPECT_NEAR(member(a, 1).driftPpm, 0.0, 5.0);

    EXPECT_EQ(member(a, 4).status, MemberAlignment::Status::Unrefined);
    EXPECT_EQ(member(a, 4).reason, AlignReason::Unreadable);
    EXPECT_EQ(member(a, 4).offset, 3.0f - 0.0);
    // 5 overlaps only 3, by under a second: it keeps its frame-accurate place.
    EXPECT_EQ(member(a, 5).status, MemberAlignment::Status::Unrefined);
    EXPECT_EQ(member(a, 5).reason, AlignReason::ShortOverlap);
    EXPECT_NEAR(member(a, 5).offset, 139.9f, 1e-9);

    // Every measured pair is listed once, in order, and those named first are used.
    ASSERT_FALSE(a.pairs.empty());
    for (std::size_t k = 1; k < a.pairs.size(); ++k) {
        EXPECT_LT(std::make_pair(a.pairs[k - 1].first, a.pairs[k - 1].second),
                  std::make_pair(a.pairs[k].first, a.pairs[k].second));
    }
    EXPECT_TRUE(a.pairs.front().used);  // (1, 2)
    // 1 and 3 are measured through the named pairs: their own pair is not measured.
    for (const PairAlignment& p : a.pairs) {
        EXPECT_FALSE(p.first == 1 && p.second == 3);
    }
}

// A cluster of one is its own reference; a cluster in which nothing can be read keeps its
// frame-accurate offsets, and says why.
TEST(MCClusterAligner, ClustersWithNothingToMeasure) {
    MemorySource source;
    const MCClusterAligner aligner{MCAlignParams()};
    const TrelisTest::Result alone = cluster({{4, 0.0f}});
    const ClusterAlignment one = aligner.align(**alone->begin(), {}, source);
    ASSERT_EQ(one.members.size(), 1u);
    EXPECT_EQ(one.members[0].status, MemberAlignment::Status::Reference);
    EXPECT_EQ(source.opened, 0);

    source.recordings[1] = device(0.0, 10.0, 0.0, 10.0, 21);
    const TrelisTest::Result unread = cluster({{1, 0.0f}, {2, 4.5f}});
    const ClusterAlignment none = aligner.align(**unread->begin(), {{1, 2}}, source);
    EXPECT_EQ(none.reference, -1);
    EXPECT_EQ(member(none, 1).status, MemberAlignment::Status::Unrefined);
    EXPECT_EQ(member(none, 1).reason, AlignReason::NoPartner);
    EXPECT_EQ(member(none, 2).reason, AlignReason::Unreadable);
    EXPECT_NEAR(member(none, 2).offset, 4.5, 1e-9);
}
