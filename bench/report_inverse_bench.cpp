// Fit report and inverse lookup benchmarks: PolynomialFitReport on the
// samples PolynomialFit is timed on (1,000 samples, degree 3), and
// ICalInverse on a 4,096-entry monotonic table (values per second).
#include "intensity/ical.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

void fit_report(benchmark::State& state) {
    const int samples = static_cast<int>(state.range(0));
    std::vector<RealPoint> in(samples);
    for (int i = 0; i < samples; ++i) {
        const double x = i * 0.37;
        in[i] = {x, 1.0 + 0.5 * x - 0.01 * x * x + 0.001 * std::cos(x)};
    }
    CalFitReport report;
    for (auto _ : state) {
        benchmark::DoNotOptimize(PolynomialFitReport(in.data(), samples, 3, &report));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(fit_report)->Name("fit/PolynomialFitReport_deg3")->Arg(5)->Arg(1000);

// A gamma curve over 0..4095 and calibrated values spread over its span.
void inverse(benchmark::State& state) {
    const size_t entries = 4096, count = static_cast<size_t>(state.range(0));
    std::vector<double> table(entries);
    for (size_t i = 0; i < entries; ++i) table[i] = 1000.0 * std::pow(static_cast<double>(i) / (entries - 1), 0.45);
    IntensityCal cal{};
    cal.cal_type = ICAL_TYPE_TABLE;
    cal.range_min = 0.0;
    cal.range_max = 4095.0;
    cal.table_size = static_cast<uint16_t>(entries);
    cal.table = table.data();
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<double> values(count), inputs(count);
    for (double& v : values) v = u(rng);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ICalInverse(&cal, values.data(), count, inputs.data(), nullptr));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
}
BENCHMARK(inverse)->Name("inverse/monotonic_4096")->Arg(4096)->Arg(1 << 16);

}  // namespace
