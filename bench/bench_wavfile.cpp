// WAVE reading speed: ten minutes of 8000 Hz 16-bit audio, mono and stereo, read whole and in
// blocks of 256 samples as the extractor reads it. Reported as samples per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "wavfile_t.h"

namespace {

constexpr std::uint32_t kFrames = 10 * 60 * 8000;

std::string makeFile(int channels) {
    const std::string path = "/tmp/trelis-bench-" + std::to_string(channels) + "ch.wav";
    const std::uint32_t dataBytes = kFrames * channels * 2;
    std::vector<unsigned char> bytes(44 + dataBytes);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
        }
    };
    std::copy_n("RIFF", 4, bytes.begin());
    put(4, 36 + dataBytes, 4);
    std::copy_n("WAVEfmt ", 8, bytes.begin() + 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, channels, 2);
    put(24, 8000, 4);
    put(28, 8000 * channels * 2, 4);
    put(32, channels * 2, 2);
    put(34, 16, 2);
    std::copy_n("data", 4, bytes.begin() + 36);
    put(40, dataBytes, 4);
    std::mt19937 rng(1);
    for (std::size_t i = 44; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(rng());
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

void ReadWave(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const auto block = static_cast<std::uint32_t>(state.range(1));
    const std::string path = makeFile(channels);
    Trelis::array<float> out(block);
    for (auto _ : state) {
        Trelis::wavfile_t reader(path, 1, 1, 16000);
        for (std::uint32_t done = 0; done < kFrames; done += block) {
            reader.read_mono(out);
        }
        benchmark::DoNotOptimize(out.data[0]);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
    state.SetLabel(std::to_string(channels) + " channel(s), blocks of " + std::to_string(block));
    std::remove(path.c_str());
}
BENCHMARK(ReadWave)
    ->Args({1, 256})
    ->Args({1, kFrames})
    ->Args({2, 256})
    ->Args({2, kFrames})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
