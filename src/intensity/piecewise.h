// Piecewise Lagrange interpolation of calibration points onto a table grid.
#pragma once

#include "calmgr.h"

#include <cstdint>

namespace calmgr {

// Fills table[0..table_size-1] by local interpolation of the given order
// (1..3) through the points, with straight-line extension before the first
// and after the last point. Returns 1 when it filled the table, 0 when it
// did nothing (too few points or entries, an inverted range).
int build_piecewise_table(const CalPoint* points, uint16_t num_points, double* table, uint16_t table_size,
                          int16_t order, double range_min, double range_max);

}  // namespace calmgr
