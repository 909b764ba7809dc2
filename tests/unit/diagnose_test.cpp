// Diagnostics: each finding on a calibration that has exactly that fault,
// none on clean calibrations of every kind, the fixed order, the count
// beyond the caller's capacity, the refusals, the texts, and a diagnosis
// that neither allocates nor changes anything.
#include "calmgr.h"
#include "support/failing_allocator.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Where = std::tuple<uint32_t, int32_t, int32_t>;  // code, point, entry

struct Cal {
    IntensityCal* cal = ICalCreate();
    Cal() = default;
    Cal(std::vector<CalPoint> pts, int16_t fit, uint16_t options = 0) { curve(std::move(pts), fit, options); }
    ~Cal() { ICalDestroy(cal); }
    Cal(const Cal&) = delete;
    Cal& operator=(const Cal&) = delete;

    int32_t curve(std::vector<CalPoint> pts, int16_t fit, uint16_t options = 0) {
        EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), 1, pts.data()), CAL_OK);
        EXPECT_EQ(ICalControl(cal, ICAL_SET_OPTIONS, options, 1, nullptr), CAL_OK);
        return ICalControl(cal, ICAL_SET_FIT_TYPE, fit, 0, nullptr);
    }
    void range(double lo, double hi) {
        ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, &lo);
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 0, &hi);
    }
    int32_t density(double black, double incident) {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 1, nullptr);
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
        return ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 0, &incident);
    }
    void table(std::vector<double> t) {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 1, nullptr);
        ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE, static_cast<int32_t>(t.size()), 0, t.data()), CAL_OK);
    }

    std::vector<double> table_entries() const {
        uint16_t n = 0;
        ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n);
        std::vector<double> t(n);
        ICalControl(cal, ICAL_GET_TABLE, 0, 0, t.data());
        return t;
    }

    std::vector<CalFinding> findings() const {
        uint32_t n = 0;
        EXPECT_EQ(ICalDiagnose(cal, nullptr, 0, &n), CAL_OK);
        std::vector<CalFinding> f(n);
        uint32_t again = 0;
        EXPECT_EQ(ICalDiagnose(cal, f.data(), n, &again), CAL_OK);
        EXPECT_EQ(again, n);
        return f;
    }
    std::vector<Where> where() const {
        std::vector<Where> w;
        for (const CalFinding& f : findings()) w.emplace_back(f.code, f.point, f.entry);
        return w;
    }
    std::set<uint32_t> codes() const {
        std::set<uint32_t> c;
        for (const CalFinding& f : findings()) c.insert(f.code);
        return c;
    }
};

// Rising points on a gentle curve, inside the default range.
std::vector<CalPoint> gentle(int n = 6) {
    std::vector<CalPoint> p;
    for (int i = 0; i < n; ++i) {
        const double x = 255.0 * i / (n - 1);
        p.push_back({x, 0.2 + 2.0 * std::pow(x / 255.0, 1.3)});
    }
    return p;
}

