/*
 * calmgr/fit.hpp - polynomial least-squares fits over spans of samples.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_FIT_HPP
#define CALMGR_FIT_HPP

#include "calmgr/types.hpp"

namespace calmgr {

// ---------------------------------------------------------------------------
// Polynomial fits
// ---------------------------------------------------------------------------

/* Fits a polynomial of `degree` (1..7) to the samples and returns its values
 * at the abscissae xs. At most 32767 samples and 32767 abscissae. */
[[nodiscard]] inline std::vector<double> polynomial_fit(Span<const RealPoint> samples, Span<const double> xs,
                                          int degree) {
    detail::require(samples.size() <= detail::max_count16, "polynomial_fit: more than 32767 samples");
    detail::require(xs.size() <= detail::max_count16, "polynomial_fit: more than 32767 abscissae");
    std::vector<double> values(xs.size());
    if (xs.empty()) return values;
    std::vector<RealPoint> at(xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) at[i] = RealPoint{xs[i], 0.0};
    detail::check(PolynomialFit(samples.data(), static_cast<int16_t>(samples.size()), at.data(),
                                static_cast<int16_t>(at.size()),
                                static_cast<int16_t>(std::clamp(degree, -1, 8))),
                  "PolynomialFit");
    for (std::size_t i = 0; i < at.size(); ++i) values[i] = at[i].y;
    return values;
}

/* As polynomial_fit, evaluated on `count` (2..32767) even steps from x_start
 * to x_end. */
[[nodiscard]] inline std::vector<double> polynomial_fit_range(Span<const RealPoint> samples, double x_start,
                                                double x_end, std::size_t count, int degree) {
    detail::require(samples.size() <= detail::max_count16,
                    "polynomial_fit_range: more than 32767 samples");
    detail::require(count <= detail::max_count16, "polynomial_fit_range: more than 32767 values");
    std::vector<double> values(count);
    detail::check(PolynomialFitRange(samples.data(), static_cast<int16_t>(samples.size()),
                                     values.data(), x_start, x_end, static_cast<int16_t>(count),
                                     static_cast<int16_t>(std::clamp(degree, -1, 8))),
                  "PolynomialFitRange");
    return values;
}

}  // namespace calmgr

#endif /* CALMGR_FIT_HPP */
