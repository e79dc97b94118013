// Time of one forward real FFT of N points, the engine against FFTW's single-precision real
// transform planned with FFTW_MEASURE (when FFTW is installed), in the same run: N of 512 to 4096
// as the extraction frames, 8192 to 32768 as the alignment and verification correlate.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "array.h"
#include "dsp/FftEngine.h"

#ifdef TRELIS_BENCH_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<float> signal(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) {
        v = dist(rng);
    }
    return x;
}

void TrelisForward(benchmark::State& state) {
    const int order = static_cast<int>(state.range(0));
    const int n = 1 << order;
    Trelis::FftSpec* spec = nullptr;
    Trelis::fftInitAlloc(&spec, order, Trelis::fftNoDivByAny, Trelis::fftAlgHintFast);
    int bytes = 0;
    Trelis::fftGetBufSize(spec, &bytes);
    Trelis::array<unsigned char> work(static_cast<std::uint32_t>(bytes));
    Trelis::array<float> buffer(static_cast<std::uint32_t>(n + 4));
    const auto x = signal(n);
    for (auto _ : state) {
        // Refilling the frame is part of what the extractor does per frame.
        std::copy(x.begin(), x.end(), buffer.data);
        Trelis::fftForwardInPlace(buffer.data, spec, work.data);
        benchmark::DoNotOptimize(buffer.data[0]);
    }
    Trelis::fftFree(spec);
    state.SetLabel("N=" + std::to_string(n));
}
BENCHMARK(TrelisForward)->Arg(9)->Arg(10)->Arg(12)->Arg(13)->Arg(14)->Arg(15);

#ifdef TRELIS_BENCH_FFTW
void FftwForward(benchmark::State& state) {
    const int n = 1 << state.range(0);
    float* in = fftwf_alloc_real(n);
    fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const auto x = signal(n);
    for (auto _ : state) {
        std::copy(x.begin(), x.end(), in);
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out[0][0]);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
    state.SetLabel("N=" + std::to_string(n));
}
BENCHMARK(FftwForward)->Arg(9)->Arg(10)->Arg(12)->Arg(13)->Arg(14)->Arg(15);
#endif

}  // namespace

BENCHMARK_MAIN();
