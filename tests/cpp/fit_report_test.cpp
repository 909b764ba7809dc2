// Fit reports through the C++ layer against PolynomialFitReport and
// ICalFitReport: every number the same bit for bit, sized to the degree;
// each refusal thrown with the library's status and its cause in words.
#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using calmgr::Error;
using calmgr::Fit;
using calmgr::FitReport;
using calmgr::IntensityCalibration;

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same(const FitReport& got, const CalFitReport& want) {
    ASSERT_EQ(got.degree, want.degree);
    EXPECT_EQ(got.num_samples, static_cast<std::size_t>(want.num_samples));
    const std::size_t n = static_cast<std::size_t>(want.degree) + 1;
    ASSERT_EQ(got.coeffs.size(), n);
    ASSERT_EQ(got.std_errors.size(), n);
    ASSERT_EQ(got.covariance.size(), n);
    for (std::size_t j = 0; j < n; ++j) {
        EXPECT_TRUE(same(got.coeffs[j], want.coeffs[j])) << j;
        EXPECT_TRUE(same(got.std_errors[j], want.std_errors[j])) << j;
        ASSERT_EQ(got.covariance[j].size(), n);
        for (std::size_t k = 0; k < n; ++k) EXPECT_TRUE(same(got.covariance[j][k], want.covariance[j][k])) << j << k;
    }
    EXPECT_TRUE(same(got.residual_sd, want.residual_sd));
    EXPECT_TRUE(same(got.r_squared, want.r_squared));
    EXPECT_TRUE(same(got.ssr, want.ssr));
    EXPECT_TRUE(same(got.condition, want.condition));
}

// Throws calmgr::Error with `status` and a message containing `words`.
template <class F>
void expect_refusal(F&& call, int32_t status, const std::string& words) {
    try {
        (void)call();
        FAIL() << "accepted; expected " << words;
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), status) << e.what();
        EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
}

std::vector<RealPoint> noisy_cubic(int n) {
    std::vector<RealPoint> s;
    for (int i = 0; i < n; ++i) {
        const double x = i * 0.37;
        s.push_back({x, 1.0 + 0.5 * x - 0.01 * x * x + 0.001 * std::cos(7.0 * x)});
    }
    return s;
}

TEST(FitReport, SamplesGiveTheLibrarysReport) {
    const auto samples = noisy_cubic(40);
    for (int degree : {1, 3, 15}) {
        CalFitReport want;
        ASSERT_EQ(PolynomialFitReport(samples.data(), 40, static_cast<int16_t>(degree), &want), CAL_OK);
        expect_same(calmgr::polynomial_fit_report(samples, degree), want);
    }
    std::vector<double> xs, ys;
    for (const RealPoint& p : samples) {
        xs.push_back(p.x);
        ys.push_back(p.y);
    }
    CalFitReport want;
    ASSERT_EQ(PolynomialFitReport(samples.data(), 40, 2, &want), CAL_OK);
    expect_same(calmgr::fit_report(xs, ys, 2), want);
}

TEST(FitReport, SamplesThatGiveNoFitAreRefusedInWords) {
    const auto samples = noisy_cubic(10);
    expect_refusal([&] { return calmgr::polynomial_fit_report(samples, 0); }, FIT_ERR_ARGS,
                   "degree 0 is outside 1..15");
    expect_refusal([&] { return calmgr::polynomial_fit_report(samples, 16); }, FIT_ERR_ARGS, "outside 1..15");
    expect_refusal([&] { return calmgr::polynomial_fit_report(samples, 10); }, FIT_ERR_ARGS,
                   "degree 10 needs at least 11 samples, got 10");
    auto bad = samples;
    bad[4].y = std::numeric_limits<double>::infinity();
    expect_refusal([&] { return calmgr::polynomial_fit_report(bad, 2); }, FIT_ERR_ARGS, "sample 4 is NaN or infinite");
    // Ten samples on three distinct x values determine no cubic.
    std::vector<RealPoint> three;
    for (int i = 0; i < 10; ++i) three.push_back({static_cast<double>(i % 3), static_cast<double>(i)});
    expect_refusal([&] { return calmgr::polynomial_fit_report(three, 3); }, CAL_ERR_INVALID,
                   "3 distinct x values, 4 needed");
    // Three distinct x values, two of them neighbouring doubles: too close
    // together to determine a quadratic.
    const double next = std::nextafter(1.0, 2.0);
    const std::vector<RealPoint> close{{0.0, 1.0}, {1.0, 2.0}, {next, 3.0}};
    expect_refusal([&] { return calmgr::polynomial_fit_report(close, 2); }, CAL_ERR_INVALID, "too close together");
    const std::vector<double> x3{1, 2, 3}, y2{1, 2};
    expect_refusal([&] { return calmgr::fit_report(x3, y2, 1); }, CAL_ERR_INVALID, "x and y differ in size");
}

TEST(FitReport, ACalibrationGivesTheReportOfTheFitBehindItsTable) {
    const std::vector<CalPoint> pts{{0, 0.1}, {50, 0.9}, {120, 1.7}, {200, 2.2}, {255, 2.4}};
    for (Fit fit : {Fit::Poly2, Fit::Exp1, Fit::Log3, Fit::Density}) {
        const auto cal = IntensityCalibration::from_points(pts, fit);
        CalFitReport want;
        ASSERT_EQ(ICalFitReport(cal.get(), &want), CAL_OK) << calmgr::fit_name(fit);
        expect_same(cal.fit_report(), want);
        EXPECT_TRUE(cal.has_fit_report(fit));
    }
}

TEST(FitReport, ACalibrationWithoutAFitSaysWhy) {
    const std::vector<CalPoint> pts{{0, 0.1}, {50, 0.9}, {120, 1.7}, {255, 2.4}};
    const auto piecewise = IntensityCalibration::from_points(pts, Fit::Piecewise);
    expect_refusal([&] { return piecewise.fit_report(); }, CAL_ERR_INVALID,
                   "fit type piecewise builds its table without a least-squares fit");
    const std::vector<CalPoint> two{{0, 0}, {255, 1}};
    const auto line = IntensityCalibration::from_points(two, Fit::Poly2);
    expect_refusal([&] { return line.fit_report(); }, CAL_ERR_INVALID, "line through both");
    const auto density = IntensityCalibration::from_density(10.0, 240.0);
    expect_refusal([&] { return density.fit_report(); }, CAL_ERR_INVALID, "only a standard curve");

    // Three points at two distinct inputs determine no quadratic; the
    // finding that says so joins the message.
    const std::vector<CalPoint> repeated{{0, 0.1}, {0, 0.1}, {255, 2.4}};
    auto cal = IntensityCalibration::from_points(repeated, Fit::Piecewise);
    cal.set_fit_type(Fit::Poly2);
    CalFitReport unused;
    ASSERT_EQ(ICalFitReport(cal.get(), &unused), CAL_ERR_INVALID);
    expect_refusal([&] { return cal.fit_report(); }, CAL_ERR_INVALID, "the poly2 fit is not determined");
    const auto findings = cal.diagnose();
    ASSERT_FALSE(findings.empty());
    expect_refusal([&] { return cal.fit_report(); }, CAL_ERR_INVALID,
                   "not determined: " + findings.front().describe());

    IntensityCalibration moved = std::move(cal);
    expect_refusal([&] { return cal.fit_report(); }, CAL_ERR_INVALID, "empty");  // NOLINT: use after move
}

}  // namespace
