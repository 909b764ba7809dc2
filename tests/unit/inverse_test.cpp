// ICalInverse: inputs found for calibrated values must look up (double
// samples, interpolating) to those values; values reached nowhere or at
// several inputs must come back unresolved. Checked on every fit type, on
// tables that turn, hold flat runs or NaN entries, and against a plain
// oracle that counts the segments reaching each value.
#include "calmgr.h"
#include "intensity/ical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Cal {
    IntensityCal* p = ICalCreate();
    ~Cal() { ICalDestroy(p); }
};

// A record over caller memory, for tables the controls would not make
// (NaN entries, stale statistics) and for sizes beyond the 16-bit ones.
struct RawCal {
    std::vector<double> table;
    IntensityCal rec{};
    RawCal(std::vector<double> t, double lo, double hi) : table(std::move(t)) {
        rec.cal_type = ICAL_TYPE_TABLE;
        rec.range_min = lo;
        rec.range_max = hi;
        rec.table_size = static_cast<uint16_t>(table.size());
        rec.table = table.data();
        rec.table_min = -1e300;  // stale on purpose: the inverse reads the table
        rec.table_max = 1e300;
    }
};

std::vector<double> table_of(const IntensityCal* cal) { return {cal->table, cal->table + cal->table_size}; }

double lookup(const IntensityCal* cal, double x) {
    double out = 0.0;
    EXPECT_EQ(ICalLookupEx(cal, ICAL_SAMPLE_F64, &x, 1, &out), CAL_OK);
    return out;
}

std::vector<double> invert(const IntensityCal* cal, const std::vector<double>& values, uint64_t* unresolved = nullptr) {
    std::vector<double> in(values.size(), -12345.0);
    EXPECT_EQ(ICalInverse(cal, values.data(), values.size(), in.data(), unresolved), CAL_OK);
    return in;
}

// The oracle: v is reached at exactly one input when the finite segments
// holding it are a single rising or falling one, or the two that meet at
// an entry equal to v, and no flat segment holds it.
bool reached_once(const std::vector<double>& t, double v) {
    std::vector<size_t> holding;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        const double a = t[i], b = t[i + 1];
        if (!std::isfinite(a) || !std::isfinite(b)) continue;
        if (v < std::min(a, b) || v > std::max(a, b)) continue;
        if (a == b) return false;
        holding.push_back(i);
    }
    if (holding.size() == 1) return true;
    return holding.size() == 2 && holding[1] == holding[0] + 1 && t[holding[1]] == v;
}

double max_magnitude(const std::vector<double>& t) {
    double m = 0.0;
    for (double v : t)
        if (std::isfinite(v)) m = std::max(m, std::fabs(v));
    return m;
}

// |lookup(x) - v|, NaN lookups counting as infinitely far.
double miss(const IntensityCal* cal, double x, double v) {
    const double e = std::fabs(lookup(cal, x) - v);
    return std::isnan(e) ? INFINITY : e;
}

// The input `steps` ulps from x (negative: below).
double ulps_away(double x, int steps) {
    for (int k = 0; k < std::abs(steps); ++k) x = std::nextafter(x, steps > 0 ? INFINITY : -INFINITY);
    return x;
}

// The jump of the lookup from x to the next different value on either
// side: no input can come closer to every value than half of it.
double lookup_jump(const IntensityCal* cal, double x) {
    const double at = lookup(cal, x);
    double jump = 0.0;
    for (int dir : {1, -1}) {
        for (int k = 1; k <= 16; ++k) {
            const double y = ulps_away(x, dir * k);
            if (y < cal->range_min || y > cal->range_max) break;
            const double d = std::fabs(lookup(cal, y) - at);
            if (d != 0.0) {
                jump = std::fmax(jump, d);
                break;
            }
        }
    }
    return jump;
}

// Every value is resolved exactly when the oracle says so, each input lies
// in the range, and its lookup returns the value to within 4 ulps of the
// table's largest magnitude (widened by the lookup's jump between
// neighbouring inputs on a steep segment), with no double within 4 ulps
// coming closer.
void expect_consistent(const IntensityCal* cal, const std::vector<double>& values) {
    const std::vector<double> t = table_of(cal);
    const double m = max_magnitude(t);
    const double ulps4 = 4.0 * (std::nextafter(m, INFINITY) - m);
    uint64_t unresolved = 0;
    const std::vector<double> in = invert(cal, values, &unresolved);
    uint64_t nan_count = 0;
    for (size_t k = 0; k < values.size(); ++k) {
        const double v = values[k], x = in[k];
        const bool once = !std::isnan(v) && reached_once(t, v);
        ASSERT_EQ(!std::isnan(x), once) << "value " << v;
        if (!once) {
            ++nan_count;
            continue;
        }
        ASSERT_GE(x, cal->range_min);
        ASSERT_LE(x, cal->range_max);
        const double err = miss(cal, x, v);
        ASSERT_LE(err, ulps4 + lookup_jump(cal, x)) << "value " << v << " input " << x;
        for (int k = -4; k <= 4; ++k) {
            const double y = ulps_away(x, k);
            if (y >= cal->range_min && y <= cal->range_max) {
                ASSERT_LE(err, miss(cal, y, v)) << "value " << v << ": " << k << " ulps away is closer";
            }
        }
    }
    EXPECT_EQ(unresolved, nan_count);
}

