// Lookup benchmarks: every route (bits; 8-bit and RGB 8-bit, 16-bit and
// RGB 16-bit, each direct and interpolating; float; double; samples beyond
// the range) for double and float output at several run lengths, the
// library's routes, the policy lookups (counting, and the NaN policies)
// and the plain reference loops side by side, with the machine's limits in
// the same run:
// memcpy of the output bytes, a write-only streaming fill (the ceiling)
// and a plain widening conversion with no table (the floor).
#include "baselines.h"
#if defined(CALMGR_BENCH_OPENCV)
#include "opencv_peer.h"
#endif

#include "intensity/lookup.h"
#include "support/lookup_reference.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Data { bits, u8, u16_12bit, u16, f32, f64 };
enum class Table { direct8, interp8, direct16, interp16, unit, video8 };

struct Route {
    const char* name;
    uint32_t code;
    Table table;
    Data data;
};

const Route kRoutes[] = {
    {"bits", 0, Table::direct8, Data::bits},
    {"u8_direct", 1, Table::direct8, Data::u8},          {"u8_interp", 1, Table::interp8, Data::u8},
    {"rgb8_direct", 3, Table::direct8, Data::u8},        {"rgb8_interp", 3, Table::interp8, Data::u8},
    {"u16_direct", 4, Table::direct16, Data::u16_12bit}, {"u16_interp", 4, Table::interp16, Data::u16},
    {"rgb16_direct", 8, Table::direct16, Data::u16_12bit}, {"rgb16_interp", 8, Table::interp16, Data::u16},
    {"f32", 5, Table::unit, Data::f32},                  {"f64", 7, Table::unit, Data::f64},
    // Samples outside the range: 8-bit codes beyond a video range 16..235,
    // full 16-bit samples through a 12-bit direct table (94 % above it).
    {"u8_video", 1, Table::video8, Data::u8},            {"u16_past", 4, Table::direct16, Data::u16},
};

const size_t kLengths[] = {16, 4096, size_t{1} << 20, size_t{1} << 26};

// A calibration record over a table of this program's own memory: a gamma
// curve, direct where the route indexes, interpolating otherwise.
struct BenchCal {
    std::vector<double> table;
    IntensityCal rec{};
    BenchCal(double lo, double hi, size_t n, int16_t mode) : table(n) {
        for (size_t i = 0; i < n; ++i) table[i] = 1000.0 * std::pow(static_cast<double>(i) / (n - 1), 0.45);
        rec.cal_type = ICAL_TYPE_STANDARD;
        rec.range_min = lo;
        rec.range_max = hi;
        rec.direct_mode = mode;
        rec.table_size = static_cast<uint16_t>(n);
        rec.table = table.data();
    }
};

const IntensityCal* cal_for(Table t) {
    static BenchCal direct8(0.0, 255.0, 256, 1), interp8(0.0, 255.0, 1000, 0), direct16(0.0, 4095.0, 4096, 2),
        interp16(0.0, 65535.0, 1000, 0), unit(0.0, 1.0, 1000, 0), video8(16.0, 235.0, 220, 0);
    switch (t) {
        case Table::direct8: return &direct8.rec;
        case Table::interp8: return &interp8.rec;
        case Table::direct16: return &direct16.rec;
        case Table::interp16: return &interp16.rec;
        case Table::video8: return &video8.rec;
        default: return &unit.rec;
    }
}

size_t element_size(Data d) {
    switch (d) {
        case Data::bits: case Data::u8: return 1;
        case Data::u16_12bit: case Data::u16: return 2;
        case Data::f32: return 4;
        default: return 8;
    }
}

