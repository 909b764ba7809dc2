// The intensity calibration record and the internal routines that build and
// read its lookup table. The record's address is the handle callers hold.
#pragma once

#include "calmgr.h"
#include "frame/registry.h"

#include <cstdint>

namespace calmgr {

// Values of the record's direct_mode: whether integer samples index the
// table or are interpolated in it.
constexpr int16_t kDirectNone = 0;  // interpolate
constexpr int16_t kDirectU8 = 1;    // 256 entries over 0..255: 8-bit samples index the table
constexpr int16_t kDirectU16 = 2;   // 4096 entries over 0..4095: 16-bit samples index the table
constexpr uint16_t kDirectU8Entries = 256;
constexpr uint16_t kDirectU16Entries = 4096;

}  // namespace calmgr

struct IntensityCal {
    IntensityCal* next;           // link in the intensity registry
    char name[calmgr::kNameSize];
    uint32_t cal_type;            // ICAL_TYPE_*
    double range_min;             // input value of table entry 0
    double range_max;             // input value of the last table entry
    uint16_t num_points;
    CalPoint* points;             // owned; null only for type 3
    int16_t fit_type;
    double black_level;
    double incident_level;
    int16_t direct_mode;          // calmgr::kDirect*
    double table_min;
    double table_max;
    uint16_t table_size;
    double* table;                // owned; null only for type 3
    char units[calmgr::kNameSize];
    int32_t attribute;
    uint16_t options;             // ICAL_OPT_* bits
};

namespace calmgr {

// Head of the intensity registry, newest first.
extern IntensityCal* g_ical_head;

// Rebuilds the table from the calibration's settings by its type.
int32_t recompute(IntensityCal* cal);

// Straight line (or step) through the first two points.
int32_t build_two_point_line(IntensityCal* cal);

// Optical density from black_level and incident_level.
int32_t build_density_table(IntensityCal* cal);

// The curve model a fit type selects for a standard curve with other than
// two points: its kind and its polynomial degree or interpolation order.
enum class FitKind { piecewise, polynomial, density, exponential, logarithmic };
struct FitModel {
    FitKind kind;
    int16_t degree;
};
FitModel fit_model(int16_t fit_type);

// Table of a standard curve with other than two points, by fit_type.
int32_t build_fitted_table(IntensityCal* cal);

// Repairs of a fitted table: monotonic in the points' direction (false when
// its temporary block could not be obtained) and negatives to zero.
bool force_monotonic(IntensityCal* cal);
void clamp_negative(IntensityCal* cal);

// table_min/table_max from the table's numeric entries.
void refresh_table_stats(IntensityCal* cal);

// kDirectU8 for 256 entries over 0..255, kDirectU16 for 4096 entries over
// 0..4095, else kDirectNone.
int16_t compute_direct_mode(const IntensityCal* cal);

// Converts count values of element width 1 (u8), 2 (u16), 4 (float) or
// 8 (double) through the table (of at least two entries) by linear
// interpolation, writing doubles or floats. out may equal samples when the
// elements are equally wide.
void interpolate_lookup(const IntensityCal* cal, const void* samples, void* out, uint64_t count,
                        int width, int float_out);

}  // namespace calmgr
