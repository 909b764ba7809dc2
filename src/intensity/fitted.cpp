// Fitted-curve builder: the table of a standard curve with other than two
// points, by fit type (least-squares polynomials, piecewise interpolation,
// an optical-density model fitted to the points, polynomials after a log or
// exponential transform), followed by the optional repairs (monotonic in the
// points' direction, negatives to zero) and the table statistics.
#include "fit/polyfit.h"
#include "frame/services.h"
#include "intensity/ical.h"
#include "intensity/piecewise.h"
#include "intensity/table_index.h"

#include <cmath>

namespace calmgr {
namespace {

// Least-squares polynomial over the table grid. Returns the fit's status.
int32_t fit_table(IntensityCal* cal, const CalPoint* samples, uint16_t count, int16_t degree) {
    return PolynomialFitPointsRange(samples, static_cast<int16_t>(count), cal->table, cal->range_min,
                                    cal->range_max, static_cast<int16_t>(cal->table_size), degree);
}

// Optical density with black and incident levels from a straight-line fit
// of the points' transmittance 10^-calibrated against their input value.
int32_t build_density_fit(IntensityCal* cal) {
    const uint16_t n = cal->num_points;
    RealPoint* copy = alloc_array<RealPoint>(n);
    if (copy == nullptr) return CAL_ERR_NOMEM;
    for (uint16_t i = 0; i < n; ++i) copy[i] = {cal->points[i].input, std::pow(10.0, -cal->points[i].calibrated)};
    double coeffs[2] = {0.0, 0.0};
    const int32_t fit = PolynomialFitCoeffs(copy, static_cast<int16_t>(n), coeffs, 1);
    mem_free(copy);
    if (fit == CAL_ERR_NOMEM) return CAL_ERR_NOMEM;

    const double c0 = coeffs[0], c1 = coeffs[1];
    double black = cal->range_min, incident = cal->range_max;
    if (c1 != 0.0) {
        black = -c0 / c1;            // fitted transmittance 0
        incident = black + 1.0 / c1;  // fitted transmittance 1
    }
    // NaN levels (a singular fit) are kept: the density builder refuses
    // their span, so the table stays as it was and the refusal is reported.
    if (black >= incident) {
        black = cal->range_min;
        incident = cal->range_max;
    }
    cal->black_level = black;
    cal->incident_level = incident;
    const int32_t status = build_density_table(cal);
    // The stored levels are limited to the range only after the build, so
    // the table may rest on levels other than those stored.
    if (cal->black_level < cal->range_min || cal->black_level >= cal->range_max)
        cal->black_level = cal->range_min;
    if (cal->incident_level >= cal->range_max || cal->incident_level <= cal->range_min)
        cal->incident_level = cal->range_max;
    return status;
}

// Polynomial through (input, ln calibrated) of the points with a positive
// calibrated value; the table then holds e^fit.
int32_t build_exponential_fit(IntensityCal* cal, int16_t degree) {
    CalPoint* copy = alloc_array<CalPoint>(cal->num_points);
    if (copy == nullptr) return CAL_ERR_NOMEM;
    uint16_t count = 0;
    for (uint16_t i = 0; i < cal->num_points; ++i) {
        const CalPoint& p = cal->points[i];
        if (p.calibrated > 0.0) copy[count++] = {p.input, std::log(p.calibrated)};
    }
    if (count < 2) {
        mem_free(copy);
        return CAL_ERR_INVALID;
    }
    const int32_t fit = fit_table(cal, copy, count, degree);
    mem_free(copy);
    if (fit == CAL_ERR_NOMEM) return CAL_ERR_NOMEM;
    // A refused fit leaves the old table, which must not be transformed as
    // if it held fitted values.
    if (fit == CAL_OK) {
        for (uint16_t i = 0; i < cal->table_size; ++i) cal->table[i] = std::exp(cal->table[i]);
    }
    return CAL_OK;
}

// Polynomial through (input, e^-calibrated) of all points; the table then
// holds -ln fit, or 0 where the fitted value is not positive.
int32_t build_logarithmic_fit(IntensityCal* cal, int16_t degree) {
    const uint16_t n = cal->num_points;
    CalPoint* copy = alloc_array<CalPoint>(n);
    if (copy == nullptr) return CAL_ERR_NOMEM;
    for (uint16_t i = 0; i < n; ++i) copy[i] = {cal->points[i].input, std::exp(-cal->points[i].calibrated)};
    const int32_t fit = fit_table(cal, copy, n, degree);
    mem_free(copy);
    if (fit == CAL_ERR_NOMEM) return CAL_ERR_NOMEM;
    if (fit == CAL_OK) {
        for (uint16_t i = 0; i < cal->table_size; ++i) {
            const double v = cal->table[i];
            cal->table[i] = v > 0.0 ? -std::log(v) : 0.0;
        }
    }
    return CAL_OK;
}

// Entry of the table nearest below input x on its grid, truncated toward
// zero and clamped into the table (NaN to entry 0).
uint16_t grid_entry(const IntensityCal* cal, double x) {
    const double v = ((cal->table_size - 1) / (cal->range_max - cal->range_min)) * (x - cal->range_min);
    return static_cast<uint16_t>(clamp_index(v, 0, cal->table_size - 1));
}

}  // namespace

// Makes the table non-decreasing (points rising overall) or non-increasing
// (falling overall), working outward from the entry where the built curve
// agrees best with the points; stretches against the trend are flattened to
// the last value before them. Returns false when its block could not be
// obtained (the table is then left as built).
bool force_monotonic(IntensityCal* cal) {
    const uint16_t n = cal->num_points;
    const CalPoint* points = cal->points;
    int32_t trend = 0;
    for (uint16_t k = 1; k < n; ++k) trend += points[k].calibrated - points[k - 1].calibrated > 0.0 ? 1 : -1;

    double* at_points = alloc_array<double>(n);
    if (at_points == nullptr) return false;
    for (uint16_t i = 0; i < n; ++i) at_points[i] = points[i].input;
    interpolate_lookup(cal, at_points, at_points, n, 8, 0);
    // Ties go to the earliest point: a later one must be strictly closer
    // (so a NaN distance of point 0 keeps it as the pivot).
    uint16_t pivot = 0;
    double best = std::fabs(points[0].calibrated - at_points[0]);
    for (uint16_t i = 1; i < n; ++i) {
        const double d = std::fabs(points[i].calibrated - at_points[i]);
        if (d < best) {
            best = d;
            pivot = i;
        }
    }
    mem_free(at_points);

    if (trend == 0) return true;
    double* table = cal->table;
    const int32_t size = cal->table_size;
    const int32_t e = grid_entry(cal, points[pivot].input);
    for (int32_t j = e + 1; j < size; ++j) {
        if (trend > 0 ? table[j] < table[j - 1] : table[j] > table[j - 1]) table[j] = table[j - 1];
    }
    for (int32_t j = e - 1; j >= 0; --j) {
        if (trend > 0 ? table[j] > table[j + 1] : table[j] < table[j + 1]) table[j] = table[j + 1];
    }
    return true;
}

// Negative and NaN entries become 0.
void clamp_negative(IntensityCal* cal) {
    for (uint16_t i = 0; i < cal->table_size; ++i) {
        if (!(cal->table[i] >= 0.0)) cal->table[i] = 0.0;
    }
}

FitModel fit_model(int16_t fit_type) {
    // Read as an unsigned selector: negative values fall to the default.
    const auto type = static_cast<uint16_t>(fit_type);
    const auto from = [type](int first) { return static_cast<int16_t>(type - first + 1); };
    switch (type) {
        case ICAL_FIT_POLY1:
        case ICAL_FIT_POLY2:
        case ICAL_FIT_POLY3: return {FitKind::polynomial, from(ICAL_FIT_POLY1)};
        case ICAL_FIT_INTERP1:
        case ICAL_FIT_INTERP2:
        case ICAL_FIT_INTERP3: return {FitKind::piecewise, from(ICAL_FIT_INTERP1)};
        case ICAL_FIT_DENSITY: return {FitKind::density, 1};
        case ICAL_FIT_EXP1:
        case ICAL_FIT_EXP2:
        case ICAL_FIT_EXP3: return {FitKind::exponential, from(ICAL_FIT_EXP1)};
        case ICAL_FIT_LOG1:
        case ICAL_FIT_LOG2:
        case ICAL_FIT_LOG3: return {FitKind::logarithmic, from(ICAL_FIT_LOG1)};
        default: return {FitKind::piecewise, 1};  // ICAL_FIT_PIECEWISE and every unassigned value
    }
}

int32_t build_fitted_table(IntensityCal* cal) {
    if (cal->points == nullptr || cal->table == nullptr || cal->num_points == 0 || cal->table_size < 2)
        return CAL_ERR_INVALID;
    const FitModel model = fit_model(cal->fit_type);
    switch (model.kind) {
        case FitKind::polynomial:
            if (fit_table(cal, cal->points, cal->num_points, model.degree) == CAL_ERR_NOMEM) return CAL_ERR_NOMEM;
            break;
        case FitKind::piecewise:
            build_piecewise_table(cal->points, cal->num_points, cal->table, cal->table_size, model.degree,
                                  cal->range_min, cal->range_max);
            break;
        case FitKind::density:
            return build_density_fit(cal);  // no repairs, statistics from the density builder
        case FitKind::exponential: {
            const int32_t status = build_exponential_fit(cal, model.degree);
            if (status != CAL_OK) return status;
            break;
        }
        case FitKind::logarithmic: {
            const int32_t status = build_logarithmic_fit(cal, model.degree);
            if (status != CAL_OK) return status;
            break;
        }
    }

    // A missing repair block does not stop the build: the table is complete
    // without it, so the clamp and the statistics still run, and the
    // exhausted memory is reported.
    bool repaired = true;
    if (cal->options & ICAL_OPT_MONOTONIC) repaired = force_monotonic(cal);
    if (cal->options & ICAL_OPT_CLAMP_NEGATIVE) clamp_negative(cal);
    refresh_table_stats(cal);
    return repaired ? CAL_OK : CAL_ERR_NOMEM;
}

}  // namespace calmgr
