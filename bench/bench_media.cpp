// Decoding plus extraction of camera files made by scripts/prepare-bench-audio.sh (folder in
// TRELIS_BENCH_AUDIO): 48 kHz stereo AAC in MP4 beside a small video track, ten minutes and one
// hour. Throughput in times real time on one core, and the peak resident size of the process
// (run each case in its own process to compare them: --benchmark_filter=DecodeOnly/camera_10min,
// then DecodeOnly/camera_60min). With extraction, the landmarks kept grow with the length.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "MCFile.h"
#include "MCLandmarkExtract.h"
#include "MediaInput.h"

namespace {

std::string audio(const char* name) {
    const char* dir = std::getenv("TRELIS_BENCH_AUDIO");
    return std::string(dir ? dir : "build/bench-audio") + "/" + name;
}

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Runs `pass` (which returns the seconds of audio it went through) once per iteration and
// reports times real time and the peak resident size.
template <typename Pass>
void measure(benchmark::State& state, const std::string& path, Pass pass) {
    double seconds = 0.0;
    for (auto _ : state) {
        try {
            seconds = pass();
        } catch (const std::exception& e) {
            state.SkipWithError((path + ": " + e.what()).c_str());
            return;
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["peak_MiB"] = peakMiB();
}

void Media(benchmark::State& state, const char* name) {
    const std::string path = audio(name);
    Trelis::MCLandmarkExtract extractor{Trelis::MCExtractParams()};
    measure(state, path, [&] {
        Trelis::MediaInput input(path, 8000);
        std::unique_ptr<Trelis::MCFile> file(extractor.run(&input, 1));
        benchmark::DoNotOptimize(file.get());
        return static_cast<double>(input.getNumSamples()) / 8000.0;
    });
}
BENCHMARK_CAPTURE(Media, camera_10min, "camera-10min.mp4")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Media, camera_60min, "camera-60min.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The decoder alone: the share of the time it takes, and its memory, flat with the length.
void DecodeOnly(benchmark::State& state, const char* name) {
    const std::string path = audio(name);
    std::vector<float> block(256);
    measure(state, path, [&] {
        Trelis::MediaDecoder decoder(path, 8000, true);
        while (decoder.read(block.data(), block.size()) > 0) {
        }
        return static_cast<double>(decoder.numFrames()) / 8000.0;
    });
}
BENCHMARK_CAPTURE(DecodeOnly, camera_10min, "camera-10min.mp4")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOnly, camera_60min, "camera-60min.mp4")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
