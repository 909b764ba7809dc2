// Fitted curves: every fit type through the public controls, the monotonic
// and non-negative repairs, exhausted memory from a failing allocator, and
// inputs outside the documented domain.
#include "calmgr.h"
#include "fit_heap.h"
#include "frame/services.h"
#include "intensity/ical.h"
#include "support/failing_allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr uint16_t kMonotonic = ICAL_OPT_MONOTONIC;
constexpr uint16_t kClamp = ICAL_OPT_CLAMP_NEGATIVE;

// Points and options deferred, then the fit type rebuilds: the typical
// sequence of a host application.
int32_t set_curve(IntensityCal* cal, const std::vector<CalPoint>& pts, int16_t fit_type, uint16_t options = 0) {
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), 1, const_cast<CalPoint*>(pts.data())),
              CAL_OK);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_OPTIONS, options, 1, nullptr), CAL_OK);
    return ICalControl(cal, ICAL_SET_FIT_TYPE, fit_type, 0, nullptr);
}

std::vector<double> table_of(IntensityCal* cal) {
    uint16_t size = 0;
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &size), CAL_OK);
    std::vector<double> t(size);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE, 0, 0, t.data()), CAL_OK);
    return t;
}

double get_double(IntensityCal* cal, int32_t code) {
    double v = 0.0;
    EXPECT_EQ(ICalControl(cal, code, 0, 0, &v), CAL_OK);
    return v;
}

// table_min <= every numeric entry <= table_max.
void expect_stats_bound_table(IntensityCal* cal) {
    const double lo = get_double(cal, ICAL_GET_TABLE_MIN), hi = get_double(cal, ICAL_GET_TABLE_MAX);
    for (double v : table_of(cal)) {
        if (std::isnan(v)) continue;
        ASSERT_LE(lo, v);
        ASSERT_LE(v, hi);
    }
}

struct Cal {
    IntensityCal* p = ICalCreate();
    ~Cal() { ICalDestroy(p); }
};

TEST(FittedMonotonic, RisingPointsFlattenTheDip) {
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{0, 0}, {100, 100}, {150, 80}, {255, 255}}, 0, kMonotonic), CAL_OK);
    const std::vector<double> t = table_of(c.p);
    for (int i = 0; i < 100; ++i) EXPECT_DOUBLE_EQ(t[i], i);
    for (int i = 100; i <= 162; ++i) EXPECT_DOUBLE_EQ(t[i], 100.0) << i;
    EXPECT_NEAR(t[163], 80.0 + 13.0 * 175.0 / 105.0, 1e-9);
    for (int i = 164; i < 256; ++i) EXPECT_GE(t[i], t[i - 1]);
    EXPECT_NEAR(t[255], 255.0, 1e-9);
}

TEST(FittedMonotonic, FallingPointsFlattenTheBump) {
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{0, 100}, {100, 50}, {150, 60}, {255, 0}}, 0, kMonotonic), CAL_OK);
    const std::vector<double> t = table_of(c.p);
    for (int i = 100; i <= 167; ++i) EXPECT_DOUBLE_EQ(t[i], 50.0) << i;
    EXPECT_NEAR(t[168], 60.0 - 18.0 * 60.0 / 105.0, 1e-9);
    for (int i = 1; i < 256; ++i) EXPECT_LE(t[i], t[i - 1]);
    EXPECT_NEAR(t[255], 0.0, 1e-9);
}

TEST(FittedMonotonic, EqualNeighboursCountAsFallingSoTheTrendCancels) {
    // Order 3 with three points: one parabola peaking at 150 over the span.
    const std::vector<CalPoint> pts{{0, 0}, {100, 100}, {200, 100}};
    Cal plain, repaired;
    ASSERT_EQ(set_curve(plain.p, pts, 6), CAL_OK);
    ASSERT_EQ(set_curve(repaired.p, pts, 6, kMonotonic), CAL_OK);
    const std::vector<double> t = table_of(plain.p);
    EXPECT_GT(t[150], t[199]);  // a repair would have had work to do
    EXPECT_EQ(table_of(repaired.p), t);
}

TEST(FittedMonotonic, PivotOutsideTheTableIsClamped) {
    // The best-agreeing point lies beyond the range (and, with NaN, nowhere):
    // the pivot entry is clamped and the repair stays inside the table.
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{-50, 0}, {100, 40}, {120, 30}, {600, 255}}, 0, kMonotonic), CAL_OK);
    const std::vector<double> t = table_of(c.p);
    for (int i = 1; i < 256; ++i) EXPECT_GE(t[i], t[i - 1]) << i;
    expect_stats_bound_table(c.p);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(set_curve(c.p, {{nan, 0}, {100, nan}, {nan, 30}, {255, 255}}, 0, kMonotonic | kClamp), CAL_OK);
    expect_stats_bound_table(c.p);
}

