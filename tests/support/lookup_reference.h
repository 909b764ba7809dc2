// The plain per-value lookup loops, kept as the reference that the fast
// routes must equal bit for bit. They live with the tests (library
// calmgr_reference): the exactness tests, the fuzz harnesses' and the
// benchmarks' comparisons call them; the library never does.
#pragma once

#include "intensity/ical.h"

namespace calmgr::ref {

void interpolate_lookup(const IntensityCal* cal, const void* samples, void* out, uint64_t count, int width,
                        int float_out);

void lookup_bits(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_u8(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_u16(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_f32(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_f64(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);

// The whole of ICalLookupEx on the plain loops: validation, dispatch by
// sample type code (count in pixels) and the routes above.
int32_t lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out);

}  // namespace calmgr::ref
