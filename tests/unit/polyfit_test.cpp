// The polynomial fit entry points: results, grids, bad arguments and
// exhausted work memory.
#include "calmgr.h"
#include "fit/polyfit.h"
#include "unit/fit_heap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using calmgr::PolynomialFitCoeffs;
using fit_test::CountingHeap;

constexpr double kSentinel = -12345.5;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Horner's rule on coefficients from PolynomialFitCoeffs, for comparing
// evaluated outputs bit for bit.
double horner(const double* c, int degree, double x) {
    double value = c[degree];
    for (int k = degree - 1; k >= 0; --k) value = value * x + c[k];
    return value;
}

const RealPoint kLine[] = {{0, 1}, {1, 3}, {2, 5}};

TEST(PolynomialFit, StraightLineThroughThreeSamples) {
    double c[2] = {kSentinel, kSentinel};
    ASSERT_EQ(PolynomialFitCoeffs(kLine, 3, c, 1), 0);
    EXPECT_NEAR(c[0], 1.0, 1e-12);
    EXPECT_NEAR(c[1], 2.0, 1e-12);

    double grid[3];
    ASSERT_EQ(PolynomialFitRange(kLine, 3, grid, 0.0, 2.0, 3, 1), 0);
    EXPECT_NEAR(grid[0], 1.0, 1e-12);
    EXPECT_NEAR(grid[1], 3.0, 1e-12);
    EXPECT_NEAR(grid[2], 5.0, 1e-12);

    RealPoint at[1] = {{10.0, kSentinel}};
    ASSERT_EQ(PolynomialFit(kLine, 3, at, 1, 1), 0);
    EXPECT_EQ(at[0].x, 10.0);
    EXPECT_NEAR(at[0].y, 21.0, 1e-11);
}