// The plain 4-ulp bound on tables whose segments are not steep.
void expect_within_4_ulps(const IntensityCal* cal, const std::vector<double>& values) {
    const double m = max_magnitude(table_of(cal));
    const double ulps4 = 4.0 * (std::nextafter(m, INFINITY) - m);
    const std::vector<double> in = invert(cal, values);
    for (size_t k = 0; k < values.size(); ++k) {
        if (!std::isnan(in[k])) {
            ASSERT_LE(std::fabs(lookup(cal, in[k]) - values[k]), ulps4) << values[k];
        }
    }
}

// Values spread over the table's span and a little beyond, every entry
// itself, midpoints of neighbouring entries, and NaN.
std::vector<double> probe_values(const std::vector<double>& t, uint32_t seed) {
    double lo = INFINITY, hi = -INFINITY;
    for (double v : t) {
        if (!std::isfinite(v)) continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    std::vector<double> values;
    const size_t stride = t.size() / 500 + 1;
    for (size_t i = 0; i < t.size(); i += stride) values.push_back(t[i]);
    for (size_t i = 0; i + 1 < t.size(); i += stride) values.push_back(0.5 * t[i] + 0.5 * t[i + 1]);
    std::mt19937_64 rng(seed);
    const double pad = 0.01 * (hi - lo);
    std::uniform_real_distribution<double> u(lo - pad, hi + pad);
    for (int k = 0; k < 2000; ++k) values.push_back(u(rng));
    values.push_back(kNaN);
    values.push_back(INFINITY);
    return values;
}

TEST(Inverse, EveryFitTypeLooksBackUpToTheValue) {
    const std::vector<CalPoint> pts = {{0, 0.05}, {40, 0.3}, {90, 0.55}, {150, 1.2}, {200, 1.6}, {255, 2.4}};
    for (int16_t fit : {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 21, 22, 23}) {
        for (int16_t size : {256, 4096, 1000}) {
            SCOPED_TRACE(testing::Message() << "fit " << fit << " size " << size);
            Cal cal;
            ASSERT_EQ(ICalControl(cal.p, ICAL_SET_POINTS, 6, 1, const_cast<CalPoint*>(pts.data())), CAL_OK);
            ASSERT_EQ(ICalControl(cal.p, ICAL_SET_TABLE_SIZE, size, 1, nullptr), CAL_OK);
            if (size == 4096) {
                double hi = 4095.0;
                ASSERT_EQ(ICalControl(cal.p, ICAL_SET_RANGE_MAX, 0, 1, &hi), CAL_OK);
            }
            ASSERT_EQ(ICalControl(cal.p, ICAL_SET_FIT_TYPE, fit, 0, nullptr), CAL_OK);
            const std::vector<double> values = probe_values(table_of(cal.p), fit);
            expect_consistent(cal.p, values);
            // Over 0..4095 the exponential and logarithmic curves grow steep
            // far beyond the points; over 0..255 no segment is steep.
            if (size != 4096) expect_within_4_ulps(cal.p, values);
        }
    }
}

TEST(Inverse, TablesThatTurnResolveOnlyValuesReachedOnce) {
    // Rises to 10, falls to 5, rises to 8, over inputs 0..3.
    RawCal c({0, 10, 5, 8}, 0.0, 3.0);
    uint64_t unresolved = 0;
    const std::vector<double> in = invert(&c.rec, {3, 10, 4.5, 7, 5, 9, 8, -1, 11, kNaN}, &unresolved);
    EXPECT_DOUBLE_EQ(in[0], 0.3);
    EXPECT_EQ(in[1], 1.0);  // the peak itself is reached once
    EXPECT_DOUBLE_EQ(in[2], 0.45);
    for (size_t k = 3; k < in.size(); ++k) EXPECT_TRUE(std::isnan(in[k])) << "value index " << k;
    EXPECT_EQ(unresolved, 7u);

    // A fitted cubic that turns inside the range: values on both sides of
    // the turn are unresolved, the rest resolve and look back up.
    Cal cubic;
    const CalPoint pts[5] = {{0, 0}, {60, 2.0}, {120, 2.5}, {180, 1.8}, {255, 3.5}};
    ASSERT_EQ(ICalControl(cubic.p, ICAL_SET_POINTS, 5, 1, const_cast<CalPoint*>(pts)), CAL_OK);
    ASSERT_EQ(ICalControl(cubic.p, ICAL_SET_FIT_TYPE, 3, 0, nullptr), CAL_OK);
    const std::vector<double> values = probe_values(table_of(cubic.p), 7);
    expect_consistent(cubic.p, values);
    EXPECT_GT(std::count_if(values.begin(), values.end(), [&](double v) { return reached_once(table_of(cubic.p), v); }),
              100);
}

TEST(Inverse, FlatRunsAndNonFiniteEntriesHoldNoInput) {
    RawCal flat({0, 1, 1, 2}, 0.0, 3.0);
    const std::vector<double> f = invert(&flat.rec, {0.5, 1.0, 1.5, 0.0, 2.0});
    EXPECT_EQ(f[0], 0.5);
    EXPECT_TRUE(std::isnan(f[1]));
    EXPECT_EQ(f[2], 2.5);
    EXPECT_EQ(f[3], 0.0);
    EXPECT_EQ(f[4], 3.0);

    RawCal holes({0, 1, kNaN, 3, 4, INFINITY, 6}, 0.0, 6.0);
    const std::vector<double> h = invert(&holes.rec, {0.5, 1.0, 2.0, 3.0, 3.5, 5.0, 6.0});
    EXPECT_EQ(h[0], 0.5);
    // The lookup at input 1 reads the NaN entry: the input settles just
    // below it, where the rising segment comes within an ulp of 1.
    EXPECT_EQ(h[1], std::nextafter(1.0, 0.0));
    EXPECT_TRUE(std::isnan(h[2]));  // between 1 and 3 only through the NaN entry
    EXPECT_EQ(h[3], 3.0);
    EXPECT_EQ(h[4], 3.5);
    EXPECT_TRUE(std::isnan(h[5]));
    EXPECT_TRUE(std::isnan(h[6]));  // 6 lies only on the segment from the infinite entry
    expect_consistent(&holes.rec, probe_values(holes.table, 3));

    // A calibration whose table is all one value reaches it everywhere.
    RawCal level({2, 2}, 0.0, 1.0);
    EXPECT_TRUE(std::isnan(invert(&level.rec, {2.0})[0]));
}

TEST(Inverse, StaleStatisticsAndDirectModesDoNotMatter) {
    Cal fresh;  // the identity table, indexed directly by 8-bit samples
    EXPECT_EQ(invert(fresh.p, {100.25, 0.0, 255.0}), (std::vector<double>{100.25, 0.0, 255.0}));
    // The record's statistics claim a far wider span than the table holds.
    RawCal stale({10, 20, 30}, 0.0, 2.0);
    const std::vector<double> in = invert(&stale.rec, {15.0, 9.0, 31.0});
    EXPECT_EQ(in[0], 0.5);
    EXPECT_TRUE(std::isnan(in[1]));
    EXPECT_TRUE(std::isnan(in[2]));
    // A falling two-entry table over a shifted range.
    RawCal two({5, -5}, 100.0, 200.0);
    EXPECT_EQ(invert(&two.rec, {0.0, 5.0, -5.0}), (std::vector<double>{150.0, 100.0, 200.0}));
}

TEST(Inverse, IndexedRunsAgreeWithSingleValues) {
    // Long runs go through the per-call index, single values through a
    // plain search: both must give identical inputs, rising and falling.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> step(0.0, 1.0);
    for (bool rising : {true, false}) {
        for (size_t entries : {17u, 300u, 4096u, 65535u}) {
            SCOPED_TRACE(testing::Message() << "rising " << rising << " entries " << entries);
            std::vector<double> t(entries);
            double v = -50.0;
            for (size_t i = 0; i < entries; ++i) {
                // uneven steps, some tiny, so buckets hold very different counts
                v += i % 97 == 0 ? 1e-9 * (1.0 + std::fabs(v)) : (1e-3 + std::pow(step(rng), 4)) * 3.0;
                t[i] = rising ? v : -v;
            }
            RawCal c(t, -3.0, 1000.0);
            const std::vector<double> values = probe_values(t, static_cast<uint32_t>(entries));
            const std::vector<double> batch = invert(&c.rec, values);
            const size_t stride = entries > 4096 ? 13 : 1;  // a single call scans the whole table
            for (size_t k = 0; k < values.size(); k += stride) {
                double one = 0.0;
                ASSERT_EQ(ICalInverse(&c.rec, &values[k], 1, &one, nullptr), CAL_OK);
                ASSERT_EQ(std::isnan(one), std::isnan(batch[k]));
                if (!std::isnan(one)) {
                    ASSERT_EQ(one, batch[k]) << "value " << values[k];
                }
            }
            if (entries <= 4096) expect_consistent(&c.rec, values);
        }
    }
}

TEST(Inverse, TablesThatTurnOftenMatchTheOracle) {
    // Zigzags with more turns than the stretch list holds, and noisy tables
    // with repeated values, checked value by value.
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int> level(0, 12);
    for (int turns : {3, 63, 64, 65, 500}) {
        std::vector<double> t;
        for (int k = 0; k <= turns; ++k) t.push_back(k % 2 == 0 ? k * 0.1 : 10.0 + k * 0.1);
        RawCal zig(t, 0.0, static_cast<double>(turns));
        expect_consistent(&zig.rec, probe_values(t, turns));
    }
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<double> t(40 + trial * 7);
        for (double& v : t) v = level(rng) * 0.25;
        RawCal noisy(t, -1.0, 1.0);
        std::vector<double> values = probe_values(t, trial);
        for (int k = 0; k <= 12; ++k) values.push_back(k * 0.25 + 0.125);
        expect_consistent(&noisy.rec, values);
    }
}

