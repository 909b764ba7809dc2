/*
 * calmgr/fit_report.hpp - least-squares polynomials with their statistics
 * (PolynomialFitReport) as calmgr::FitReport, and refusals that say in
 * words why the samples give no fit. IntensityView::fit_report() gives the
 * report of the fit behind a calibration's table.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_FIT_REPORT_HPP
#define CALMGR_FIT_REPORT_HPP

#include "calmgr/types.hpp"

#include <limits>

namespace calmgr {

/* The least-squares polynomial y = c0 + c1 x + ... + c[degree] x^degree
 * and its statistics, as the library computes them. */
struct FitReport {
    int degree = 0;
    std::size_t num_samples = 0;                  // the samples (or points) fitted
    std::vector<double> coeffs;                   // c0 ... c[degree]
    std::vector<double> std_errors;               // of each coefficient
    std::vector<std::vector<double>> covariance;  // [j][k] for c_j, c_k: s^2 (X'X)^-1
    double residual_sd = 0.0;  // s = sqrt(SSR / (n - degree - 1)); 0.0 when n == degree + 1
    double r_squared = 0.0;    // 1 - SSR/SST; 1.0 when SST == 0
    double ssr = 0.0;          // sum of squared residuals
    double condition = 0.0;    // 2-norm condition number of the centred, scaled design
};

/* The lowest and highest degree PolynomialFitReport fits. */
inline constexpr int min_report_degree = 1;
inline constexpr int max_report_degree = CAL_FIT_MAX_COEFFS - 1;

namespace detail {
inline FitReport report_of(const CalFitReport& r) {
    const std::size_t n = static_cast<std::size_t>(r.degree) + 1;
    FitReport out;
    out.degree = r.degree;
    out.num_samples = static_cast<std::size_t>(r.num_samples);
    out.coeffs.assign(r.coeffs, r.coeffs + n);
    out.std_errors.assign(r.std_errors, r.std_errors + n);
    for (std::size_t j = 0; j < n; ++j) out.covariance.emplace_back(r.covariance[j], r.covariance[j] + n);
    out.residual_sd = r.residual_sd;
    out.r_squared = r.r_squared;
    out.ssr = r.ssr;
    out.condition = r.condition;
    return out;
}

// The number of distinct x values among the samples.
inline std::size_t distinct_inputs(Span<const RealPoint> samples) {
    std::vector<double> xs;
    xs.reserve(samples.size());
    for (const RealPoint& p : samples) xs.push_back(p.x);
    std::sort(xs.begin(), xs.end());
    return static_cast<std::size_t>(std::unique(xs.begin(), xs.end()) - xs.begin());
}
}  // namespace detail

/* The least-squares polynomial of `degree` (1..15) through the samples
 * (x, y), with coefficients, standard errors, covariance, s, R^2, SSR and
 * the condition number; computed stably, to the digits the data determine.
 * Throws calmgr::Error: FIT_ERR_ARGS for a degree outside 1..15, fewer than
 * degree + 1 samples or a NaN or infinite sample; CAL_ERR_INVALID when the
 * samples do not determine the polynomial (fewer distinct x values than
 * degree + 1, or x values too close together) or number more than
 * 2^31 - 1; CAL_ERR_NOMEM when memory runs out. */
[[nodiscard]] inline FitReport polynomial_fit_report(Span<const RealPoint> samples, int degree) {
    const std::string where = "polynomial_fit_report: ";
    if (degree < min_report_degree || degree > max_report_degree)
        throw Error(FIT_ERR_ARGS, where + "degree " + std::to_string(degree) + " is outside 1..15");
    const std::size_t needed = static_cast<std::size_t>(degree) + 1;
    if (samples.size() < needed)
        throw Error(FIT_ERR_ARGS, where + "degree " + std::to_string(degree) + " needs at least " +
                                      std::to_string(needed) + " samples, got " + std::to_string(samples.size()));
    detail::require(samples.size() <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max()),
                    "polynomial_fit_report: more than 2^31 - 1 samples");
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (!std::isfinite(samples[i].x) || !std::isfinite(samples[i].y))
            throw Error(FIT_ERR_ARGS, where + "sample " + std::to_string(i) + " is NaN or infinite");
    CalFitReport r;
    const int32_t status = PolynomialFitReport(samples.data(), static_cast<int32_t>(samples.size()),
                                               static_cast<int16_t>(degree), &r);
    if (status == CAL_OK) return detail::report_of(r);
    if (status != CAL_ERR_INVALID) throw Error(status, "PolynomialFitReport");
    const std::size_t distinct = detail::distinct_inputs(samples);
    if (distinct < needed)
        throw Error(status, where + "the samples do not determine a polynomial of degree " + std::to_string(degree) +
                                ": " + std::to_string(distinct) + " distinct x values, " + std::to_string(needed) +
                                " needed");
    throw Error(status, where + "the samples do not determine a polynomial of degree " + std::to_string(degree) +
                            ": their x values lie too close together (condition number above 1e15)");
}

/* The same from separate x and y values of equal size (as Python's
 * calmgr.fit_report(x, y, degree)). */
[[nodiscard]] inline FitReport fit_report(Span<const double> x, Span<const double> y, int degree) {
    detail::require(x.size() == y.size(), "fit_report: x and y differ in size");
    std::vector<RealPoint> samples(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) samples[i] = RealPoint{x[i], y[i]};
    return polynomial_fit_report(samples, degree);
}

}  // namespace calmgr

#endif /* CALMGR_FIT_REPORT_HPP */
