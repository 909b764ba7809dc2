// Optical-density table: OD(x) = -log10((x - black) / (incident - black)),
// computed from the first grid entry at or above the black level up to the
// last one at or below the incident level, and held flat beyond both ends.
// Every derived index is clamped into the table before it is used, so levels
// outside the range, levels between two neighbouring grid inputs and empty or
// inverted ranges all stay inside the table.
#include "intensity/ical.h"
#include "intensity/table_index.h"

#include <cmath>

namespace calmgr {

int32_t build_density_table(IntensityCal* cal) {
    const double span = cal->incident_level - cal->black_level;
    // An infinite span (an infinite level, or levels whose difference
    // overflows) would make every entry NaN: refused like a non-positive one.
    if (!(span > 0.0) || !std::isfinite(span)) return CAL_ERR_INVALID;
    if (cal->table == nullptr || cal->table_size < 2) return CAL_ERR_INVALID;

    const int32_t n = cal->table_size;
    double* table = cal->table;
    const double black = cal->black_level;
    const double step = (cal->range_max - cal->range_min) / (n - 1);

    if (!(step > 0.0) || !std::isfinite(step)) {
        // No usable grid (empty, inverted or unbounded range): there is no
        // input to evaluate, so the table holds the density of the incident
        // level. Lookups pass values through on such a range anyway.
        for (int32_t i = 0; i < n; ++i) table[i] = 0.0;
        cal->table_min = cal->table_max = 0.0;
        return CAL_OK;
    }

    // first in 0..n (n: black level beyond the table), last in -1..n-1
    // (-1: incident level below the table).
    int32_t first;
    double x;
    if (black < cal->range_min) {
        first = 0;
        x = cal->range_min;
    } else {
        first = clamp_index(std::ceil((black - cal->range_min) / step), 0, n);
        x = black;
    }
    const int32_t last = cal->incident_level > cal->range_max
                             ? n - 1
                             : clamp_index(std::floor((cal->incident_level - cal->range_min) / step), -1, n - 1);

    if (first > last) {
        // No grid input lies between the levels: inputs below the black level
        // take the densest value (the one the formula gives at the black
        // level itself), inputs above the incident level take 0.
        const double densest = -std::log10(step / span);
        for (int32_t i = 0; i < n; ++i) table[i] = i < first ? densest : 0.0;
        const bool has_dense = first > 0, has_zero = first < n;
        cal->table_min = has_dense ? (has_zero ? std::fmin(densest, 0.0) : densest) : 0.0;
        cal->table_max = has_dense ? (has_zero ? std::fmax(densest, 0.0) : densest) : 0.0;
        return CAL_OK;
    }

    double run_min = 0.0, run_max = 0.0;
    for (int32_t i = first; i <= last; ++i) {
        double d = x - black;
        if (!(d > 0.0)) d = step;
        const double v = -std::log10(d / span);
        table[i] = v;
        if (i == first) {
            run_min = run_max = v;
        } else {
            if (v <= run_min) run_min = v;
            if (v >= run_max) run_max = v;
        }
        x = x + step;
    }
    for (int32_t i = 0; i < first; ++i) table[i] = table[first];
    for (int32_t i = last + 1; i < n; ++i) table[i] = table[last];
    cal->table_min = run_min;
    cal->table_max = run_max;
    return CAL_OK;
}

}  // namespace calmgr