TEST(Diagnose, CleanCalibrationsOfEveryKindHaveNoFindings) {
    {
        Cal fresh;  // standard, two points, identity
        EXPECT_TRUE(fresh.findings().empty());
    }
    const int16_t fits[] = {ICAL_FIT_PIECEWISE, ICAL_FIT_POLY1, ICAL_FIT_POLY2, ICAL_FIT_POLY3, ICAL_FIT_INTERP1,
                            ICAL_FIT_INTERP2, ICAL_FIT_INTERP3, 7, ICAL_FIT_EXP1, ICAL_FIT_EXP2, ICAL_FIT_EXP3};
    for (int16_t fit : fits) {
        for (uint16_t options : {0, ICAL_OPT_MONOTONIC | ICAL_OPT_CLAMP_NEGATIVE}) {
            Cal c(gentle(), fit, options);
            EXPECT_TRUE(c.findings().empty()) << "fit " << fit << " options " << options;
        }
    }
    for (int16_t fit : {int16_t{ICAL_FIT_LOG1}, int16_t{ICAL_FIT_LOG2}, int16_t{ICAL_FIT_LOG3}}) {
        std::vector<CalPoint> p;  // e^-y on a line that stays positive over the range
        for (double x : {0.0, 60.0, 120.0, 180.0, 255.0}) p.push_back({x, -std::log(1.0 - x / 510.0)});
        Cal c(p, fit);
        EXPECT_TRUE(c.findings().empty()) << "fit " << fit;
    }
    {
        std::vector<CalPoint> p;  // densities of levels 10 and 200
        for (double x : {50.0, 100.0, 150.0}) p.push_back({x, -std::log10((x - 10.0) / 190.0)});
        Cal c(p, ICAL_FIT_DENSITY);
        EXPECT_TRUE(c.findings().empty());
    }
    {
        Cal c;  // 16-bit grid, direct table
        c.range(0.0, 4095.0);
        ICalControl(c.cal, ICAL_SET_TABLE_SIZE, 4096, 1, nullptr);
        std::vector<CalPoint> p = gentle();
        for (CalPoint& q : p) q.input *= 4095.0 / 255.0;
        c.curve(p, ICAL_FIT_INTERP3);
        EXPECT_TRUE(c.findings().empty());
    }
    {
        Cal c;
        ASSERT_EQ(c.density(10.0, 200.0), CAL_OK);
        EXPECT_TRUE(c.findings().empty());
        ASSERT_EQ(c.density(-10.0, 400.0), CAL_OK);  // levels beyond the range are the density type's right
        EXPECT_TRUE(c.findings().empty());
    }
    {
        Cal c;  // a supplied table may turn as it likes
        c.table({0.0, 5.0, 1.0, 9.0});
        EXPECT_TRUE(c.findings().empty());
    }
    {
        Cal c;  // no calibration: nothing to distrust, whatever the range
        c.range(100.0, 100.0);
        ICalControl(c.cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr);
        EXPECT_TRUE(c.findings().empty());
    }
}

TEST(Diagnose, RangeThatIsEmptyInvertedOrUnbounded) {
    for (auto [lo, hi] : {std::pair{100.0, 100.0}, {200.0, 100.0}, {kNaN, 255.0}, {0.0, kInf}, {-1e308, 1e308}}) {
        Cal c;
        c.range(lo, hi);
        const std::vector<CalFinding> f = c.findings();
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(f[0].code, ICAL_DIAG_EMPTY_RANGE);
        // A NaN or unbounded limit makes the line NaN as well; nothing else.
        for (size_t i = 1; i < f.size(); ++i) EXPECT_EQ(f[i].code, ICAL_DIAG_NONFINITE) << lo << ".." << hi;
        if (std::isfinite(lo) && std::isfinite(hi) && hi - lo <= 0.0) {
            EXPECT_EQ(f.size(), 1u) << lo << ".." << hi;
        }
        EXPECT_EQ(f[0].point, -1);
        EXPECT_EQ(f[0].entry, -1);
    }
    Cal c(gentle(), ICAL_FIT_INTERP1);  // grid-measured findings are left out on such a range
    std::vector<CalPoint> p = {{0, 0}, {0.1, 1}, {300, 2}, {400, 3}};
    c.curve(p, ICAL_FIT_PIECEWISE);
    c.range(255.0, 0.0);
    EXPECT_EQ(c.where(), (std::vector<Where>{{ICAL_DIAG_EMPTY_RANGE, -1, -1}}));
}

TEST(Diagnose, RepeatedInputInAPiecewiseTableDropsItToZero) {
    const std::vector<CalPoint> p = {{0, 0}, {64, 1}, {64, 2}, {255, 3}};
    Cal order1(p, ICAL_FIT_PIECEWISE);
    ASSERT_EQ(order1.table_entries()[64], 0.0);
    EXPECT_EQ(order1.where(),
              (std::vector<Where>{{ICAL_DIAG_DUPLICATE_INPUT, 2, -1}, {ICAL_DIAG_NOT_MONOTONIC, -1, 64}}));
    EXPECT_EQ(order1.findings()[0].value, 64.0);
    for (int16_t fit : {int16_t{ICAL_FIT_INTERP2}, int16_t{ICAL_FIT_INTERP3}}) {
        Cal c(p, fit);
        EXPECT_EQ(c.where()[0], Where(ICAL_DIAG_DUPLICATE_INPUT, 2, -1));
    }
    // Exact repeats are dropped by the builder, replicates are a fit's data.
    Cal repeat({{0, 0}, {64, 1}, {64, 1}, {255, 3}}, ICAL_FIT_PIECEWISE);
    EXPECT_TRUE(repeat.findings().empty());
    Cal replicates({{0, 0}, {64, 1}, {64, 1.2}, {128, 2}, {255, 4}}, ICAL_FIT_POLY2);
    EXPECT_TRUE(replicates.findings().empty());
}