TEST(FittedClamp, NegativeAndNaNEntriesBecomeZero) {
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{0, -50}, {100, 50}, {255, -10}}, 0, kClamp), CAL_OK);
    const std::vector<double> t = table_of(c.p);
    for (int i = 0; i <= 50; ++i) EXPECT_EQ(t[i], 0.0) << i;
    EXPECT_DOUBLE_EQ(t[75], 25.0);
    EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MIN), 0.0);
    EXPECT_DOUBLE_EQ(get_double(c.p, ICAL_GET_TABLE_MAX), 50.0);

    c.p->table[3] = std::nan("");
    c.p->table[4] = -1e-300;
    calmgr::clamp_negative(c.p);
    EXPECT_EQ(c.p->table[3], 0.0);
    EXPECT_EQ(c.p->table[4], 0.0);
}

TEST(FittedPolynomial, LeastSquaresOverTheGrid) {
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{0, -10}, {100, 90}, {255, 245}}, 1, kClamp), CAL_OK);
    std::vector<double> t = table_of(c.p);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(t[i], 0.0) << i;
    EXPECT_NEAR(t[100], 90.0, 1e-9);
    EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MIN), 0.0);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_TABLE_MAX), 245.0, 1e-9);

    // Quadratic data, given out of order and with a repeat: the fit is exact.
    ASSERT_EQ(set_curve(c.p, {{40, 160}, {0, 0}, {20, 40}, {10, 10}, {20, 40}, {30, 90}}, 2), CAL_OK);
    t = table_of(c.p);
    for (int i = 0; i < 256; i += 15) EXPECT_NEAR(t[i], i * i / 10.0, 1e-6) << i;

    // Cubic fit of a straight line stays a line.
    ASSERT_EQ(set_curve(c.p, {{0, 1}, {50, 2}, {100, 3}, {200, 5}}, 3), CAL_OK);
    EXPECT_NEAR(table_of(c.p)[150], 4.0, 1e-6);
}

TEST(FittedDensity, LevelsFromTheTransmittanceLine) {
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{55.5, 1}, {105.5, -std::log10(0.2)}, {205.5, -std::log10(0.4)}}, 10), CAL_OK);
    const std::vector<double> t = table_of(c.p);
    for (int i = 0; i <= 7; ++i) EXPECT_NEAR(t[i], -std::log10(1.0 / 500), 1e-9) << i;
    EXPECT_NEAR(t[8], -std::log10(2.0 / 500), 1e-9);
    EXPECT_NEAR(t[255], -std::log10(249.0 / 500), 1e-9);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_TABLE_MIN), -std::log10(249.0 / 500), 1e-9);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_TABLE_MAX), -std::log10(1.0 / 500), 1e-9);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_BLACK_LEVEL), 5.5, 1e-9);
    EXPECT_EQ(get_double(c.p, ICAL_GET_INCIDENT_LEVEL), 255.0);  // limited after the build

    auto od = [](double x) { return -std::log10((x - 10) / 190); };
    ASSERT_EQ(set_curve(c.p, {{50, od(50)}, {100, od(100)}, {150, od(150)}}, 10), CAL_OK);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_BLACK_LEVEL), 10.0, 1e-9);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_INCIDENT_LEVEL), 200.0, 1e-9);
}

TEST(FittedTransforms, ExponentialModelAndItsRefusal) {
    Cal c;
    // 2 e^(x/100); the non-positive point is left out of the fit.
    ASSERT_EQ(set_curve(c.p, {{0, 2}, {50, 2 * std::exp(0.5)}, {60, -3}, {200, 2 * std::exp(2.0)}}, 11), CAL_OK);
    std::vector<double> t = table_of(c.p);
    EXPECT_NEAR(t[100], 2 * std::exp(1.0), 1e-9);
    EXPECT_NEAR(t[255], 2 * std::exp(2.55), 1e-9);

    ASSERT_EQ(set_curve(c.p, {{0, 0}, {100, 100}, {255, 255}}, 0), CAL_OK);
    const std::vector<double> before = table_of(c.p);
    const double lo = get_double(c.p, ICAL_GET_TABLE_MIN), hi = get_double(c.p, ICAL_GET_TABLE_MAX);
    EXPECT_EQ(set_curve(c.p, {{0, 0}, {100, 5}, {255, -1}}, 12, kClamp), CAL_ERR_INVALID);
    EXPECT_EQ(table_of(c.p), before);
    EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MIN), lo);
    EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MAX), hi);
}

