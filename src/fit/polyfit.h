// Internal side of the polynomial fits: the coefficient fit and the fit
// over calibration points used by the fitted-curve builder (not exported). PolynomialFit and PolynomialFitRange
// are declared in calmgr.h.
#pragma once

#include "calmgr.h"

#include <cstdint>

namespace calmgr {

// Fits a polynomial of the given degree (1..7) to the samples by unweighted
// least squares and writes coefficients 0..degree (constant term first).
// Returns 0, FIT_ERR_ARGS (nothing written) or CAL_ERR_NOMEM (nothing
// written).
int32_t PolynomialFitCoeffs(const RealPoint* samples, int16_t num_samples, double* coeffs, int16_t degree);

// PolynomialFitRange over calibration points taken as (input, calibrated)
// samples: the same checks, statuses and values.
int32_t PolynomialFitPointsRange(const CalPoint* points, int16_t num_points, double* values, double x_start,
                                 double x_end, int16_t num_out, int16_t degree);

}  // namespace calmgr