TEST(Diagnose, DensePointsMakeThePiecewiseTableLag) {
    Cal c({{0, 0}, {100, 100}, {100.5, 100.5}, {255, 255}}, ICAL_FIT_PIECEWISE);
    EXPECT_EQ(c.where(), (std::vector<Where>{{ICAL_DIAG_DENSE_POINTS, 2, -1}}));
    Cal fitted({{0, 0}, {100, 100}, {100.5, 100.5}, {255, 255}}, ICAL_FIT_POLY1);
    EXPECT_TRUE(fitted.findings().empty());

    // 1,000 noisy points on a line: the lagging table turns far more than
    // the points do.
    std::vector<CalPoint> noisy(1000);
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 0.0005);
    for (int i = 0; i < 1000; ++i) noisy[i] = {255.0 * i / 999, i / 999.0 + noise(rng)};
    Cal dense(noisy, ICAL_FIT_PIECEWISE);
    const std::set<uint32_t> codes = dense.codes();
    EXPECT_EQ(codes, (std::set<uint32_t>{ICAL_DIAG_DENSE_POINTS, ICAL_DIAG_NOT_MONOTONIC}));
    Cal smooth(noisy, ICAL_FIT_POLY1);  // a fit through the same points is fine
    EXPECT_TRUE(smooth.findings().empty());
}

TEST(Diagnose, TurnsAreJudgedAgainstThePointsOwn) {
    // The points turn back by 20; a piecewise-linear table follows no further.
    Cal follows({{0, 0}, {100, 100}, {150, 80}, {255, 255}}, ICAL_FIT_PIECEWISE);
    EXPECT_TRUE(follows.findings().empty());
    // The logarithmic fit clips to 0 where its fitted value is not positive.
    Cal clipped({{0, 0}, {100, 1}, {200, 3}}, ICAL_FIT_LOG1);
    EXPECT_EQ(clipped.where(), (std::vector<Where>{{ICAL_DIAG_NOT_MONOTONIC, -1, 200}}));
    EXPECT_EQ(clipped.findings()[0].value, 0.0);
    // Falling points, a table rising back at the end.
    Cal falling({{0, 3}, {100, 2}, {200, 1}, {255, 1.5}}, ICAL_FIT_PIECEWISE);
    EXPECT_TRUE(falling.findings().empty());
    Cal falling_fit({{0, 3}, {60, 1}, {120, 0.2}, {255, 0}}, ICAL_FIT_POLY2);
    EXPECT_EQ(falling_fit.codes(), (std::set<uint32_t>{ICAL_DIAG_NOT_MONOTONIC}));
}

TEST(Diagnose, UnsortedPointsWhereTheOrderMatters) {
    const std::vector<CalPoint> p = {{0, 0}, {150, 100}, {100, 150}, {255, 255}};
    Cal piecewise(p, ICAL_FIT_PIECEWISE);
    EXPECT_EQ(piecewise.where()[0], Where(ICAL_DIAG_UNSORTED, 2, -1));
    Cal fit(p, ICAL_FIT_POLY1);  // a least-squares fit takes any order
    EXPECT_TRUE(fit.findings().empty());
    Cal repaired(p, ICAL_FIT_POLY1, ICAL_OPT_MONOTONIC);  // ... unless the repair reads the trend
    EXPECT_EQ(repaired.where(), (std::vector<Where>{{ICAL_DIAG_UNSORTED, 2, -1}}));
    Cal descending({{255, 0}, {0, 255}}, ICAL_FIT_PIECEWISE);  // two points: any order
    EXPECT_TRUE(descending.findings().empty());
}