TEST(FittedTransforms, LogarithmicModelZeroWhereTheFitIsNotPositive) {
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{0, 0}, {100, 1}, {200, 3}}, 21), CAL_OK);
    const std::vector<double> t = table_of(c.p);
    for (int i = 200; i < 256; ++i) EXPECT_EQ(t[i], 0.0) << i;
    EXPECT_NEAR(t[199], 6.119, 1e-3);
    EXPECT_NEAR(t[0], 0.0538, 1e-4);
    EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MIN), 0.0);
}

TEST(FittedTransforms, RefusedFitIsNotTransformed) {
    // A table longer than the fit's 16-bit signed count is refused by the
    // fit; the table it leaves must not be taken for fitted values.
    Cal c;
    ASSERT_EQ(set_curve(c.p, {{0, 1}, {100, 2}, {255, 3}}, 0), CAL_OK);
    double* big = calmgr::alloc_array<double>(40000);
    ASSERT_NE(big, nullptr);
    for (int i = 0; i < 40000; ++i) big[i] = 7.0;
    calmgr::mem_free(c.p->table);
    c.p->table = big;
    c.p->table_size = 40000;
    for (int16_t type : {11, 21}) {
        c.p->fit_type = type;
        EXPECT_EQ(calmgr::recompute(c.p), CAL_OK);
        EXPECT_EQ(c.p->table[0], 7.0) << type;
        EXPECT_EQ(c.p->table[39999], 7.0) << type;
    }
}

TEST(FittedTypes, TypesWithoutAModelInterpolateLinearly) {
    const std::vector<CalPoint> pts{{10, 3}, {60, 90}, {61, 20}, {200, 40}};
    Cal reference;
    ASSERT_EQ(set_curve(reference.p, pts, 0), CAL_OK);
    const std::vector<double> expected = table_of(reference.p);
    EXPECT_DOUBLE_EQ(expected[35], 46.5);
    for (int16_t type : {7, 8, 9}) {
        Cal c;
        ASSERT_EQ(set_curve(c.p, pts, type), CAL_OK);
        EXPECT_EQ(table_of(c.p), expected) << type;
    }
    // Values the control does not admit fall into the same row: negative
    // ones read as large unsigned selectors.
    for (int16_t type : {-1, -32768, 14, 20, 24}) {
        Cal c;
        ASSERT_EQ(set_curve(c.p, pts, 1), CAL_OK);
        c.p->fit_type = type;
        ASSERT_EQ(ICalControl(c.p, ICAL_SET_OPTIONS, 0, 0, nullptr), CAL_OK);
        EXPECT_EQ(table_of(c.p), expected) << type;
    }
}

using calmgr_test::FailingAllocator;

TEST(FittedMemory, MissingTransformedCopyLeavesTheTable) {
    for (int16_t type : {10, 11, 22}) {
        Cal c;
        ASSERT_EQ(set_curve(c.p, {{0, 1}, {100, 2}, {255, 3}}, 0), CAL_OK);
        const std::vector<double> before = table_of(c.p);
        const double hi = get_double(c.p, ICAL_GET_TABLE_MAX);
        const double black = get_double(c.p, ICAL_GET_BLACK_LEVEL);
        {
            FailingAllocator fail(1);
            EXPECT_EQ(ICalControl(c.p, ICAL_SET_FIT_TYPE, type, 0, nullptr), CAL_ERR_NOMEM) << type;
        }
        EXPECT_EQ(table_of(c.p), before) << type;
        EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MAX), hi);
        EXPECT_EQ(get_double(c.p, ICAL_GET_BLACK_LEVEL), black);
    }
}

TEST(FittedMemory, RefusedFitHeapLeavesTheTable) {
    for (int16_t type : {2, 10, 12, 23}) {
        Cal c;
        ASSERT_EQ(set_curve(c.p, {{0, 1}, {100, 2}, {255, 3}}, 0), CAL_OK);
        const std::vector<double> before = table_of(c.p);
        const double hi = get_double(c.p, ICAL_GET_TABLE_MAX);
        {
            fit_test::CountingHeap heap(1);
            EXPECT_EQ(ICalControl(c.p, ICAL_SET_FIT_TYPE, type, 0, nullptr), CAL_ERR_NOMEM) << type;
            EXPECT_EQ(heap.live(), 0);
        }
        EXPECT_EQ(table_of(c.p), before) << type;
        EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MAX), hi);
        EXPECT_EQ(get_double(c.p, ICAL_GET_BLACK_LEVEL), 0.0);
        EXPECT_EQ(get_double(c.p, ICAL_GET_INCIDENT_LEVEL), 255.0);
    }
}

