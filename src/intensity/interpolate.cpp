// `interpolate_lookup`: places each value on the table's grid and
// interpolates linearly between the two neighbouring entries, clamping to
// the first entry below the range (and for NaN) and to the last entry above
// it. The grid (with its scale, table steps per input unit) is set up once
// per call and the kernel set of the processor does the per-value work.
#include "intensity/lookup.h"

#include <cmath>

namespace calmgr {

kern::Grid grid_of(const IntensityCal* cal) {
    const uint32_t last = cal->table_size - 1u;
    const double lo = cal->range_min, hi = cal->range_max;
    const double scale = static_cast<double>(last) / (hi - lo);
    const bool finite = std::isfinite(lo) && std::isfinite(hi) && std::isfinite(scale) && scale > 0.0;
    return {cal->table, last, lo, hi, scale, static_cast<double>(last), finite};
}

bool streamed(uint64_t count, size_t out_size) { return count * out_size >= kern::nt_threshold(); }

// Value k is read before output k is written in every kernel, so the
// fitted-curve builder may convert doubles in place.
void interpolate_lookup(const IntensityCal* cal, const void* samples, void* out, uint64_t count, int width,
                        int float_out) {
    // Every setter keeps at least two entries; a record without them has no
    // interval to interpolate in and gets nothing written.
    if (cal == nullptr || cal->table == nullptr || cal->table_size < 2) return;
    int w;
    switch (width) {
        case 1: w = 0; break;
        case 2: w = 1; break;
        case 4: w = 2; break;
        case 8: w = 3; break;
        default: return;
    }
    const kern::Kernels& k = kern::active();
    const bool nt = streamed(count, float_out ? 4 : 8);
    (float_out ? k.interp_f : k.interp_d)[w](grid_of(cal), samples, out, count, nt);
}

}  // namespace calmgr
