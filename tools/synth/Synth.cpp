#include "synth/Synth.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

namespace TrelisSynth {

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

std::vector<float> resample(const std::vector<float>& samples, double start, std::size_t count,
                            double step) {
    constexpr int kHalf = 24;  // taps either side
    const double pi = 3.141592653589793;
    const auto size = static_cast<long long>(samples.size());
    std::vector<float> out(count, 0.0f);
    for (std::size_t k = 0; k < count; ++k) {
        const double at = start + step * static_cast<double>(k);
        const auto centre = static_cast<long long>(std::floor(at));
        // sin(pi (at - i)) only changes sign from one tap to the next.
        const double fraction = at - static_cast<double>(centre);
        const double base = std::sin(pi * fraction);
        double sum = 0.0;
        for (long long i = centre - kHalf + 1; i <= centre + kHalf; ++i) {
            if (i < 0 || i >= size) {
                continue;
            }
            const double x = at - static_cast<double>(i);
            const double sign = ((centre - i) % 2 == 0) ? 1.0 : -1.0;
            const double sinc = std::fabs(x) < 1e-12 ? 1.0 : sign * base / (pi * x);
            const double u = x / kHalf;
            const double window = (1.0 - u * u) * (1.0 - u * u);
            sum += samples[static_cast<std::size_t>(i)] * sinc * window;
        }
        out[k] = static_cast<float>(sum);
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
    const std::vector<std::int16_t> pcm = toPcm16(samples);
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    std::vector<unsigned char> bytes;
    const auto put = [&bytes](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
        }
    };
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    put(36 + dataBytes, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(rate, 4);
    put(rate * 2, 4);
    put(2, 2);
    put(16, 2);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    put(dataBytes, 4);
    for (std::int16_t v : pcm) {
        put(static_cast<std::uint16_t>(v), 2);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("writeWav: cannot write " + path);
    }
}

std::vector<float> record(const std::vector<float>& event, const Device& device, std::uint32_t seed,
                          std::uint32_t rate) {
    const auto first = static_cast<std::size_t>(std::lround(device.start * rate));
    const auto count = static_cast<std::size_t>(device.seconds * rate);
    const auto delay = static_cast<std::size_t>(device.echo * rate);
    std::mt19937 rng(seed);
    std::vector<float> out(count);
    for (std::size_t n = 0; n < count && first + n < event.size(); ++n) {
        const std::size_t at = first + n;
        double v = event[at];
        if (delay > 0 && at >= delay) {
            v += 0.3 * event[at - delay];
        }
        const double noise = device.noise * (static_cast<double>(rng()) / 2147483648.0 - 1.0);
        out[n] = static_cast<float>(device.gain * v + noise);
    }
    return out;
}

}  // namespace TrelisSynth