TEST(FittedMemory, MissingRepairBlockStillClampsAndReports) {
    const std::vector<CalPoint> pts{{0, -40}, {100, 100}, {150, 80}, {255, 255}};
    Cal unrepaired;
    ASSERT_EQ(set_curve(unrepaired.p, pts, 0, kClamp), CAL_OK);
    Cal c;
    ASSERT_EQ(set_curve(c.p, pts, 0), CAL_OK);
    {
        FailingAllocator fail(1);
        EXPECT_EQ(ICalControl(c.p, ICAL_SET_OPTIONS, kMonotonic | kClamp, 0, nullptr), CAL_ERR_NOMEM);
    }
    EXPECT_EQ(table_of(c.p), table_of(unrepaired.p));
    EXPECT_EQ(get_double(c.p, ICAL_GET_TABLE_MIN), 0.0);
    EXPECT_NEAR(get_double(c.p, ICAL_GET_TABLE_MAX), 255.0, 1e-9);

    // With a transformed copy first, the repair block is the second request.
    // Three positive points under fit type 13 dip and rise again, so the
    // repair has work to do.
    Cal plain, repaired;
    ASSERT_EQ(set_curve(plain.p, pts, 13), CAL_OK);
    ASSERT_EQ(set_curve(repaired.p, pts, 13, kMonotonic), CAL_OK);
    EXPECT_NE(table_of(repaired.p), table_of(plain.p));
    ASSERT_EQ(set_curve(c.p, pts, 13), CAL_OK);
    {
        FailingAllocator fail(2);
        EXPECT_EQ(ICalControl(c.p, ICAL_SET_OPTIONS, kMonotonic, 0, nullptr), CAL_ERR_NOMEM);
    }
    EXPECT_EQ(table_of(c.p), table_of(plain.p));
}

TEST(FittedDensity, SingularTransmittanceFitIsRefused) {
    // All points at one input: the line through the transmittances has no
    // finite slope, the derived levels are NaN and the density build refuses
    // them, leaving the table and its statistics as they were.
    Cal c;
    const std::vector<double> before = table_of(c.p);
    EXPECT_EQ(set_curve(c.p, {{1, 1}, {1, 2}, {1, 0.5}}, 10), CAL_ERR_INVALID);
    EXPECT_EQ(table_of(c.p), before);
    EXPECT_EQ(c.p->table_max, 255.0);
    EXPECT_TRUE(std::isnan(get_double(c.p, ICAL_GET_BLACK_LEVEL)));
}

TEST(FittedOpenCases, StatisticsBoundEveryEntry) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<CalPoint>> point_sets{
        {{255, 0}, {0, 255}, {128, 7}},           // not ascending
        {{-100, 5}, {400, -5}, {500, 9}},         // outside the range
        {{100.2, 1}, {100.4, 2}, {100.6, 1}},     // between two grid inputs
        {{0, nan}, {nan, 2}, {255, 3}},           // not numbers
        {{0, 1e308}, {1, -1e308}, {2, 1e308}},    // overflowing differences
    };
    const double ranges[][2] = {{0, 255}, {200, 100}, {50, 50}, {0, 1e-300}};
    for (const auto& pts : point_sets) {
        for (const auto& range : ranges) {
            for (int16_t type : {0, 2, 5, 6, 10, 11, 21}) {
                Cal c;
                ICalControl(c.p, ICAL_SET_RANGE_MIN, 0, 1, const_cast<double*>(&range[0]));
                ICalControl(c.p, ICAL_SET_RANGE_MAX, 0, 1, const_cast<double*>(&range[1]));
                ICalControl(c.p, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), 1,
                            const_cast<CalPoint*>(pts.data()));
                ICalControl(c.p, ICAL_SET_OPTIONS, kMonotonic | kClamp, 1, nullptr);
                ICalControl(c.p, ICAL_SET_FIT_TYPE, type, 0, nullptr);
                expect_stats_bound_table(c.p);
            }
        }
    }
}

}  // namespace

namespace {

TEST(FittedMonotonic, NaNDistanceOfTheFirstPointKeepsItAsPivot) {
    // Point 0 has no calibrated value, so its distance to the curve is NaN;
    // later points only replace the pivot when strictly closer, which nothing
    // is than NaN. The repair then works outward from entry 0: with a falling
    // trend every entry is at most entry 0, which keeps its fitted value.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<CalPoint> pts{{0, nan}, {30, 5}, {80, 40}, {120, 10}, {200, 60}, {250, 2}};
    Cal plain, repaired;
    ASSERT_EQ(set_curve(plain.p, pts, 12), CAL_OK);
    ASSERT_EQ(set_curve(repaired.p, pts, 12, kMonotonic), CAL_OK);
    const std::vector<double> fitted = table_of(plain.p), t = table_of(repaired.p);
    EXPECT_EQ(t[0], fitted[0]);
    EXPECT_LT(t[0], *std::max_element(fitted.begin(), fitted.end()));  // a later pivot would keep the peak
    for (int i = 1; i < 256; ++i) ASSERT_LE(t[i], t[i - 1]) << i;
}

}  // namespace
