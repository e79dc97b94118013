// Extraction from WAVE files made by scripts/prepare-bench-audio.sh (folder in the environment
// variable TRELIS_BENCH_AUDIO): throughput in times real time on one core for ten minutes of
// music and of white noise, and the memory of extracting one hour of music.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "Landmark.h"
#include "MCFile.h"
#include "MCLandmarkExtract.h"
#include "wavfile_t.h"

namespace {

std::string audio(const char* name) {
    const char* dir = std::getenv("TRELIS_BENCH_AUDIO");
    return std::string(dir ? dir : "build/bench-audio") + "/" + name;
}

std::size_t landmarkCount(const Trelis::MCFile& file) {
    std::size_t count = 0;
    for (const auto& frame : file.landmarks) {
        count += frame.second.size();
    }
    return count;
}

void Extract(benchmark::State& state, const char* name) {
    const std::string path = audio(name);
    double seconds = 0.0;
    try {
        Trelis::wavfile_t probe(path, 1, 1, 16000);
        seconds = probe.numFrames / static_cast<double>(probe.sampleRate);
    } catch (const std::exception&) {
        state.SkipWithError(("missing " + path + ": run scripts/prepare-bench-audio.sh").c_str());
        return;
    }
    Trelis::MCLandmarkExtract extractor{Trelis::MCExtractParams()};
    std::size_t landmarks = 0;
    for (auto _ : state) {
        std::unique_ptr<Trelis::MCFile> file(extractor.run(path, 1));
        landmarks = landmarkCount(*file);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["landmarks"] = static_cast<double>(landmarks);
}
BENCHMARK_CAPTURE(Extract, music_10min, "music-10min.wav")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Extract, noise_10min, "noise-10min.wav")->Unit(benchmark::kMillisecond);

// Heap held by a finished record per landmark, and the process's peak resident size after
// extracting one hour.
void ExtractOneHourMemory(benchmark::State& state) {
    const std::string path = audio("music-60min.wav");
    Trelis::MCLandmarkExtract extractor{Trelis::MCExtractParams()};
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        std::unique_ptr<Trelis::MCFile> file(extractor.run(path, 1));
        if (!file) {
            state.SkipWithError(("missing " + path).c_str());
            return;
        }
        const std::size_t landmarks = landmarkCount(*file);
        // The extractor still holds its peak lists; release them to count the record alone.
        extractor.run(static_cast<Trelis::MCInput*>(nullptr), 2);
        const std::size_t held = mallinfo2().uordblks - before;
        state.counters["landmarks"] = static_cast<double>(landmarks);
        state.counters["bytes_per_landmark"] = static_cast<double>(held) / landmarks;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = usage.ru_maxrss / 1024.0;
}
BENCHMARK(ExtractOneHourMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