// Inputs are made once per layout and length and shared by every
// benchmark that reads them; values spread uniformly (floats a little past
// both ends of the range).
const unsigned char* input(Data d, size_t values) {
    static std::map<std::pair<int, size_t>, std::vector<unsigned char>> cache;
    auto& buf = cache[{static_cast<int>(d), values}];
    if (buf.empty()) {
        const size_t bytes = d == Data::bits ? (values + 7) / 8 : values * element_size(d);
        buf.resize(bytes + 64);
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> u(-0.02, 1.02);
        for (size_t k = 0; k < (d == Data::bits ? bytes : values); ++k) {
            switch (d) {
                case Data::bits: case Data::u8: buf[k] = static_cast<unsigned char>(rng()); break;
                case Data::u16_12bit: reinterpret_cast<uint16_t*>(buf.data())[k] = rng() & 4095; break;
                case Data::u16: reinterpret_cast<uint16_t*>(buf.data())[k] = static_cast<uint16_t>(rng()); break;
                case Data::f32: reinterpret_cast<float*>(buf.data())[k] = static_cast<float>(u(rng)); break;
                case Data::f64: reinterpret_cast<double*>(buf.data())[k] = u(rng); break;
            }
        }
    }
    return buf.data();
}

// One output buffer per length, written once before timing so that no
// benchmark pays for first-touch page faults.
unsigned char* output(size_t values) {
    static std::map<size_t, std::vector<unsigned char>> cache;
    auto& buf = cache[values];
    if (buf.empty()) buf.assign(values * 8 + 64, 1);
    return buf.data();
}

void finish(benchmark::State& state, size_t values, size_t out_size) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * values));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * values * out_size));
}

// fast: ICalLookupEx's route; ref: the plain loops; stats: ICalLookupPolicy
// counting below/above/NaN; nan: ICalLookupPolicy with both NaN policies.
enum class Mode { fast, ref, stats, nan };