TEST(Diagnose, PointsOutsideTheRange) {
    Cal c({{-10, 0}, {100, 100}, {300, 255}}, ICAL_FIT_POLY1);
    EXPECT_EQ(c.where(), (std::vector<Where>{{ICAL_DIAG_OUTSIDE_RANGE, 0, -1}, {ICAL_DIAG_OUTSIDE_RANGE, 2, -1}}));
    EXPECT_EQ(c.findings()[1].value, 300.0);
    Cal two({{0, 0}, {1000, 1000}}, ICAL_FIT_PIECEWISE);
    EXPECT_EQ(two.where(), (std::vector<Where>{{ICAL_DIAG_OUTSIDE_RANGE, 1, -1}}));
}

TEST(Diagnose, NonFinitePointsAndEntries) {
    Cal point({{0, 0}, {100, kNaN}, {255, 255}}, ICAL_FIT_POLY1);
    const std::vector<CalFinding> f = point.findings();
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(Where(f[0].code, f[0].point, f[0].entry), Where(ICAL_DIAG_NONFINITE, 1, -1));
    EXPECT_TRUE(std::isnan(f[0].value));
    // The fit through it is NaN throughout: one finding for the run.
    EXPECT_EQ(Where(f[1].code, f[1].point, f[1].entry), Where(ICAL_DIAG_NONFINITE, -1, 0));
    EXPECT_EQ(f.size(), 2u);

    std::vector<double> t(50, 1.0);
    t[10] = kInf;
    t[11] = t[12] = kNaN;
    t[20] = -kInf;
    Cal table;
    table.table(t);
    EXPECT_EQ(table.where(), (std::vector<Where>{{ICAL_DIAG_NONFINITE, -1, 10}, {ICAL_DIAG_NONFINITE, -1, 20}}));
    EXPECT_EQ(table.findings()[1].value, -kInf);
}

TEST(Diagnose, DensityFits) {
    Cal rises({{50, 0.5}, {100, 1.0}, {150, 1.5}}, ICAL_FIT_DENSITY);
    EXPECT_EQ(rises.where(), (std::vector<Where>{{ICAL_DIAG_DENSITY_RISES, -1, -1}}));
    // Transmittances on T = (x - 5.5) / 500: incident level 505.5, stored as 255.
    Cal limited({{55.5, 1}, {105.5, -std::log10(0.2)}, {205.5, -std::log10(0.4)}}, ICAL_FIT_DENSITY);
    const std::vector<CalFinding> f = limited.findings();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].code, ICAL_DIAG_LEVELS_LIMITED);
    EXPECT_NEAR(f[0].value, 505.5, 1e-9);
    double incident = 0.0;
    ICalControl(limited.cal, ICAL_GET_INCIDENT_LEVEL, 0, 0, &incident);
    EXPECT_EQ(incident, 255.0);
}

TEST(Diagnose, DensityLevelsThatLeaveNoCurve) {
    Cal refused;
    ASSERT_NE(refused.density(200.0, 100.0), CAL_OK);  // not built: the table is the old one
    EXPECT_EQ(refused.where(), (std::vector<Where>{{ICAL_DIAG_LEVELS_LIMITED, -1, -1}}));
    EXPECT_EQ(refused.findings()[0].value, 100.0);
    Cal above;
    ASSERT_EQ(above.density(300.0, 400.0), CAL_OK);  // black above the range: a flat table
    EXPECT_EQ(above.where(), (std::vector<Where>{{ICAL_DIAG_LEVELS_LIMITED, -1, -1}}));
    EXPECT_EQ(above.findings()[0].value, 300.0);
    Cal narrow;
    ASSERT_EQ(narrow.density(10.2, 10.8), CAL_OK);  // both between two grid inputs
    EXPECT_EQ(narrow.codes(), (std::set<uint32_t>{ICAL_DIAG_LEVELS_LIMITED}));
}

