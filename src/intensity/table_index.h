// Table indices derived from doubles: the builders compute grid positions
// in floating point and must never hand a NaN or out-of-range double to an
// integer conversion.
#pragma once

#include <cstdint>

namespace calmgr {

// v (a floor, ceil or truncated grid position) as an index clamped into
// [lo, hi], NaN going to lo.
inline int32_t clamp_index(double v, int32_t lo, int32_t hi) {
    if (!(v >= lo)) return lo;
    if (v >= hi) return hi;
    return static_cast<int32_t>(v);
}

}  // namespace calmgr