TEST(PolynomialFit, BadArgumentsWriteNothingAndAllocateNothing) {
    CountingHeap heap;
    RealPoint out[2] = {{1.0, kSentinel}, {2.0, kSentinel}};
    double values[2] = {kSentinel, kSentinel};
    double c[8];
    for (double& v : c) v = kSentinel;

    // Null arrays, non-positive counts, degrees outside 1..7; each failing
    // check on otherwise valid arguments.
    EXPECT_EQ(PolynomialFit(nullptr, 3, out, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 0, out, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, -3, out, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 3, nullptr, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 3, out, 0, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 3, out, -1, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 3, out, 2, 0), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 3, out, 2, 8), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFit(kLine, 3, out, 2, -1), FIT_ERR_ARGS);

    EXPECT_EQ(PolynomialFitRange(nullptr, 3, values, 0, 1, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitRange(kLine, 0, values, 0, 1, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitRange(kLine, 3, nullptr, 0, 1, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitRange(kLine, 3, values, 0, 1, 1, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitRange(kLine, 3, values, 0, 1, 0, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitRange(kLine, 3, values, 0, 1, 2, 0), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitRange(kLine, 3, values, 0, 1, 2, 8), FIT_ERR_ARGS);

    EXPECT_EQ(PolynomialFitCoeffs(nullptr, 3, c, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitCoeffs(kLine, 0, c, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitCoeffs(kLine, 3, nullptr, 1), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitCoeffs(kLine, 3, c, 0), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitCoeffs(kLine, 3, c, 8), FIT_ERR_ARGS);
    // A count above 32767 handed through a 16-bit parameter reads negative.
    EXPECT_EQ(PolynomialFitCoeffs(kLine, static_cast<int16_t>(40000), c, 1), FIT_ERR_ARGS);

    EXPECT_EQ(heap.requests(), 0);
    for (const RealPoint& p : out) EXPECT_EQ(p.y, kSentinel);
    EXPECT_EQ(out[0].x, 1.0);
    for (double v : values) EXPECT_EQ(v, kSentinel);
    for (double v : c) EXPECT_EQ(v, kSentinel);
}

TEST(PolynomialFit, FewerSamplesThanCoefficientsLowerTheDegree) {
    // Two samples, degree 3: the line through both, the upper terms 0.0.
    const RealPoint two[] = {{1.0, 2.0}, {3.0, 8.0}};
    double c[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    ASSERT_EQ(PolynomialFitCoeffs(two, 2, c, 3), 0);
    EXPECT_NEAR(c[0], -1.0, 1e-12);
    EXPECT_NEAR(c[1], 3.0, 1e-12);
    EXPECT_TRUE(same_bits(c[2], 0.0));
    EXPECT_TRUE(same_bits(c[3], 0.0));
    RealPoint at[2] = {{1.0, 0}, {3.0, 0}};
    ASSERT_EQ(PolynomialFit(two, 2, at, 2, 3), 0);
    EXPECT_NEAR(at[0].y, 2.0, 1e-12);
    EXPECT_NEAR(at[1].y, 8.0, 1e-12);

    // One sample: a constant, whatever the degree.
    const RealPoint one[] = {{4.0, 7.25}};
    double c1[2] = {kSentinel, kSentinel};
    ASSERT_EQ(PolynomialFitCoeffs(one, 1, c1, 1), 0);
    EXPECT_DOUBLE_EQ(c1[0], 7.25);
    EXPECT_TRUE(same_bits(c1[1], 0.0));
    for (int16_t degree = 1; degree <= 7; ++degree) {
        double grid[5];
        ASSERT_EQ(PolynomialFitRange(one, 1, grid, -10.0, 30.0, 5, degree), 0);
        for (double v : grid) EXPECT_DOUBLE_EQ(v, 7.25) << "degree " << degree;
    }
}

TEST(PolynomialFit, AsManySamplesAsCoefficientsInterpolate) {
    // y = 2 - x + 0.5 x^3 at four distinct abscissae, degree 3.
    RealPoint s[4];
    const double xs[4] = {-1.5, 0.0, 1.0, 2.5};
    for (int i = 0; i < 4; ++i) s[i] = {xs[i], 2.0 - xs[i] + 0.5 * xs[i] * xs[i] * xs[i]};
    RealPoint at[4];
    for (int i = 0; i < 4; ++i) at[i] = {xs[i], kSentinel};
    ASSERT_EQ(PolynomialFit(s, 4, at, 4, 3), 0);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(at[i].y, s[i].y, 1e-10) << i;
}

TEST(PolynomialFit, DegreeSevenFitsAllEightCoefficients) {
    const double truth[8] = {1.0, -2.0, 0.5, 3.0, -1.0, 0.25, 2.0, -0.75};
    RealPoint s[15];
    for (int i = 0; i < 15; ++i) {
        const double x = -1.0 + i / 7.0;
        s[i] = {x, horner(truth, 7, x)};
    }
    double c[8];
    ASSERT_EQ(PolynomialFitCoeffs(s, 15, c, 7), 0);
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(c[k], truth[k], 1e-6) << k;
}

TEST(PolynomialFit, OutputsMayAliasTheSamples) {
    RealPoint s[5] = {{0, 1.0}, {1, 2.5}, {2, 2.0}, {3, 4.5}, {4, 4.0}};
    RealPoint separate[5];
    std::memcpy(separate, s, sizeof s);
    ASSERT_EQ(PolynomialFit(s, 5, separate, 5, 2), 0);
    ASSERT_EQ(PolynomialFit(s, 5, s, 5, 2), 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(s[i].x, static_cast<double>(i));
        EXPECT_TRUE(same_bits(s[i].y, separate[i].y)) << i;
    }
}

TEST(PolynomialFitRange, DefaultTableGridIsExactIntegers) {
    // A quadratic fit onto 256 entries over 0..255: the running sum of the
    // step 1.0 hits every integer exactly.
    const RealPoint s[] = {{0, 3.0}, {40, 17.0}, {100, 60.0}, {180, 140.0}, {255, 250.0}};
    double c[3];
    ASSERT_EQ(PolynomialFitCoeffs(s, 5, c, 2), 0);
    double table[256];
    ASSERT_EQ(PolynomialFitRange(s, 5, table, 0.0, 255.0, 256, 2), 0);
    for (int i = 0; i < 256; ++i) ASSERT_TRUE(same_bits(table[i], horner(c, 2, i))) << i;
}

TEST(PolynomialFitRange, AbscissaIsARunningSumOfSteps) {
    const RealPoint s[] = {{0, 0.0}, {0.5, 0.9}, {1, 3.1}, {1.7, 4.0}};
    double c[3];
    ASSERT_EQ(PolynomialFitCoeffs(s, 4, c, 2), 0);
    constexpr int n = 50;
    const double start = 0.1;
    const double end = 1.7;
    double values[n];
    ASSERT_EQ(PolynomialFitRange(s, 4, values, start, end, n, 2), 0);
    const double step = (end - start) / (n - 1);
    double x = start;
    bool sum_differs_from_product = false;
    for (int i = 0; i < n; ++i) {
        EXPECT_TRUE(same_bits(values[i], horner(c, 2, x))) << i;
        if (!same_bits(horner(c, 2, x), horner(c, 2, start + i * step))) sum_differs_from_product = true;
        x += step;
    }
    // The grid was chosen so that the two ways of forming the abscissa
    // disagree somewhere; otherwise this test would not tell them apart.
    EXPECT_TRUE(sum_differs_from_product);
}

// The fitted-curve builder fits calibration points without reinterpreting
// them as samples: same statuses and the same bits as the public fit over
// (input, calibrated) pairs.
TEST(PolynomialFitRange, CalibrationPointsFitLikeTheirSamples) {
    const CalPoint points[] = {{0, 3.0}, {40, 17.25}, {100, 60.0}, {180, 140.5}, {255, 250.0}, {90, -1e300}};
    RealPoint samples[6];
    for (int i = 0; i < 6; ++i) samples[i] = {points[i].input, points[i].calibrated};
    for (int16_t degree = 1; degree <= 3; ++degree) {
        for (int16_t n : {int16_t{1}, int16_t{5}, int16_t{6}}) {
            double a[256], b[256];
            ASSERT_EQ(calmgr::PolynomialFitPointsRange(points, n, a, 0.0, 255.0, 256, degree),
                      PolynomialFitRange(samples, n, b, 0.0, 255.0, 256, degree));
            for (int i = 0; i < 256; ++i) ASSERT_TRUE(same_bits(a[i], b[i])) << degree << " " << n << " " << i;
        }
    }
    double values[2];
    EXPECT_EQ(calmgr::PolynomialFitPointsRange(nullptr, 3, values, 0, 1, 2, 1), FIT_ERR_ARGS);
    EXPECT_EQ(calmgr::PolynomialFitPointsRange(points, 3, values, 0, 1, 1, 1), FIT_ERR_ARGS);
    EXPECT_EQ(calmgr::PolynomialFitPointsRange(points, 3, values, 0, 1, 2, 8), FIT_ERR_ARGS);
}

TEST(PolynomialFitRange, DescendingAndDegenerateGrids) {
    double down[3];
    ASSERT_EQ(PolynomialFitRange(kLine, 3, down, 2.0, 0.0, 3, 1), 0);
    EXPECT_NEAR(down[0], 5.0, 1e-12);
    EXPECT_NEAR(down[1], 3.0, 1e-12);
    EXPECT_NEAR(down[2], 1.0, 1e-12);
    double flat[4];
    ASSERT_EQ(PolynomialFitRange(kLine, 3, flat, 1.5, 1.5, 4, 1), 0);
    for (double v : flat) EXPECT_TRUE(same_bits(v, flat[0]));
    EXPECT_NEAR(flat[0], 4.0, 1e-12);
}

TEST(PolynomialFit, SamplesAtOneAbscissaGiveNaNWithSuccess) {
    const RealPoint s[] = {{1, 1.0}, {1, 2.0}, {1, 4.0}};
    double values[3];
    ASSERT_EQ(PolynomialFitRange(s, 3, values, 0.0, 2.0, 3, 1), 0);
    for (double v : values) EXPECT_TRUE(std::isnan(v));
    RealPoint at[1] = {{0.5, 0.0}};
    ASSERT_EQ(PolynomialFit(s, 3, at, 1, 1), 0);
    EXPECT_TRUE(std::isnan(at[0].y));
    double c[2];
    ASSERT_EQ(PolynomialFitCoeffs(s, 3, c, 1), 0);
    EXPECT_TRUE(std::isnan(c[0]));
    EXPECT_TRUE(std::isnan(c[1]));
}

// Runs fit() under a heap that refuses request k, for every k up to the
// number of requests a successful run makes: each must report exhausted
// memory, write nothing and leave no block behind.
template <class Fit, class Untouched>
void refuse_each_request(Fit fit, Untouched untouched) {
    int total = 0;
    {
        CountingHeap heap;
        ASSERT_EQ(fit(), 0);
        total = heap.requests();
        EXPECT_EQ(heap.live(), 0);
    }
    ASSERT_GE(total, 7);  // six work arrays, the matrix in two blocks, then the fit's own
    for (int k = 1; k <= total; ++k) {
        CountingHeap heap(k);
        EXPECT_EQ(fit(), CAL_ERR_NOMEM) << "request " << k;
        EXPECT_TRUE(untouched()) << "request " << k;
        EXPECT_EQ(heap.live(), 0) << "request " << k;
    }
}

TEST(PolynomialFit, RefusedHeapRequestsReportNoMemory) {
    const RealPoint s[] = {{0, 1.0}, {1, 2.0}, {2, 5.0}, {3, 9.0}};
    double values[4];
    RealPoint out[2];
    double c[3];
    auto reset = [&] {
        for (double& v : values) v = kSentinel;
        for (RealPoint& p : out) p = {0.5, kSentinel};
        for (double& v : c) v = kSentinel;
    };
    auto all_kept = [&] {
        bool kept = true;
        for (double v : values) kept = kept && v == kSentinel;
        for (const RealPoint& p : out) kept = kept && p.x == 0.5 && p.y == kSentinel;
        for (double v : c) kept = kept && v == kSentinel;
        return kept;
    };
    refuse_each_request([&] { reset(); return PolynomialFitRange(s, 4, values, 0.0, 3.0, 4, 2); }, all_kept);
    refuse_each_request([&] { reset(); return PolynomialFit(s, 4, out, 2, 2); }, all_kept);
    refuse_each_request([&] { reset(); return PolynomialFitCoeffs(s, 4, c, 2); }, all_kept);
}

}  // namespace
