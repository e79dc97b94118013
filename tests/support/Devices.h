// What a device hears of an event, for the matching and alignment tests on recordings in memory.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "synth/Synth.h"

namespace TrelisTest {

// What a device hears of `event` (8000 Hz) from `start` seconds, `seconds` long: its clock `ppm`
// fast, through a room of two echoes when `room`, with its own noise `snrDb` below the sound.
inline std::vector<float> heardBy(const std::vector<float>& event, double start, double seconds,
                                  double ppm, double snrDb, unsigned seed, bool room = false) {
    constexpr double kRate = 8000.0;
    const auto count = static_cast<std::size_t>(seconds * kRate);
    const std::vector<float> direct =
        TrelisSynth::resample(event, start * kRate, count, 1.0 / (1.0 + ppm * 1e-6));
    std::vector<float> out(direct);
    for (std::size_t n = 0; room && n < out.size(); ++n) {
        out[n] +=
            (n >= 173 ? 0.6f * direct[n - 173] : 0.0f) + (n >= 411 ? 0.4f * direct[n - 411] : 0.0f);
    }
    double power = 0.0;
    for (float v : out) {
        power += static_cast<double>(v) * v;
    }
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(
        0.0, std::sqrt(power / count) * std::pow(10.0, -snrDb / 20.0));
    for (float& v : out) {
        v += static_cast<float>(noise(rng));
    }
    return out;
}

}  // namespace TrelisTest
