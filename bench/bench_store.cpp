// The cumulative landmark count of one record, and its freeing: one million landmarks over
// 100,000 frames.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "Landmark.h"
#include "MCFile.h"

namespace {

constexpr int kFrames = 100000;
constexpr int kLandmarks = 1000000;

void fillRecord(Trelis::MCFile& file) {
    std::mt19937 rng(3);
    for (int i = 0; i < kLandmarks; ++i) {
        file.addLandmark(new Trelis::Landmark{static_cast<int>(rng() % kFrames), &file,
                                              static_cast<std::uint32_t>(rng())});
    }
}

void ComputeClf(benchmark::State& state) {
    Trelis::MCFile file(1);
    fillRecord(file);
    for (auto _ : state) {
        file.clfDirty = true;  // force the full recomputation every time
        file.computeCLF();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}
BENCHMARK(ComputeClf)->Unit(benchmark::kMillisecond);

void ComputeClfFromScratch(benchmark::State& state) {
    Trelis::MCFile file(1);
    fillRecord(file);
    for (auto _ : state) {
        file.clf.clear();
        file.clfDirty = true;
        file.computeCLF();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}
BENCHMARK(ComputeClfFromScratch)->Unit(benchmark::kMillisecond);

// A record freed with its landmarks, made frame by frame as the extraction makes them.
void FreeRecord(benchmark::State& state) {
    std::mt19937 rng(5);
    for (auto _ : state) {
        state.PauseTiming();
        auto file = std::make_unique<Trelis::MCFile>(1);
        for (int i = 0; i < kLandmarks; ++i) {
            file->addLandmark(new Trelis::Landmark{i / (kLandmarks / kFrames), file.get(),
                                                   static_cast<std::uint32_t>(rng())});
        }
        state.ResumeTiming();
        file.reset();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kLandmarks);
}
BENCHMARK(FreeRecord)->Unit(benchmark::kMillisecond);

void CountLandmarks(benchmark::State& state) {
    Trelis::MCFile file(1);
    fillRecord(file);
    file.computeCLF();
    std::mt19937 rng(5);
    int sum = 0;
    for (auto _ : state) {
        const int a = static_cast<int>(rng() % kFrames);
        sum += file.countLandmarks(a, a + 3000);
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(CountLandmarks);

}  // namespace

BENCHMARK_MAIN();
