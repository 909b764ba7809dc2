// Helpers for the lookup exactness tests: calibration records built on the
// test's own memory, and a comparison of the library's lookup with the
// plain reference loops on identically placed buffers, guard bytes after
// each output included.
#pragma once

#include "intensity/lookup.h"
#include "intensity/lookup_kernels.h"
#include "support/lookup_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace lookup_test {

using calmgr::kern::Isa;
using calmgr::kern::isa_name;

// A calibration whose table lives in a vector of the test.
struct TestCal {
    std::vector<double> table;
    IntensityCal rec{};

    TestCal(double lo, double hi, std::vector<double> entries, int16_t direct_mode = 0)
        : table(std::move(entries)) {
        rec.cal_type = ICAL_TYPE_TABLE;
        rec.range_min = lo;
        rec.range_max = hi;
        rec.direct_mode = direct_mode;
        rec.table_size = static_cast<uint16_t>(table.size());
        rec.table = table.empty() ? nullptr : table.data();
    }
    TestCal(const TestCal& o) : table(o.table), rec(o.rec) { rec.table = table.empty() ? nullptr : table.data(); }
    const IntensityCal* get() const { return &rec; }
};

// Every level this processor runs, lowest first; each test runs on all.
inline std::vector<Isa> levels() {
    std::vector<Isa> all;
    for (int l = 0; l <= static_cast<int>(calmgr::kern::best_isa()); ++l) all.push_back(static_cast<Isa>(l));
    return all;
}

// Forces a level for the scope, restoring the best one afterwards.
struct ForceIsa {
    explicit ForceIsa(Isa level) { EXPECT_EQ(calmgr::kern::force_isa(level), level); }
    ~ForceIsa() { calmgr::kern::force_isa(calmgr::kern::best_isa()); }
};

// Streams every output for the scope (0: every run long enough to align).
struct ForceStreaming {
    size_t previous;
    ForceStreaming() : previous(calmgr::kern::force_nt_threshold(0)) {}
    ~ForceStreaming() { calmgr::kern::force_nt_threshold(previous); }
};

inline uint64_t values_of(uint32_t type, uint64_t count) {
    const uint32_t code = type & 0xFFu;
    return (code == 3 || code == 8 || code == 9) ? 3 * count : count;
}

inline size_t input_bytes(uint32_t type, uint64_t count) {
    const uint64_t n = values_of(type, count);
    switch (type & 0xFFu) {
        case 0: return (n + 7) / 8;
        case 1: case 2: case 3: return n;
        case 4: case 6: case 8: case 9: return 2 * n;
        case 5: return 4 * n;
        default: return 8 * n;
    }
}

// Runs the library's lookup and the reference on copies of `samples`
// placed `in_off` bytes into their buffers, writing `out_off` bytes into
// guarded outputs, and compares status, every output bit and the guards.
inline ::testing::AssertionResult same_as_reference(const IntensityCal* cal, uint32_t type, const void* samples,
                                                    uint64_t count, size_t in_off = 0, size_t out_off = 0) {
    const size_t in_size = input_bytes(type, count);
    const size_t out_size = values_of(type, count) * ((type & ICAL_LOOKUP_FLOAT) ? 4 : 8);
    std::vector<unsigned char> in_fast(in_off + in_size + 8), in_ref(in_off + in_size + 8);
    if (in_size != 0) std::memcpy(in_fast.data() + in_off, samples, in_size);
    in_ref = in_fast;
    std::vector<unsigned char> fast(out_off + out_size + 40, 0xA5), ref(out_off + out_size + 40, 0xA5);
    const int32_t s_fast = calmgr::lookup(cal, type, in_fast.data() + in_off, count, fast.data() + out_off);
    const int32_t s_ref = calmgr::ref::lookup(cal, type, in_ref.data() + in_off, count, ref.data() + out_off);
    if (s_fast != s_ref) return ::testing::AssertionFailure() << "status " << s_fast << " != " << s_ref;
    for (size_t i = 0; i < fast.size(); ++i) {
        if (fast[i] != ref[i]) {
            return ::testing::AssertionFailure()
                   << "type " << type << " count " << count << " in_off " << in_off
                   << " out_off " << out_off << ": byte " << i << " of " << fast.size() << " differs ("
                   << (i >= out_off + out_size ? "guard" : "output") << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

// Names a calibration in failure messages.
inline std::string describe(const TestCal& cal) {
    return "range " + ::testing::PrintToString(cal.rec.range_min) + ".." +
           ::testing::PrintToString(cal.rec.range_max) + " entries " + std::to_string(cal.rec.table_size);
}

// Runs check(cal) for every calibration on every level, each named in
// failure messages.
template <class Check>
void on_every_level(const std::vector<TestCal>& cals, Check check) {
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        for (const TestCal& cal : cals) {
            SCOPED_TRACE(describe(cal));
            check(cal);
        }
    }
}

}  // namespace lookup_test
