// Deterministic synthetic audio for the tests and the demo: music-like notes with harmonics,
// chirps and noise bursts made from a seed alone (no library random distributions, whose output
// differs between standard libraries), and recordings of it as a device would make them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TrelisSynth {

// `seconds` of audio at `rate` Hz, full scale below 1.0.
std::vector<float> musicLike(std::uint32_t seed, double seconds, std::uint32_t rate = 8000);

// The samples as 16-bit PCM, rounded to nearest and clipped.
std::vector<std::int16_t> toPcm16(const std::vector<float>& samples);

// Writes a 16-bit mono WAVE file; throws std::runtime_error when it can't.
void writeWav(const std::string& path, const std::vector<float>& samples,
              std::uint32_t rate = 8000);

// `count` samples of the band-limited signal behind `samples`, taken at the (fractional) sample
// positions start, start + step, start + 2 step, ...: a recording that starts between two
// samples of `samples`, or whose clock runs 1 / step times as fast. Windowed-sinc interpolation;
// positions outside the signal read as 0.
std::vector<float> resample(const std::vector<float>& samples, double start, std::size_t count,
                            double step);

// One device recording a window of an event.
struct Device {
    std::string name;
    double start;    // seconds into the event
    double seconds;  // length of the recording
    double gain;
    double noise;  // amplitude of its own uniform noise
    double echo;   // seconds of delay of an echo at 0.3; 0 for none
};

// What `device` records of `event` (sampled at `rate`); its noise comes from `seed`.
std::vector<float> record(const std::vector<float>& event, const Device& device, std::uint32_t seed,
                          std::uint32_t rate = 8000);

}  // namespace TrelisSynth
