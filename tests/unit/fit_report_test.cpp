// PolynomialFitReport: refusals that write nothing, exact fits, the
// statistics' definitions on small cases, invariance under scaling by
// powers of two out to the ends of the double range, and a fifteenth-degree
// fit.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

CalFitReport marked() {
    CalFitReport r;
    std::memset(&r, 0x5a, sizeof r);
    return r;
}

bool unchanged(const CalFitReport& r) {
    const CalFitReport m = marked();
    return std::memcmp(&r, &m, sizeof r) == 0;
}

int32_t fit(const std::vector<RealPoint>& s, int16_t degree, CalFitReport& r) {
    return PolynomialFitReport(s.data(), static_cast<int32_t>(s.size()), degree, &r);
}

TEST(FitReport, RefusalsWriteNothing) {
    const std::vector<RealPoint> s = {{0, 1}, {1, 2}, {2, 5}, {3, 10}};
    CalFitReport r = marked();
    EXPECT_EQ(PolynomialFitReport(nullptr, 4, 1, &r), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitReport(s.data(), 4, 1, nullptr), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitReport(s.data(), 4, 0, &r), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitReport(s.data(), 4, 16, &r), FIT_ERR_ARGS);
    EXPECT_EQ(PolynomialFitReport(s.data(), 4, 4, &r), FIT_ERR_ARGS);  // 4 samples, 5 coefficients
    EXPECT_EQ(PolynomialFitReport(s.data(), -4, 1, &r), FIT_ERR_ARGS);
    for (double bad : {NAN, INFINITY, -INFINITY}) {
        std::vector<RealPoint> t = s;
        t[2].y = bad;
        EXPECT_EQ(fit(t, 1, r), FIT_ERR_ARGS);
        t[2] = {bad, 5};
        EXPECT_EQ(fit(t, 1, r), FIT_ERR_ARGS);
    }
    // Enough samples but too few distinct x values.
    EXPECT_EQ(fit({{1, 1}, {1, 2}, {2, 3}, {2, 4}, {1, 5}}, 2, r), CAL_ERR_INVALID);
    EXPECT_EQ(fit({{7, 1}, {7, 2}}, 1, r), CAL_ERR_INVALID);
    EXPECT_TRUE(unchanged(r));
    // Repeated x values are fine while enough distinct ones remain.
    EXPECT_EQ(fit({{1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}}, 2, r), CAL_OK);
}

TEST(FitReport, ExactDataGiveTheirPolynomialAndZeroSpread) {
    // y = 3 - 2x + 0.5x^2 + 0.25x^3 at exactly representable points.
    std::vector<RealPoint> s;
    for (int k = -6; k <= 9; ++k) {
        const double x = k * 0.5;
        s.push_back({x, 3.0 - 2.0 * x + 0.5 * x * x + 0.25 * x * x * x});
    }
    CalFitReport r = marked();
    ASSERT_EQ(fit(s, 3, r), CAL_OK);
    const double want[4] = {3.0, -2.0, 0.5, 0.25};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(r.coeffs[k], want[k], 1e-15) << k;
    for (int k = 4; k < CAL_FIT_MAX_COEFFS; ++k) EXPECT_EQ(r.coeffs[k], 0.0);
    EXPECT_EQ(r.degree, 3);
    EXPECT_EQ(r.reserved, 0);
    EXPECT_EQ(r.num_samples, 16);
    EXPECT_LT(r.residual_sd, 1e-14);
    EXPECT_NEAR(r.r_squared, 1.0, 1e-15);

    // Exactly degree + 1 samples: interpolation, no spread to estimate.
    ASSERT_EQ(fit({{0, 1}, {1, 3}, {3, 2}}, 2, r), CAL_OK);
    EXPECT_EQ(r.residual_sd, 0.0);
    EXPECT_EQ(r.std_errors[0], 0.0);
    EXPECT_EQ(r.covariance[0][2], 0.0);
    EXPECT_NEAR(r.coeffs[0] + r.coeffs[1] * 3 + r.coeffs[2] * 9, 2.0, 1e-14);

    // Constant y: SST is 0, R^2 is 1 by definition.
    ASSERT_EQ(fit({{0, 4}, {1, 4}, {2, 4}, {5, 4}}, 1, r), CAL_OK);
    EXPECT_EQ(r.r_squared, 1.0);
    EXPECT_EQ(r.coeffs[0], 4.0);
    EXPECT_EQ(r.coeffs[1], 0.0);
}

