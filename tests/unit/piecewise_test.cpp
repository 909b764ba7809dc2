// Piecewise interpolation: windows of each order, the cursor walk, the
// extension lines, repeated points, refusals, and inputs outside the
// documented domain (which must stay inside the table).
#include "calmgr.h"
#include "intensity/piecewise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using calmgr::build_piecewise_table;

constexpr double kUnset = -12345.678;

struct Built {
    int result;
    std::vector<double> table;
};

Built build(const std::vector<CalPoint>& pts, int16_t order, double lo = 0.0, double hi = 255.0,
            uint16_t size = 256) {
    Built b{0, std::vector<double>(size, kUnset)};
    b.result = build_piecewise_table(pts.data(), static_cast<uint16_t>(pts.size()), b.table.data(), size, order,
                                     lo, hi);
    return b;
}

void expect_filled(const Built& b) {
    ASSERT_EQ(b.result, 1);
    for (size_t i = 0; i < b.table.size(); ++i) ASSERT_NE(b.table[i], kUnset) << "entry " << i;
}

TEST(Piecewise, LinearWithHeadAndTailLines) {
    Built b = build({{10, 10}, {100, 100}, {200, 150}}, 1);
    expect_filled(b);
    for (int i = 0; i < 10; ++i) EXPECT_DOUBLE_EQ(b.table[i], i);
    EXPECT_DOUBLE_EQ(b.table[150], 125.0);
    EXPECT_DOUBLE_EQ(b.table[200], 150.0);
    EXPECT_DOUBLE_EQ(b.table[255], 177.5);

    b = build({{0, 0}, {100, 50}, {255, 255}}, 1);
    EXPECT_DOUBLE_EQ(b.table[50], 25.0);
    EXPECT_NEAR(b.table[200], 205.0 * 100.0 / 155.0 + 50.0, 1e-12);
    EXPECT_NEAR(b.table[255], 255.0, 1e-9);
}

TEST(Piecewise, QuadraticAndCubicWindows) {
    Built b = build({{0, 0}, {10, 10}, {20, 40}, {30, 90}}, 2);
    expect_filled(b);
    EXPECT_NEAR(b.table[5], 2.5, 1e-12);
    EXPECT_NEAR(b.table[15], 22.5, 1e-12);
    EXPECT_NEAR(b.table[25], 65.0, 1e-12);  // last interval: a straight line
    EXPECT_NEAR(b.table[30], 90.0, 1e-12);
    EXPECT_NEAR(b.table[255], 1215.0, 1e-9);

    b = build({{0, 0}, {10, 10}, {20, 40}, {30, 90}, {40, 160}}, 3);
    expect_filled(b);
    for (int i = 0; i < 40; ++i) EXPECT_NEAR(b.table[i], i * i / 10.0, 1e-9) << i;
    EXPECT_NEAR(b.table[40], 159.8, 1e-9);  // tail line through entries 38 and 39
    EXPECT_NEAR(b.table[255], 1815.3, 1e-9);

    // Two points with order 3: the window shrinks to the line between them.
    b = build({{0, 0}, {255, 510}}, 3);
    expect_filled(b);
    EXPECT_NEAR(b.table[100], 200.0, 1e-12);
}

TEST(Piecewise, ConsecutiveRepeatsAreDropped) {
    Built with = build({{0, 0}, {0, 0}, {100, 100}, {100, 100}, {255, 255}}, 2);
    Built without = build({{0, 0}, {100, 100}, {255, 255}}, 2);
    EXPECT_EQ(with.result, 1);
    EXPECT_EQ(with.table, without.table);

    // Only repeats count: points sharing an input value with different
    // calibrated values both stay and contribute nothing to each other.
    Built step = build({{0, 0}, {100, 0}, {100, 50}, {255, 50}}, 1);
    expect_filled(step);
    EXPECT_DOUBLE_EQ(step.table[50], 0.0);
    EXPECT_DOUBLE_EQ(step.table[200], 50.0);
}

TEST(Piecewise, CursorCatchesUpOnePointPerEntry) {
    Built b = build({{0, 0}, {0.25, 10}, {0.5, 0}, {10, 0}}, 1);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[0], 0.0);
    EXPECT_DOUBLE_EQ(b.table[1], -20.0);  // window (0.25, 10)-(0.5, 0)
    for (int i = 2; i < 256; ++i) EXPECT_DOUBLE_EQ(b.table[i], 0.0) << i;
}