TEST(Inverse, SteepSegmentsSettleOnTheClosestInput) {
    // A jump by 1e6 within one grid step: no input gives every value to 4
    // ulps, but none of the neighbouring doubles may come closer.
    RawCal c({0, 1, 1e6, 1e6 + 1}, 1000.0, 4000.0);
    std::vector<double> values;
    for (int k = 1; k < 500; ++k) values.push_back(1.0 + k * (1e6 - 1.0) / 500.0);
    expect_consistent(&c.rec, values);
}

TEST(Inverse, InputsWhoseLookupIsNotFiniteAreNotOffered) {
    // Entries whose difference overflows: the forward lookup gives NaN at
    // the first entry (0 * inf) and infinities inside the segment, so no
    // input looks up to these values, and none may be reported as found.
    RawCal c({-1e308, 1e308}, 0.0, 1.0);
    uint64_t unresolved = 0;
    const std::vector<double> in = invert(&c.rec, {-1e308, 0.0, 1e300}, &unresolved);
    EXPECT_TRUE(std::isnan(in[0]) && std::isnan(in[1]) && std::isnan(in[2])) << in[0] << " " << in[1] << " " << in[2];
    EXPECT_EQ(unresolved, 3u);
    // The same segment inside a table that turns (the general search).
    RawCal turn({-1e308, 1e308, 0.0}, 0.0, 2.0);
    const std::vector<double> in2 = invert(&turn.rec, {-1e308}, &unresolved);
    EXPECT_TRUE(std::isnan(in2[0])) << in2[0];
    EXPECT_EQ(unresolved, 1u);
}

