// The allpass runs once per sample of every channel of a file. Its step is
// timed against the bare recurrence written out with local coefficients, the
// least any implementation could do; bench/filter_section_ratio.sh compares
// the two.
#include "dsp/filter_section.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<double> test_signal() {
    std::vector<double> x(1 << 20);
    for (size_t i = 0; i < x.size(); ++i) x[i] = 20000 * std::sin(0.013 * i) + 5000 * std::sin(0.71 * i);
    return x;
}

void BM_FilterSection(benchmark::State& state) {
    const std::vector<double> x = test_signal();
    wavrell::TRealFilterSection f;
    f.setFZero(-500);
    f.setFPole(500);
    f.setSampFreq(44100);
    for (auto _ : state) {
        f.reset();
        double peak = 0;
        for (double v : x) peak = std::max(peak, std::abs(f.filter(v)));
        benchmark::DoNotOptimize(peak);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(x.size()));
}

void BM_BareRecurrence(benchmark::State& state) {
    const std::vector<double> x = test_signal();
    wavrell::TRealFilterSection design;
    design.setFZero(-500);
    design.setFPole(500);
    design.setSampFreq(44100);
    double a0 = design.a0(), a1 = design.a1(), b0 = design.b0(), b1 = design.b1(), gain = design.Gain();
    benchmark::DoNotOptimize(a0);
    benchmark::DoNotOptimize(a1);
    benchmark::DoNotOptimize(b0);
    benchmark::DoNotOptimize(b1);
    benchmark::DoNotOptimize(gain);
    for (auto _ : state) {
        double z1 = 0, peak = 0;
        for (double v : x) {
            const double w = a0 * v + a1 * z1;
            const double y = gain * ((w + b1 * z1) * b0);
            z1 = w;
            peak = std::max(peak, std::abs(y));
        }
        benchmark::DoNotOptimize(peak);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(x.size()));
}

BENCHMARK(BM_FilterSection);
BENCHMARK(BM_BareRecurrence);

}  // namespace

BENCHMARK_MAIN();