TEST(Piecewise, EntryJustBelowFirstPointUsesFirstWindow) {
    // 3 * 0.07 rounds below 0.21: entry 3 is evaluated before the cursor has
    // passed the first point. An earlier build on other points must not leak.
    build({{0, 100}, {0.1, -100}, {0.2, 300}, {0.7, 1}}, 3, 0.0, 0.7, 11);
    Built b = build({{0.21, 5}, {0.56, 12}}, 1, 0.0, 0.7, 11);
    expect_filled(b);
    EXPECT_NEAR(b.table[3], 5.0, 1e-9);
    EXPECT_NEAR(b.table[5], 5.0 + 7.0 * (0.35 - 0.21) / 0.35, 1e-9);
}

TEST(Piecewise, RefusalsLeaveTableUntouched) {
    const std::vector<CalPoint> pts{{0, 0}, {100, 100}, {255, 255}};
    EXPECT_EQ(build({{5, 5}, {5, 5}}, 1).result, 0);
    EXPECT_EQ(build({{5, 5}}, 1).result, 0);
    EXPECT_EQ(build(pts, 1, 200.0, 100.0).result, 0);
    EXPECT_EQ(build(pts, 1, 0.0, std::nan("")).result, 0);
    EXPECT_EQ(build(pts, 0).result, 0);
    EXPECT_EQ(build(pts, 4).result, 0);
    EXPECT_EQ(build(pts, 1, 0.0, 255.0, 1).result, 0);
    for (const Built& b : {build({{5, 5}, {5, 5}}, 1), build(pts, 1, 200.0, 100.0)})
        for (double v : b.table) ASSERT_EQ(v, kUnset);
}

TEST(Piecewise, PointsOutsideTheRangeInterpolateInside) {
    // First two points below the range: entry 0 lies on the interval
    // (-50, 50)-(100, 100), not on a stale window; the last point beyond the
    // range: the walk runs to the last entry, no tail line.
    Built b = build({{-100, 0}, {-50, 50}, {100, 100}, {300, 0}}, 1);
    expect_filled(b);
    EXPECT_NEAR(b.table[0], 50.0 + 50.0 / 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(b.table[100], 100.0);
    EXPECT_NEAR(b.table[255], 22.5, 1e-12);

    // Every point above the range: the line through the first two points.
    b = build({{300, 0}, {400, 100}}, 1);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[0], -300.0);
    // Every point below it: the line through the last two points.
    b = build({{-400, 0}, {-300, 100}}, 2);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[255], 655.0);
}

TEST(Piecewise, FewGridInputsWithinTheSpan) {
    // Two computed entries: one line through both covers the table.
    Built b = build({{100, 1}, {101, 3}}, 1);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[0], -199.0);
    EXPECT_DOUBLE_EQ(b.table[101], 3.0);
    EXPECT_DOUBLE_EQ(b.table[255], 311.0);
    // One computed entry: the lines through the outermost points.
    b = build({{100, 1}, {100.5, 2}}, 3);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[0], -199.0);
    EXPECT_DOUBLE_EQ(b.table[100], 1.0);
    EXPECT_DOUBLE_EQ(b.table[255], 311.0);
    // None: both points between two grid inputs.
    b = build({{100.25, 1}, {100.75, 2}}, 1);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[100], 0.5);
    EXPECT_DOUBLE_EQ(b.table[101], 2.5);
    // Two table entries only.
    b = build({{0, 0}, {100, 50}, {255, 255}}, 2, 0.0, 255.0, 2);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[0], 0.0);
    EXPECT_NEAR(b.table[1], 255.0, 1e-9);
}

TEST(Piecewise, DescendingAndDegenerateInputsStayInBounds) {
    // Descending points: start lies after end; every entry is filled once.
    Built b = build({{255, 0}, {0, 255}}, 1);
    expect_filled(b);
    EXPECT_DOUBLE_EQ(b.table[0], 255.0);
    EXPECT_DOUBLE_EQ(b.table[255], 0.0);
    expect_filled(build({{0, 0}, {200, 5}, {50, 9}, {255, 1}}, 3));

    // Empty range: every entry is evaluated at range_min.
    b = build({{0, 0}, {100, 200}}, 1, 50.0, 50.0);
    expect_filled(b);
    for (double v : b.table) ASSERT_DOUBLE_EQ(v, 100.0);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    expect_filled(build({{nan, 1}, {100, 2}, {200, 3}}, 2));
    expect_filled(build({{0, 1}, {100, nan}, {200, 3}}, 3));
    expect_filled(build({{0, 1}, {100, 2}, {nan, 3}}, 1));
    expect_filled(build({{-inf, 1}, {100, 2}, {inf, 3}}, 2));
    expect_filled(build({{0, 1}, {100, 2}}, 1, -inf, inf));
    expect_filled(build({{0, 1}, {1, 2}, {2, 4}}, 3, 0.0, 2.0, 65535));
}

}  // namespace
