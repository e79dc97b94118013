// MCClusterSync::run on sets of 10, 40 and 160 recordings of two minutes each, next to the
// extraction time of the same set. Events are distinct three-minute stretches of real music
// (music-all.wav of scripts/prepare-bench-audio.sh, folder in TRELIS_BENCH_AUDIO); each is
// recorded four times, starting 0, 20, 40 and 60 seconds into it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ClusterResult.h"
#include "MCClusterSync.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCInput.h"
#include "MCLandmarkExtract.h"
#include "sync/MCLandmarkIndex.h"
#include "wavfile_t.h"

namespace {

constexpr std::uint32_t kRate = 8000;

class Window : public Trelis::MCInput {
public:
    Window(const float* samples, std::size_t count) : samples_(samples), count_(count) {}
    std::uint64_t getNumSamples() override { return count_; }
    bool read(Trelis::array<float>& block) override {
        const std::size_t want = static_cast<std::size_t>(block.size());
        const std::size_t have = std::min(want, count_ - position_);
        std::copy_n(samples_ + position_, have, block.data);
        position_ += have;
        return true;
    }
    bool rewind() override {
        position_ = 0;
        return true;
    }

private:
    const float* samples_;
    std::size_t count_;
    std::size_t position_ = 0;
};

const std::vector<float>& music() {
    static const std::vector<float> samples = [] {
        const char* dir = std::getenv("TRELIS_BENCH_AUDIO");
        const std::string path = std::string(dir ? dir : "build/bench-audio") + "/music-all.wav";
        std::vector<float> all;
        try {
            Trelis::wavfile_t reader(path, 1, 1, 16000);
            Trelis::array<float> block(reader.numFrames);
            reader.read_mono(block);
            all.assign(block.data, block.data + reader.numFrames);
        } catch (const std::exception&) {
        }
        return all;
    }();
    return samples;
}

// Resets the peak resident size, then reads it: the peak of what ran in between.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
double peakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
    }
    return 0.0;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void ClusterSync(benchmark::State& state) {
    const auto files = static_cast<std::size_t>(state.range(0));
    const std::vector<float>& source = music();
    const std::size_t eventLength = 180 * kRate;
    const std::size_t recording = 120 * kRate;
    if (source.size() < (files + 3) / 4 * eventLength) {
        state.SkipWithError(
            "music-all.wav missing or too short: run "
            "scripts/prepare-bench-audio.sh");
        return;
    }
    const Trelis::MCExtractParams extractParams;
    for (auto _ : state) {
        state.PauseTiming();
        const auto extractStart = std::chrono::steady_clock::now();
        Trelis::MCLandmarkExtract extractor(extractParams);
        Trelis::MCFileSet set;
        for (std::size_t i = 0; i < files; ++i) {
            const std::size_t start = (i / 4) * eventLength + (i % 4) * 20 * kRate;
            Window window(source.data() + start, recording);
            set.addFile(extractor.run(&window, static_cast<long>(i) + 1));
            set.idToName[static_cast<int>(i) + 1] = "r" + std::to_string(i + 1);
        }
        const double extractSeconds = seconds(extractStart);
        state.ResumeTiming();

        resetPeakMemory();
        const auto clusterStart = std::chrono::steady_clock::now();
        Trelis::MCClusterSync sync{Trelis::MCClusterSyncParams(extractParams)};
        Trelis::ClusterResult* result = sync.run(&set, nullptr);
        const double clusterSeconds = seconds(clusterStart);
        const double peak = peakMemoryMiB();

        state.PauseTiming();
        std::size_t landmarks = 0;
        for (const auto& entry : set.getFiles()) {
            for (const auto& frame : entry.second->landmarks) {
                landmarks += frame.second.size();
            }
        }
        Trelis::MCLandmarkIndex index(250);
        Trelis::PairHistogramMap* histograms = index.run(&set, nullptr);
        std::size_t votes = 0;
        for (const auto& pair : *histograms) {
            for (const auto& bin : *pair.second) {
                votes += bin.second.size();
            }
        }
        state.counters["pairs"] = static_cast<double>(histograms->size());
        Trelis::deletePairHistograms(histograms);
        state.counters["clusters"] = static_cast<double>(result->size());
        Trelis::deleteClusterResult(result);
        state.counters["extract_s"] = extractSeconds;
        state.counters["cluster_s"] = clusterSeconds;
        state.counters["peak_MiB"] = peak;
        state.counters["votes"] = static_cast<double>(votes);
        state.counters["landmarks"] = static_cast<double>(landmarks);
        state.ResumeTiming();
    }
}
BENCHMARK(ClusterSync)->Arg(10)->Arg(40)->Arg(160)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