TEST(Diagnose, FitsTheirPointsDoNotDetermine) {
    Cal line({{50, 0.5}, {50, 1.0}, {50, 1.5}}, ICAL_FIT_POLY1);
    EXPECT_EQ(line.where(), (std::vector<Where>{{ICAL_DIAG_FIT_SINGULAR, -1, -1}}));
    Cal cubic({{0, 0}, {0, 1}, {128, 2}, {128, 3}, {255, 4}}, ICAL_FIT_POLY3);  // 3 distinct of 4
    EXPECT_EQ(cubic.where(), (std::vector<Where>{{ICAL_DIAG_FIT_SINGULAR, -1, -1}}));
    Cal step({{100, 5}, {100, 7}}, ICAL_FIT_PIECEWISE);  // the two-point line becomes a step
    EXPECT_EQ(step.where(), (std::vector<Where>{{ICAL_DIAG_FIT_SINGULAR, -1, -1}}));
    Cal same({{64, 1}, {64, 1}, {64, 1}}, ICAL_FIT_INTERP2);  // nothing left to interpolate
    EXPECT_EQ(same.where(), (std::vector<Where>{{ICAL_DIAG_FIT_SINGULAR, -1, -1}}));
    Cal flat({{0, 1}, {0, 2}, {0, 3}}, ICAL_FIT_DENSITY);
    EXPECT_EQ(flat.where(), (std::vector<Where>{{ICAL_DIAG_FIT_SINGULAR, -1, -1}}));
}

TEST(Diagnose, DegreeReducedAndPointsDropped) {
    Cal cubic({{0, 0}, {100, 1}, {200, 3}}, ICAL_FIT_POLY3);
    const std::vector<CalFinding> f = cubic.findings();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].code, ICAL_DIAG_DEGREE_REDUCED);
    EXPECT_EQ(f[0].value, 2.0);

    Cal dropped({{0, -1}, {100, 1}, {200, 3}, {255, 4}}, ICAL_FIT_EXP1);
    EXPECT_EQ(dropped.where(), (std::vector<Where>{{ICAL_DIAG_POINTS_DROPPED, 0, -1}}));
    EXPECT_EQ(dropped.findings()[0].value, -1.0);
    // Two samples left for a quadratic: a line through them.
    Cal fewer({{0, -1}, {100, 0}, {200, 3}, {255, 4}}, ICAL_FIT_EXP2);
    EXPECT_EQ(fewer.where(), (std::vector<Where>{{ICAL_DIAG_POINTS_DROPPED, 0, -1},
                                                 {ICAL_DIAG_POINTS_DROPPED, 1, -1},
                                                 {ICAL_DIAG_DEGREE_REDUCED, -1, -1}}));
    // One sample: the build is refused and the table is the old one.
    Cal none;
    EXPECT_NE(none.curve({{0, -1}, {100, 0}, {200, 3}}, ICAL_FIT_EXP1), CAL_OK);
    EXPECT_EQ(none.where(), (std::vector<Where>{{ICAL_DIAG_POINTS_DROPPED, 0, -1},
                                                {ICAL_DIAG_POINTS_DROPPED, 1, -1},
                                                {ICAL_DIAG_FIT_SINGULAR, -1, -1}}));
}

TEST(Diagnose, FixedOrderAndCountBeyondCapacity) {
    Cal c({{0, 0}, {300, kNaN}, {-5, 2}, {-4.5, 3}, {255, 255}}, ICAL_FIT_PIECEWISE);
    const std::vector<Where> all = c.where();
    ASSERT_EQ(all, (std::vector<Where>{{ICAL_DIAG_NONFINITE, 1, -1},
                                      {ICAL_DIAG_UNSORTED, 2, -1},
                                      {ICAL_DIAG_OUTSIDE_RANGE, 2, -1},
                                      {ICAL_DIAG_OUTSIDE_RANGE, 3, -1},
                                      {ICAL_DIAG_DENSE_POINTS, 3, -1},
                                      {ICAL_DIAG_NONFINITE, -1, 0}}));

    CalFinding two[3];
    std::memset(two, 0x5A, sizeof two);
    uint32_t n = 0;
    ASSERT_EQ(ICalDiagnose(c.cal, two, 2, &n), CAL_OK);
    EXPECT_EQ(n, all.size());
    EXPECT_EQ(Where(two[1].code, two[1].point, two[1].entry), all[1]);
    EXPECT_EQ(two[2].code, 0x5A5A5A5Au);  // only capacity findings written
}

