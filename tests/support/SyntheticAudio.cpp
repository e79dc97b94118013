#include "support/SyntheticAudio.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "support/WavImage.h"

namespace TrelisTest {

namespace {

// Uniform in [0, 1) from the generator's raw 32-bit output.
double unit(std::mt19937& rng) {
    return static_cast<double>(rng()) / 4294967296.0;
}

}  // namespace

std::vector<float> musicLike(std::uint32_t seed, double seconds, std::uint32_t rate) {
    std::mt19937 rng(seed);
    const auto total = static_cast<std::size_t>(seconds * rate);
    std::vector<double> mix(total, 0.0);
    const double twoPi = 6.283185307179586;
    // Pitches of a pentatonic scale over three octaves, so notes share partials as music does.
    const double scale[] = {1.0, 9.0 / 8, 5.0 / 4, 3.0 / 2, 5.0 / 3};

    double start = 0.0;
    while (start < seconds) {
        const double length = 0.15 + 0.45 * unit(rng);
        const auto first = static_cast<std::size_t>(start * rate);
        const auto count = std::min(total - std::min(total, first),
                                    static_cast<std::size_t>((length + 0.3) * rate));
        const int kind = static_cast<int>(rng() % 10);
        if (kind < 7) {
            // A note: a fundamental with four decaying harmonics.
            // One draw per statement: the order of two draws in one expression is unspecified.
            const double degree = scale[rng() % 5];
            const double octave = static_cast<double>(1 << (rng() % 3));
            const double f0 = 110.0 * degree * octave;
            const double gain = 0.05 + 0.12 * unit(rng);
            for (std::size_t i = 0; i < count; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double envelope = std::exp(-3.0 * t / length) * std::min(1.0, t * 200.0);
                double v = 0.0;
                for (int h = 1; h <= 5; ++h) {
                    v += std::sin(twoPi * f0 * h * t) / h;
                }
                mix[first + i] += gain * envelope * v;
            }
        } else if (kind < 9) {
            // A chirp sweeping up or down.
            const double f1 = 200.0 + 2500.0 * unit(rng);
            const double f2 = 200.0 + 2500.0 * unit(rng);
            const double gain = 0.1 * unit(rng) + 0.05;
            for (std::size_t i = 0; i < count; ++i) {
                const double t = static_cast<double>(i) / rate;
                const double phase = twoPi * (f1 * t + (f2 - f1) * t * t / (2.0 * (length + 0.3)));
                mix[first + i] += gain * std::sin(phase) * std::exp(-2.0 * t / length);
            }
        } else {
            // A percussive noise burst.
            const double gain = 0.1 + 0.2 * unit(rng);
            for (std::size_t i = 0; i < count; ++i) {
                const double t = static_cast<double>(i) / rate;
                mix[first + i] += gain * (2.0 * unit(rng) - 1.0) * std::exp(-30.0 * t);
            }
        }
        start += length * (0.5 + 0.5 * unit(rng));
    }
    std::vector<float> out(total);
    for (std::size_t i = 0; i < total; ++i) {
        out[i] = static_cast<float>(std::tanh(mix[i]));
    }
    return out;
}

std::vector<std::int16_t> toPcm16(const std::vector<float>& samples) {
    std::vector<std::int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double v = std::round(static_cast<double>(samples[i]) * 32768.0);
        out[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
    return out;
}

void writeWav(const std::string& path, const std::vector<float>& samples, std::uint32_t rate) {
    WavImage().riff().fmt(1, 1, rate, 16).data(WavImage::pcm16(toPcm16(samples))).save(path);
}

bool MemoryInput::read(Trelis::array<float>& block) {
    ++reads;
    const std::size_t want = static_cast<std::size_t>(std::max(block.size(), 0));
    const std::size_t have = std::min(want, samples_.size() - position_);
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(position_), have, block.data);
    position_ += have;
    return true;
}

}  // namespace TrelisTest