TEST(Inverse, UnusableCalibrationsResolveNothing) {
    Cal none;
    ASSERT_EQ(ICalControl(none.p, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr), CAL_OK);
    uint64_t unresolved = 0;
    std::vector<double> in = invert(none.p, {1.0, 2.0, 3.0}, &unresolved);
    EXPECT_TRUE(std::all_of(in.begin(), in.end(), [](double x) { return std::isnan(x); }));
    EXPECT_EQ(unresolved, 3u);

    for (double hi : {0.0, -5.0, kNaN, static_cast<double>(INFINITY)}) {
        RawCal c({0, 1, 2}, 0.0, hi);
        in = invert(&c.rec, {0.5, 1.0}, &unresolved);
        EXPECT_TRUE(std::isnan(in[0]) && std::isnan(in[1])) << "range_max " << hi;
        EXPECT_EQ(unresolved, 2u);
    }
}

TEST(Inverse, BadArgumentsWriteNothing) {
    Cal cal;
    const double values[2] = {1.0, 2.0};
    double inputs[2] = {-7.0, -7.0};
    uint64_t unresolved = 99;
    EXPECT_EQ(ICalInverse(nullptr, values, 2, inputs, &unresolved), CAL_ERR_INVALID);
    EXPECT_EQ(ICalInverse(cal.p, nullptr, 2, inputs, &unresolved), CAL_ERR_INVALID);
    EXPECT_EQ(ICalInverse(cal.p, values, 2, nullptr, &unresolved), CAL_ERR_INVALID);
    EXPECT_EQ(inputs[0], -7.0);
    EXPECT_EQ(unresolved, 99u);
    EXPECT_EQ(ICalInverse(nullptr, nullptr, 0, nullptr, &unresolved), CAL_OK);
    EXPECT_EQ(unresolved, 0u);
    // In place: each value is read before its input is written.
    std::vector<double> same = {10.5, 300.0, 20.0};
    ASSERT_EQ(ICalInverse(cal.p, same.data(), 3, same.data(), nullptr), CAL_OK);
    EXPECT_EQ(same[0], 10.5);
    EXPECT_TRUE(std::isnan(same[1]));
    EXPECT_EQ(same[2], 20.0);
}

}  // namespace
