// The alignment of one pair: ten minutes of overlap of two noisy recordings of synthetic music,
// measured at the default 8000 Hz and at 48000 Hz, in times real time of overlap on one core;
// and the whitened correlation of one default window on its own.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "MCAlignParams.h"
#include "MCClusterAligner.h"
#include "align/PhaseCorrelator.h"
#include "synth/Synth.h"

namespace {

class VectorInput final : public Trelis::MCInput {
public:
    explicit VectorInput(const std::vector<float>& samples) : samples_(samples) {}
    std::uint64_t getNumSamples() override { return samples_.size(); }
    bool read(Trelis::array<float>& block) override {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(block.size()), samples_.size() - at_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(at_), n, block.data);
        at_ += n;
        return true;
    }
    bool rewind() override {
        at_ = 0;
        return true;
    }

private:
    const std::vector<float>& samples_;
    std::size_t at_ = 0;
};

std::vector<float> noisy(const std::vector<float>& clean, std::size_t from, std::size_t count,
                         unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<float> out(clean.begin() + static_cast<std::ptrdiff_t>(from),
                           clean.begin() + static_cast<std::ptrdiff_t>(from + count));
    for (float& v : out) {
        v += noise(rng);
    }
    return out;
}

void AlignPair(benchmark::State& state) {
    const auto rate = static_cast<std::uint32_t>(state.range(0));
    const double seconds = 600.0;
    const std::vector<float> event = TrelisSynth::musicLike(3, seconds + 20.0, rate);
    const std::vector<float> a = noisy(event, 0, static_cast<std::size_t>(seconds * rate), 1);
    const std::vector<float> b = noisy(event, static_cast<std::size_t>(10.0 * rate),
                                       static_cast<std::size_t>(seconds * rate), 2);
    Trelis::MCAlignParams params;
    params.setSampleRate(rate);
    const Trelis::MCClusterAligner aligner(params);
    for (auto _ : state) {
        VectorInput x(a), y(b);
        const Trelis::PairAlignment pair = aligner.measure(x, y, 10.02);
        if (!pair.measured) {
            state.SkipWithError("the pair was not measured");
            return;
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(
        (seconds - 10.0) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(AlignPair)->Arg(8000)->Arg(48000)->Unit(benchmark::kMillisecond);

void CorrelateWindow(benchmark::State& state) {
    const std::vector<float> event = TrelisSynth::musicLike(4, 6.0);
    const long long n = 31168, m = 800;  // a default window, fitted to a transform of 32768
    Trelis::PhaseCorrelator correlator;
    std::vector<float> z;
    for (auto _ : state) {
        correlator.correlate(event.data() + m, n, event.data(), m, z);
        benchmark::DoNotOptimize(z.data());
    }
}
BENCHMARK(CorrelateWindow)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