TEST(Diagnose, RefusesWhatItCannotExamine) {
    Cal c({{0, 0}, {64, 1}, {64, 2}, {255, 3}}, ICAL_FIT_PIECEWISE);
    CalFinding f[4];
    std::memset(f, 0x5A, sizeof f);
    uint32_t n = 77;
    EXPECT_EQ(ICalDiagnose(nullptr, f, 4, &n), CAL_ERR_INVALID);
    EXPECT_EQ(ICalDiagnose(c.cal, f, 4, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(ICalDiagnose(c.cal, nullptr, 1, &n), CAL_ERR_INVALID);
    alignas(IntensityCal*) unsigned char stranger[1024] = {};
    EXPECT_EQ(ICalDiagnose(reinterpret_cast<IntensityCal*>(stranger), f, 4, &n), CAL_ERR_INVALID);
    IntensityCal* gone = ICalCreate();
    ICalDestroy(gone);
    EXPECT_EQ(ICalDiagnose(gone, f, 4, &n), CAL_ERR_INVALID);
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(f[0].code, 0x5A5A5A5Au);
}

TEST(Diagnose, LargeCalibrationInFewPasses) {
    // 32,767 points and entries: every point after the first is dense, and
    // a diagnosis with quadratic work would take minutes here.
    Cal c;
    ICalControl(c.cal, ICAL_SET_TABLE_SIZE, 32767, 1, nullptr);
    std::vector<CalPoint> p(32767);
    for (int i = 0; i < 32767; ++i) p[i] = {127.5 * i / 32766, i / 32766.0};
    c.curve(p, ICAL_FIT_PIECEWISE);
    const std::vector<CalFinding> f = c.findings();
    ASSERT_EQ(f.size(), 32766u);
    EXPECT_EQ(Where(f.back().code, f.back().point, f.back().entry), Where(ICAL_DIAG_DENSE_POINTS, 32766, -1));
    Cal fit(p, ICAL_FIT_POLY3);
    EXPECT_TRUE(fit.findings().empty());
}

TEST(Diagnose, AsksNoAllocatorAndChangesNothing) {
    Cal c({{0, -1}, {64, 1}, {64, 2}, {255, 3}}, ICAL_FIT_EXP2);
    const std::vector<double> before = c.table_entries();
    calmgr_test::FailingAllocator refusing;
    refusing.fail_all();
    CalFinding f[8];
    uint32_t n = 0;
    ASSERT_EQ(ICalDiagnose(c.cal, f, 8, &n), CAL_OK);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(refusing.requests(), 0u);
    refusing.stop_failing();
    const std::vector<double> after = c.table_entries();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(std::memcmp(before.data(), after.data(), before.size() * sizeof(double)), 0);
}

TEST(Diagnose, TextsAreOneStableLineEach) {
    std::set<std::string> seen;
    for (uint32_t code = ICAL_DIAG_EMPTY_RANGE; code <= ICAL_DIAG_POINTS_DROPPED; ++code) {
        const std::string t = CalDiagText(code);
        EXPECT_GT(t.size(), 20u) << code;
        EXPECT_EQ(t.find('\n'), std::string::npos) << code;
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(t[0]))) << code;
        EXPECT_NE(t.back(), '.') << code;
        EXPECT_TRUE(seen.insert(t).second) << "repeated text for " << code;
        EXPECT_EQ(CalDiagText(code), CalDiagText(code));  // static storage
    }
    EXPECT_EQ(std::string(CalDiagText(ICAL_DIAG_DUPLICATE_INPUT)),
              "another point has this input value but a different calibrated value; the table drops to 0 there");
    for (uint32_t other : {0u, 13u, 0xFFFFFFFFu}) EXPECT_STREQ(CalDiagText(other), "unknown finding");
}

}  // namespace
