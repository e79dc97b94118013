// The drift resampler on a minute of sines: the output must be the sine the reference clock
// hears, in phase from the first frame to the last, so that a delay or a ratio off by 0.01 ppm
// (a phase error of 2 pi f 60 s 1e-8, several thousandths of full scale at the end) shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "DriftResampler.h"

namespace {

struct Drift {
    int rate;
    int channels;
    double ppm;
};

void PrintTo(const Drift& d, std::ostream* out) {
    *out << d.rate << " Hz, " << d.channels << " channels, " << d.ppm << " ppm";
}

// Channel c's tone; all well inside the band at every rate tested.
double frequency(int channel) {
    return 1000.0 + 700.0 * channel;
}

// Sample `frame` of channel `c` of the tone at `rate`, on a clock that runs `stretch` fast.
double tone(double frame, int c, int rate, double stretch) {
    return 0.5 * std::sin(2.0 * M_PI * frequency(c) * frame * stretch / rate);
}

class DriftResampling : public ::testing::TestWithParam<Drift> {};

}  // namespace

TEST_P(DriftResampling, OutputFrameKIsInputFrameKTimesOnePlusTheDrift) {
    const Drift& d = GetParam();
    const double stretch = 1.0 + d.ppm * 1e-6;
    const std::size_t frames = static_cast<std::size_t>(60) * d.rate;
    Trelis::DriftResampler resampler(d.channels, d.ppm);
    std::vector<float> output;
    std::vector<float> block(4096 * static_cast<std::size_t>(d.channels));
    std::vector<float> made;
    for (std::size_t at = 0; at < frames; at += 4096) {
        const std::size_t count = std::min<std::size_t>(4096, frames - at);
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < d.channels; ++c) {
                // The recorder's own samples: its clock is the one that runs fast.
                block[i * d.channels + c] =
                    static_cast<float>(tone(static_cast<double>(at + i), c, d.rate, 1.0));
            }
        }
        resampler.push(block.data(), count, made);
        output.insert(output.end(), made.begin(), made.end());
    }
    resampler.finish(made);
    output.insert(output.end(), made.begin(), made.end());

    const std::size_t produced = output.size() / d.channels;
    EXPECT_NEAR(static_cast<double>(produced), static_cast<double>(frames) / stretch, 1.0);
    // Away from both ends, where the filter meets the edges of the sound.
    const std::size_t margin = static_cast<std::size_t>(d.rate) / 10;
    double worst = 0.0;
    std::size_t worstAt = 0;
    for (std::size_t k = margin; k + margin < produced; ++k) {
        for (int c = 0; c < d.channels; ++c) {
            const double error = std::fabs(output[k * d.channels + c] -
                                           tone(static_cast<double>(k), c, d.rate, stretch));
            if (error > worst) {
                worst = error;
                worstAt = k;
            }
        }
    }
    EXPECT_LT(worst, 1e-3) << "at output frame " << worstAt;
}

INSTANTIATE_TEST_SUITE_P(Clocks, DriftResampling,
                         ::testing::Values(Drift{8000, 1, 100.0}, Drift{48000, 2, -250.0},
                                           Drift{44100, 3, 0.37}, Drift{8000, 1, 0.0}));