void run_route(benchmark::State& state, const Route& r, bool float_out, size_t values, Mode mode) {
    const uint32_t type = r.code | (float_out ? ICAL_LOOKUP_FLOAT : 0u);
    const uint64_t count = (r.code == 3 || r.code == 8) ? values / 3 : values;
    const IntensityCal* cal = cal_for(r.table);
    const unsigned char* in = input(r.data, values);
    unsigned char* out = output(values);
    CalLookupStats stats{};
    const uint32_t policy = mode == Mode::nan ? ICAL_POLICY_OUTSIDE_NAN | ICAL_POLICY_NAN_PROPAGATE : 0u;
    for (auto _ : state) {
        switch (mode) {
            case Mode::fast: calmgr::lookup(cal, type, in, count, out); break;
            case Mode::ref: calmgr::ref::lookup(cal, type, in, count, out); break;
            default: calmgr::lookup_policy(cal, type, in, count, out, policy, mode == Mode::stats ? &stats : nullptr); break;
        }
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(stats);
    finish(state, values, float_out ? 4 : 8);
}

// What the write ceiling writes: the direct 8-bit table's values (rounded
// to float for float output) or, for comparison, zeros.
struct FillPatterns {
    unsigned char values[2][bench::kPatternBytes]{};  // double, float
    unsigned char zeros[bench::kPatternBytes]{};
    FillPatterns() {
        const double* table = cal_for(Table::direct8)->table;
        for (size_t k = 0; k < bench::kPatternBytes / 8; ++k) std::memcpy(values[0] + 8 * k, &table[k % 256], 8);
        for (size_t k = 0; k < bench::kPatternBytes / 4; ++k) {
            const auto f = static_cast<float>(table[k % 256]);
            std::memcpy(values[1] + 4 * k, &f, 4);
        }
    }
};

const unsigned char* fill_pattern(bool float_out, bool zeros) {
    static const FillPatterns p;
    return zeros ? p.zeros : p.values[float_out ? 1 : 0];
}

void run_baseline(benchmark::State& state, int which, bool float_out, size_t values) {
    const size_t bytes = values * (float_out ? 4 : 8);
    const unsigned char* from = input(Data::f64, values);
    const unsigned char* u8 = input(Data::u8, values);
    const unsigned char* pattern = fill_pattern(float_out, which == 3);
    unsigned char* out = output(values);
    for (auto _ : state) {
        switch (which) {
            case 0: bench::copy_bytes(from, out, bytes); break;
            case 1: case 3: bench::stream_fill(out, bytes, pattern); break;
            default: bench::widen_u8(u8, out, values, float_out); break;
        }
        benchmark::ClobberMemory();
    }
    finish(state, values, float_out ? 4 : 8);
}

#if defined(CALMGR_BENCH_OPENCV)
// cv::LUT on the direct 8-bit routes' data and table: on one thread, as
// the library works, and on OpenCV's default pool.
void run_cv(benchmark::State& state, int channels, bool float_out, size_t values, int threads) {
    const bench::CvLut lut(cal_for(Table::direct8)->table, float_out, channels, threads);
    const unsigned char* in = input(Data::u8, values);
    unsigned char* out = output(values);
    const size_t n = values / static_cast<size_t>(channels) * static_cast<size_t>(channels);
    for (auto _ : state) {
        lut.run(in, n, out);
        benchmark::ClobberMemory();
    }
    finish(state, n, float_out ? 4 : 8);
}
#endif

std::string len_name(size_t n) {
    if (n >= (size_t{1} << 20)) return std::to_string(n >> 20) + "M";
    return std::to_string(n);
}

int register_all() {
    for (size_t n : kLengths) {
        for (bool f : {false, true}) {
            const std::string tail = std::string("/") + (f ? "float" : "double") + "/" + len_name(n);
            for (const Route& r : kRoutes) {
                const std::pair<const char*, Mode> modes[] = {
                    {"/fast", Mode::fast}, {"/ref", Mode::ref}, {"/stats", Mode::stats}, {"/nan", Mode::nan}};
                for (const auto& [suffix, mode] : modes) {
                    benchmark::RegisterBenchmark(("lookup/" + std::string(r.name) + tail + suffix).c_str(),
                                                 [&r, f, n, mode = mode](benchmark::State& s) {
                                                     run_route(s, r, f, n, mode);
                                                 });
                }
            }
#if defined(CALMGR_BENCH_OPENCV)
            for (int ch : {1, 3}) {
                const std::string route = ch == 1 ? "u8_direct" : "rgb8_direct";
                for (int threads : {1, -1}) {
                    const std::string name = (threads == 1 ? "peer/cv_lut_1t/" : "peer/cv_lut/") + route + tail;
                    benchmark::RegisterBenchmark(name.c_str(), [ch, f, n, threads](benchmark::State& s) {
                        run_cv(s, ch, f, n, threads);
                    })->UseRealTime();  // the pool's threads do not show in this thread's CPU time
                }
            }
#endif
            const char* names[] = {"memcpy", "stream_fill", "widen_u8", "stream_fill_zero"};
            for (int b = 0; b < 4; ++b) {
                benchmark::RegisterBenchmark(("base/" + std::string(names[b]) + tail).c_str(),
                                             [b, f, n](benchmark::State& s) { run_baseline(s, b, f, n); });
            }
        }
    }
    return 0;
}

const int registered = register_all();

}  // namespace

// Google Benchmark's main, plus --isa=portable|sse2|avx2|avx512 to measure
// the kernels of a lower instruction-set level on this processor.
int main(int argc, char** argv) {
    using calmgr::kern::Isa;
    Isa isa = calmgr::kern::best_isa();
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool named = false;
        for (Isa level : {Isa::portable, Isa::sse2, Isa::avx2, Isa::avx512}) {
            if (arg == std::string("--isa=") + calmgr::kern::isa_name(level)) {
                isa = level;
                named = true;
            }
        }
        if (!named) argv[kept++] = argv[i];
    }
    argc = kept;
    isa = calmgr::kern::force_isa(isa);
    benchmark::AddCustomContext("isa", calmgr::kern::isa_name(isa));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
