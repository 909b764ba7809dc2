// The polynomial fit entry points: an unweighted least-squares polynomial of
// degree 1..7 through (x, y) samples, handed back as values at given
// abscissae, as values on an even grid, or as coefficients. All three check
// their arguments before anything is allocated or written, and write nothing
// when a work array cannot be obtained.
#include "fit/polyfit.h"

#include "fit/lsq.h"

#include <bit>

namespace calmgr {

namespace {

constexpr int32_t MAX_FIT_COEFFS = 8;

// The standard deviation given to every sample. A common value leaves the
// fit unweighted; it is pinned by bit pattern so the normal equations, and
// thus every result, are reproducible bit for bit.
constexpr double FIT_SIGMA = std::bit_cast<double>(UINT64_C(0x3FB999999999999A));
static_assert(FIT_SIGMA == 0.1, "the nearest double to 0.1");

// A sample's abscissa and ordinate, from either kind of point: each is read
// through its own type, never through the other's.
double sample_x(const RealPoint& p) { return p.x; }
double sample_y(const RealPoint& p) { return p.y; }
double sample_x(const CalPoint& p) { return p.input; }
double sample_y(const CalPoint& p) { return p.calibrated; }

// Fits the samples and copies coefficients 1..degree+1 (those above the
// fitted count are 0.0) into coeffs[0..degree]. The arguments are checked.
template <class Point>
int32_t fit_coefficients(const Point* samples, int16_t num_samples, int16_t degree, double coeffs[MAX_FIT_COEFFS]) {
    const int32_t n = num_samples;
    // The first refused request stops the making; whatever was made is
    // released below.
    double* xs = rvector(1, n);
    double* ys = xs != nullptr ? rvector(1, n) : nullptr;
    double* sigmas = ys != nullptr ? rvector(1, n) : nullptr;
    double* c = sigmas != nullptr ? rvector(1, MAX_FIT_COEFFS) : nullptr;
    int32_t* mask = c != nullptr ? ivector(1, MAX_FIT_COEFFS) : nullptr;
    double** covariance = mask != nullptr ? rmatrix(1, MAX_FIT_COEFFS, 1, MAX_FIT_COEFFS) : nullptr;

    int32_t status = CAL_ERR_NOMEM;
    if (covariance != nullptr) {
        // The samples are copied before anything is written, so an output
        // array may be the sample array itself.
        for (int32_t i = 1; i <= n; ++i) {
            xs[i] = sample_x(samples[i - 1]);
            ys[i] = sample_y(samples[i - 1]);
            sigmas[i] = FIT_SIGMA;
        }
        for (int32_t j = 1; j <= MAX_FIT_COEFFS; ++j) {
            c[j] = 0.0;
            mask[j] = 1;
        }
        // With fewer samples than coefficients only as many are fitted as
        // there are samples; the rest stay 0.0.
        const int32_t num_coeffs = degree + 1 < n ? degree + 1 : n;
        double chi_square = 0.0;
        if (lfit(xs, ys, sigmas, n, c, mask, num_coeffs, covariance, &chi_square, power_basis)) {
            for (int32_t k = 0; k <= degree; ++k) coeffs[k] = c[k + 1];
            status = 0;
        }
    }

    rmatrix_release(covariance, 1, MAX_FIT_COEFFS, 1, MAX_FIT_COEFFS);
    ivector_release(mask, 1, MAX_FIT_COEFFS);
    rvector_release(c, 1, MAX_FIT_COEFFS);
    rvector_release(sigmas, 1, n);
    rvector_release(ys, 1, n);
    rvector_release(xs, 1, n);
    return status;
}

// Horner's rule from the highest coefficient down.
double evaluate(const double* coeffs, int16_t degree, double x) {
    double value = coeffs[degree];
    for (int32_t k = degree - 1; k >= 0; --k) value = value * x + coeffs[k];
    return value;
}

bool bad_degree(int16_t degree) { return degree < 1 || degree > MAX_FIT_COEFFS - 1; }

// The fit evaluated on an even grid of num_out abscissae from x_start to
// x_end.
template <class Point>
int32_t fit_range(const Point* samples, int16_t num_samples, double* values, double x_start, double x_end,
                  int16_t num_out, int16_t degree) {
    if (samples == nullptr || num_samples <= 0 || values == nullptr || num_out < 2 || bad_degree(degree)) {
        return FIT_ERR_ARGS;
    }
    double coeffs[MAX_FIT_COEFFS];
    const int32_t status = fit_coefficients(samples, num_samples, degree, coeffs);
    if (status != 0) return status;
    // The abscissa is a running sum of steps, not x_start + i * step: the
    // table builders rely on exactly these abscissae.
    const double step = (x_end - x_start) / (num_out - 1);
    double x = x_start;
    for (int32_t i = 0; i < num_out; ++i) {
        values[i] = evaluate(coeffs, degree, x);
        x += step;
    }
    return 0;
}

}  // namespace

int32_t PolynomialFitPointsRange(const CalPoint* points, int16_t num_points, double* values, double x_start,
                                 double x_end, int16_t num_out, int16_t degree) {
    return fit_range(points, num_points, values, x_start, x_end, num_out, degree);
}

int32_t PolynomialFitCoeffs(const RealPoint* samples, int16_t num_samples, double* coeffs, int16_t degree) {
    if (samples == nullptr || num_samples <= 0 || coeffs == nullptr || bad_degree(degree)) return FIT_ERR_ARGS;
    double fitted[MAX_FIT_COEFFS];
    const int32_t status = fit_coefficients(samples, num_samples, degree, fitted);
    if (status != 0) return status;
    for (int32_t k = 0; k <= degree; ++k) coeffs[k] = fitted[k];
    return 0;
}

}  // namespace calmgr

extern "C" CALMGR_API int32_t PolynomialFit(const RealPoint* samples, int16_t num_samples, RealPoint* out_points,
                                            int16_t num_out, int16_t degree) {
    if (samples == nullptr || num_samples <= 0 || out_points == nullptr || num_out <= 0 || calmgr::bad_degree(degree)) {
        return FIT_ERR_ARGS;
    }
    double coeffs[calmgr::MAX_FIT_COEFFS];
    const int32_t status = calmgr::fit_coefficients(samples, num_samples, degree, coeffs);
    if (status != 0) return status;
    for (int32_t i = 0; i < num_out; ++i) out_points[i].y = calmgr::evaluate(coeffs, degree, out_points[i].x);
    return 0;
}

extern "C" CALMGR_API int32_t PolynomialFitRange(const RealPoint* samples, int16_t num_samples, double* values,
                                                 double x_start, double x_end, int16_t num_out, int16_t degree) {
    return calmgr::fit_range(samples, num_samples, values, x_start, x_end, num_out, degree);
}
