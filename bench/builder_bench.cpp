// Builder and fit benchmarks: rebuilding a calibration's table (two-point
// line, optical density, every fit type) at 256 and 32767 entries, the
// diagnosis of a calibration of 32,767 points and entries, the
// monotonic repair on its own, and PolynomialFit on 5 and 1000 samples.
#include "intensity/ical.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// A calibration with `points` rising points over 0..255 (densities for
// the density fit) and a table of `entries`, everything set deferred.
IntensityCal* make_cal(int points, int entries, int fit_type, uint32_t cal_type, int options = 0) {
    IntensityCal* cal = ICalCreate();
    std::vector<CalPoint> p(points);
    for (int i = 0; i < points; ++i) {
        const double x = 255.0 * i / (points - 1);
        p[i] = {x, 0.05 + 2.5 * std::pow(x / 255.0, 0.8) + 0.02 * std::sin(i)};
    }
    ICalControl(cal, ICAL_SET_POINTS, points, 1, p.data());
    ICalControl(cal, ICAL_SET_TABLE_SIZE, entries, 1, nullptr);
    ICalControl(cal, ICAL_SET_FIT_TYPE, fit_type, 1, nullptr);
    ICalControl(cal, ICAL_SET_OPTIONS, options, 1, nullptr);
    double black = 10.0, incident = 240.0;
    ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
    ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &incident);
    ICalControl(cal, ICAL_SET_TYPE, static_cast<int32_t>(cal_type), 1, nullptr);
    return cal;
}

void rebuild(benchmark::State& state, int points, int entries, int fit_type, uint32_t cal_type) {
    IntensityCal* cal = make_cal(points, entries, fit_type, cal_type);
    for (auto _ : state) benchmark::DoNotOptimize(calmgr::recompute(cal));
    ICalDestroy(cal);
}

void monotonic(benchmark::State& state, int entries) {
    IntensityCal* cal = make_cal(7, entries, ICAL_FIT_POLY3, ICAL_TYPE_STANDARD);
    calmgr::recompute(cal);
    for (auto _ : state) benchmark::DoNotOptimize(calmgr::force_monotonic(cal));
    ICalDestroy(cal);
}

// The diagnosis of a calibration with `points` noisy points (all dense
// when there are more than entries) and a table of `entries`, by fit type.
void diagnose(benchmark::State& state, int points, int entries, int fit_type) {
    IntensityCal* cal = make_cal(points, entries, fit_type, ICAL_TYPE_STANDARD);
    calmgr::recompute(cal);
    std::vector<CalFinding> findings(64);
    uint32_t count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ICalDiagnose(cal, findings.data(), 64, &count));
        benchmark::ClobberMemory();
    }
    state.counters["findings"] = count;
    ICalDestroy(cal);
}

void polyfit(benchmark::State& state, int samples) {
    std::vector<RealPoint> in(samples), out(samples);
    for (int i = 0; i < samples; ++i) {
        const double x = i * 0.37;
        in[i] = {x, 1.0 + 0.5 * x - 0.01 * x * x + 0.001 * std::cos(x)};
    }
    for (auto _ : state) {
        out = in;
        benchmark::DoNotOptimize(PolynomialFit(in.data(), static_cast<int16_t>(samples), out.data(),
                                               static_cast<int16_t>(samples), 3));
        benchmark::ClobberMemory();
    }
}

// Names built by appending (GCC 12 warns falsely on literal + string).
std::string name(const char* head, const std::string& mid, int tail) {
    std::string s(head);
    s.append(mid).append("/").append(std::to_string(tail));
    return s;
}

int register_all() {
    for (int entries : {256, 32767}) {
        benchmark::RegisterBenchmark(name("build/two_point", "", entries).c_str(), [entries](benchmark::State& s) {
            rebuild(s, 2, entries, ICAL_FIT_PIECEWISE, ICAL_TYPE_STANDARD);
        });
        benchmark::RegisterBenchmark(name("build/density", "", entries).c_str(), [entries](benchmark::State& s) {
            rebuild(s, 2, entries, ICAL_FIT_PIECEWISE, ICAL_TYPE_DENSITY);
        });
        for (int fit : {ICAL_FIT_PIECEWISE, ICAL_FIT_POLY1, ICAL_FIT_POLY2, ICAL_FIT_POLY3, ICAL_FIT_INTERP1,
                        ICAL_FIT_INTERP2, ICAL_FIT_INTERP3, ICAL_FIT_DENSITY, ICAL_FIT_EXP1, ICAL_FIT_EXP2,
                        ICAL_FIT_EXP3, ICAL_FIT_LOG1, ICAL_FIT_LOG2, ICAL_FIT_LOG3}) {
            benchmark::RegisterBenchmark(name("build/fit", std::to_string(fit), entries).c_str(),
                                         [entries, fit](benchmark::State& s) {
                                             rebuild(s, 7, entries, fit, ICAL_TYPE_STANDARD);
                                         });
        }
        benchmark::RegisterBenchmark(name("build/force_monotonic", "", entries).c_str(),
                                     [entries](benchmark::State& s) { monotonic(s, entries); });
    }
    for (int fit : {ICAL_FIT_PIECEWISE, ICAL_FIT_POLY3, ICAL_FIT_DENSITY, ICAL_FIT_EXP3}) {
        benchmark::RegisterBenchmark(name("diagnose/fit", std::to_string(fit), 32767).c_str(),
                                     [fit](benchmark::State& s) { diagnose(s, 32767, 32767, fit); });
    }
    for (int samples : {5, 1000}) {
        benchmark::RegisterBenchmark(name("fit/PolynomialFit_deg3", "", samples).c_str(),
                                     [samples](benchmark::State& s) { polyfit(s, samples); });
    }
    return 0;
}

const int registered = register_all();

}  // namespace
