// Lookup routes, one per sample layout. Each converts `count` values (three
// per pixel already counted in for the RGB layouts) and writes doubles or,
// with float_out, floats. A null or unusable calibration converts unchanged.
#pragma once

#include "intensity/ical.h"
#include "intensity/lookup_kernels.h"

namespace calmgr {

// A calibration that the interpolating and direct routes may use: not type
// 3, a table present, and range_max strictly above range_min.
bool usable(const IntensityCal* cal);

// Whether a usable calibration's table is indexed directly: mode 1 with
// 256 entries (8-bit samples), mode 2 with 4096 (16-bit samples).
bool direct(const IntensityCal* cal, int16_t mode, uint16_t entries);

// From these run lengths a per-call table pays for its set-up.
constexpr uint64_t kCodes8Run = 256;     // 256 interpolations, then indexing
constexpr uint64_t kFloat8Run = 64;      // 256 roundings to float
constexpr uint64_t kFloat16Run = 16384;  // 4096 roundings to float

// An interpolating table's results for the 8-bit codes 0..255.
void eval_codes(const kern::Kernels& k, const IntensityCal* cal, double codes[256]);

// The interpolation grid of a calibration with at least two entries.
kern::Grid grid_of(const IntensityCal* cal);

// Whether an output of count elements of out_size bytes should bypass the
// caches.
bool streamed(uint64_t count, size_t out_size);

void lookup_bits(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_u8(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_u16(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_f32(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);
void lookup_f64(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out);

// Dispatch by sample type code and output flag; count is in pixels.
int32_t lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out);

// The same with a policy for values outside the range and NaN samples, and
// optional counts (ICalLookupPolicy).
int32_t lookup_policy(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out,
                      uint32_t policy, CalLookupStats* stats);

}  // namespace calmgr