TEST(FitReport, StatisticsFollowTheirDefinitions) {
    // A line through (0,0), (1,1), (2,1), (3,3): closed forms.
    CalFitReport r;
    ASSERT_EQ(fit({{0, 0}, {1, 1}, {2, 1}, {3, 3}}, 1, r), CAL_OK);
    // slope = Sxy / Sxx = 4.5 / 5, intercept = ybar - slope * xbar
    EXPECT_DOUBLE_EQ(r.coeffs[1], 0.9);
    EXPECT_DOUBLE_EQ(r.coeffs[0], -0.1);  // ybar - slope * xbar
    const double ssr = 0.1 * 0.1 + 0.2 * 0.2 + 0.7 * 0.7 + 0.4 * 0.4;  // residuals -0.1, 0.2, -0.7, 0.4
    EXPECT_DOUBLE_EQ(r.ssr, ssr);
    EXPECT_DOUBLE_EQ(r.residual_sd, std::sqrt(ssr / 2));
    EXPECT_DOUBLE_EQ(r.r_squared, 1.0 - ssr / 4.75);
    const double s2 = ssr / 2;
    EXPECT_DOUBLE_EQ(r.covariance[1][1], s2 / 5.0);
    EXPECT_DOUBLE_EQ(r.covariance[0][0], s2 * (0.25 + 1.5 * 1.5 / 5.0));
    EXPECT_DOUBLE_EQ(r.covariance[0][1], -s2 * 1.5 / 5.0);
    EXPECT_EQ(r.covariance[0][1], r.covariance[1][0]);
    EXPECT_DOUBLE_EQ(r.std_errors[1], std::sqrt(s2 / 5.0));

    // Symmetric x = -1, 0, 1: the columns 1 and u are orthogonal with norms
    // sqrt(3) and sqrt(2).
    ASSERT_EQ(fit({{-1, 2}, {0, 1}, {1, 7}}, 1, r), CAL_OK);
    EXPECT_DOUBLE_EQ(r.condition, std::sqrt(1.5));
    // The condition number does not depend on where x lies or its unit.
    ASSERT_EQ(fit({{1e6 - 0.25, 2}, {1e6, 1}, {1e6 + 0.25, 7}}, 1, r), CAL_OK);
    EXPECT_DOUBLE_EQ(r.condition, std::sqrt(1.5));
}

TEST(FitReport, PowersOfTwoScaleExactlyToTheEndsOfTheRange) {
    // Scaling x by 2^a and y by 2^b scales c_k by 2^(b - k a), standard
    // errors alike and the covariance by 2^(2b - (j + k) a), with every
    // digit kept: near 1e+-300 nothing overflows or loses the fit.
    std::vector<RealPoint> base;
    for (int i = 0; i < 25; ++i) base.push_back({1.0 + 0.37 * i, std::sin(i * 0.7) + 0.1 * i});
    CalFitReport ref;
    ASSERT_EQ(fit(base, 3, ref), CAL_OK);
    for (int a : {-990, -20, 0, 30, 990}) {
        for (int b : {-1000, 0, 1000}) {
            SCOPED_TRACE(testing::Message() << "x * 2^" << a << ", y * 2^" << b);
            std::vector<RealPoint> s = base;
            for (RealPoint& p : s) p = {std::ldexp(p.x, a), std::ldexp(p.y, b)};
            CalFitReport r;
            ASSERT_EQ(fit(s, 3, r), CAL_OK);
            for (int j = 0; j <= 3; ++j) {
                EXPECT_EQ(r.coeffs[j], std::ldexp(ref.coeffs[j], b - j * a)) << j;
                EXPECT_EQ(r.std_errors[j], std::ldexp(ref.std_errors[j], b - j * a)) << j;
                for (int k = 0; k <= 3; ++k) {
                    EXPECT_EQ(r.covariance[j][k], std::ldexp(ref.covariance[j][k], 2 * b - (j + k) * a));
                }
            }
            EXPECT_EQ(r.residual_sd, std::ldexp(ref.residual_sd, b));
            EXPECT_EQ(r.ssr, std::ldexp(ref.ssr, 2 * b));
            EXPECT_EQ(r.r_squared, ref.r_squared);
            EXPECT_EQ(r.condition, ref.condition);
        }
    }
}

TEST(FitReport, FifteenthDegreeOnAWideSpan) {
    // Chebyshev points on 1000..3000 and a smooth curve: the high-degree
    // fit must come back with finite, self-consistent numbers whose
    // polynomial reproduces the data (Horner in long double keeps the
    // check's own rounding out of the way).
    std::vector<RealPoint> s;
    for (int i = 0; i < 200; ++i) {
        const double x = 2000.0 + 1000.0 * std::cos(std::numbers::pi * (i + 0.5) / 200);
        s.push_back({x, std::exp(x / 1000.0)});
    }
    CalFitReport r;
    ASSERT_EQ(fit(s, 15, r), CAL_OK);
    EXPECT_GT(r.condition, 1.0);
    EXPECT_LT(r.condition, 1e7);
    double worst = 0.0;
    for (const RealPoint& p : s) {
        long double v = 0.0L;
        for (int k = 15; k >= 0; --k) v = v * p.x + r.coeffs[k];
        worst = std::fmax(worst, std::fabs(static_cast<double>(v) - p.y) / p.y);
    }
    EXPECT_LT(worst, 1e-6);
    EXPECT_NEAR(r.r_squared, 1.0, 1e-12);
}


TEST(FitReport, CovarianceFarFromTheDataIsNotNaNWithZeroErrors) {
    // Abscissae 1e6 + k * 1e-9: in powers of x the constant term's variance
    // is far beyond the doubles. It was NaN, with a standard error of 0;
    // now the covariance overflows to infinity and the standard errors,
    // still representable, are its roots.
    std::vector<RealPoint> s;
    for (int k = 0; k < 40; ++k) s.push_back({1e6 + k * 1e-9, static_cast<double>(k % 3)});
    CalFitReport r;
    ASSERT_EQ(fit(s, 12, r), CAL_OK);
    for (int j = 0; j <= 12; ++j) {
        const double var = r.covariance[j][j], se = r.std_errors[j];
        EXPECT_FALSE(std::isnan(var) || std::isnan(se)) << "c" << j;
        EXPECT_GT(se, 0.0) << "c" << j;
        if (std::isinf(var)) {
            EXPECT_GE(se, 0x1p511) << "c" << j;
        } else {
            EXPECT_NEAR(se * se, var, 1e-12 * var) << "c" << j;
        }
    }
    EXPECT_TRUE(std::isinf(r.covariance[0][0]));
}

}  // namespace
