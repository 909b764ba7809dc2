// ICalControl: the single entry through which callers read and change an
// intensity calibration, walk the registry and exchange points and tables.
// Setters that affect the table rebuild it through `recompute` unless the
// caller defers; resizing controls allocate the new block before touching
// the old one, so a refused allocation leaves the calibration as it was.
#include "intensity/ical.h"

#include "frame/control_data.h"
#include "frame/services.h"

#include <cstring>

namespace calmgr {
namespace {

constexpr uint32_t kLastCode = ICAL_SET_OPTIONS;

// Fit types that the table builder knows: the piecewise default through the
// exponential fits (7..9 build as the default) and the logarithmic fits.
bool known_fit_type(int16_t t) {
    return (t >= ICAL_FIT_PIECEWISE && t <= ICAL_FIT_EXP3) || (t >= ICAL_FIT_LOG1 && t <= ICAL_FIT_LOG3);
}

// Codes whose data pointer may be null (nothing is then written), or is not
// used at all.
bool data_optional(uint32_t code) {
    switch (code) {
        case ICAL_SET_TYPE:
        case ICAL_SET_TABLE_SIZE:
        case ICAL_SET_FIT_TYPE:
        case ICAL_GET_FIT_TYPE:
        case ICAL_GET_ATTRIBUTE:
        case ICAL_SET_ATTRIBUTE:
        case ICAL_GET_OPTIONS:
        case ICAL_SET_OPTIONS:
            return true;
        default:
            return false;
    }
}

// Rebuild now unless deferred; `applies` says whether the current type is
// one this setting rebuilds.
int32_t rebuild_unless(IntensityCal* cal, bool deferred, bool applies = true) {
    return (!deferred && applies) ? recompute(cal) : CAL_OK;
}

int32_t set_type(IntensityCal* cal, int16_t t, bool deferred) {
    if (t < 0 || t > 3) return CAL_ERR_INVALID;
    if (t == ICAL_TYPE_NONE) {
        cal->cal_type = ICAL_TYPE_NONE;
        if (cal->table != nullptr) mem_free(cal->table);
        if (cal->points != nullptr) mem_free(cal->points);
        cal->table = nullptr;
        cal->points = nullptr;
        cal->table_size = 0;
        cal->num_points = 0;
        return CAL_OK;
    }
    // Both missing blocks are obtained before anything changes.
    CalPoint* new_points = nullptr;
    double* new_table = nullptr;
    if (cal->points == nullptr && (new_points = alloc_array<CalPoint>(2)) == nullptr) return CAL_ERR_NOMEM;
    if (cal->table == nullptr && (new_table = alloc_array_zeroed<double>(256)) == nullptr) {
        if (new_points != nullptr) mem_free(new_points);
        return CAL_ERR_NOMEM;
    }
    cal->cal_type = static_cast<uint32_t>(t);
    if (new_points != nullptr) {
        new_points[0] = {0.0, 0.0};
        new_points[1] = {255.0, 255.0};
        cal->points = new_points;
        cal->num_points = 2;
    }
    if (new_table != nullptr) {  // a fresh table is always built at once
        cal->table = new_table;
        cal->table_size = 256;
        cal->direct_mode = compute_direct_mode(cal);
        return recompute(cal);
    }
    return rebuild_unless(cal, deferred);
}

int32_t set_points(IntensityCal* cal, int16_t n, const CalPoint* data, bool deferred) {
    if (n < 2 || cal->cal_type == ICAL_TYPE_NONE) return CAL_ERR_INVALID;
    const auto count = static_cast<uint16_t>(n);
    if (count != cal->num_points || cal->points == nullptr) {
        CalPoint* block = alloc_array<CalPoint>(count);
        if (block == nullptr) return CAL_ERR_NOMEM;
        if (cal->points != nullptr) mem_free(cal->points);
        cal->points = block;
        cal->num_points = count;
    }
    std::memmove(cal->points, data, count * sizeof(CalPoint));
    return rebuild_unless(cal, deferred, cal->cal_type == ICAL_TYPE_STANDARD);
}

// Replaces the table block by a zero-filled one of n entries (so no route
// ever reads memory that no builder has filled yet).
int32_t replace_table(IntensityCal* cal, uint16_t n) {
    double* block = alloc_array_zeroed<double>(n);
    if (block == nullptr) return CAL_ERR_NOMEM;
    if (cal->table != nullptr) mem_free(cal->table);
    cal->table = block;
    cal->table_size = n;
    cal->direct_mode = compute_direct_mode(cal);
    return CAL_OK;
}

int32_t set_table_size(IntensityCal* cal, int16_t n, bool deferred) {
    if (n < 2 || cal->cal_type == ICAL_TYPE_TABLE || cal->cal_type == ICAL_TYPE_NONE) return CAL_ERR_INVALID;
    const auto size = static_cast<uint16_t>(n);
    if (size == cal->table_size && cal->table != nullptr) return CAL_OK;
    if (int32_t status = replace_table(cal, size); status != CAL_OK) return status;
    return rebuild_unless(cal, deferred);
}

int32_t set_table(IntensityCal* cal, int16_t n, const double* data) {
    if (n < 2 || cal->cal_type == ICAL_TYPE_NONE) return CAL_ERR_INVALID;
    const auto size = static_cast<uint16_t>(n);
    if (size != cal->table_size || cal->table == nullptr) {
        if (int32_t status = replace_table(cal, size); status != CAL_OK) return status;
    }
    std::memmove(cal->table, data, size * sizeof(double));
    refresh_table_stats(cal);
    return CAL_OK;
}

// ICAL_GET_POINT / ICAL_SET_POINT: value 0 selects the input value.
double* point_field(IntensityCal* cal, int16_t value, int32_t index) {
    const auto k = static_cast<uint16_t>(index & 0xFFFF);
    if (cal->points == nullptr || k >= cal->num_points) return nullptr;
    return value == 0 ? &cal->points[k].input : &cal->points[k].calibrated;
}

}  // namespace
}  // namespace calmgr

using namespace calmgr;

extern "C" CALMGR_API int32_t ICalControl(IntensityCal* cal, uint32_t code, int32_t value, int32_t index,
                                          void* data) {
    if (code > kLastCode) return CAL_ERR_INVALID;
    if (data == nullptr && !data_optional(code)) return CAL_ERR_INVALID;
    if (code == ICAL_GET_NEXT) return put(data, cal != nullptr ? cal->next : g_ical_head);
    if (cal == nullptr) return CAL_ERR_INVALID;

    const auto v16 = static_cast<int16_t>(value & 0xFFFF);
    const bool deferred = index != 0;
    const bool standard = cal->cal_type == ICAL_TYPE_STANDARD;
    const bool density = cal->cal_type == ICAL_TYPE_DENSITY;

    switch (code) {
        case ICAL_GET_NAME: copy_string_out(static_cast<char*>(data), cal->name); return CAL_OK;
        case ICAL_SET_NAME: copy_string_in(cal->name, static_cast<const char*>(data)); return CAL_OK;
        case ICAL_GET_UNITS: copy_string_out(static_cast<char*>(data), cal->units); return CAL_OK;
        case ICAL_SET_UNITS: copy_string_in(cal->units, static_cast<const char*>(data)); return CAL_OK;
        case ICAL_GET_TYPE: return put(data, cal->cal_type);
        case ICAL_SET_TYPE: return set_type(cal, v16, deferred);
        case ICAL_GET_RANGE_MIN: return put(data, cal->range_min);
        case ICAL_GET_RANGE_MAX: return put(data, cal->range_max);
        case ICAL_SET_RANGE_MIN:
        case ICAL_SET_RANGE_MAX:
            (code == ICAL_SET_RANGE_MIN ? cal->range_min : cal->range_max) = get_double(data);
            cal->direct_mode = compute_direct_mode(cal);
            return rebuild_unless(cal, deferred);
        case ICAL_GET_NUM_POINTS: return put(data, cal->num_points);
        case ICAL_GET_POINTS:
            if (cal->points != nullptr) std::memcpy(data, cal->points, cal->num_points * sizeof(CalPoint));
            return CAL_OK;
        case ICAL_SET_POINTS: return set_points(cal, v16, static_cast<const CalPoint*>(data), deferred);
        case ICAL_GET_POINT:
        case ICAL_SET_POINT: {
            double* field = point_field(cal, v16, index);
            if (field == nullptr) return CAL_ERR_INVALID;
            if (code == ICAL_GET_POINT) return put(data, *field);
            *field = get_double(data);
            return rebuild_unless(cal, false, standard);
        }
        case ICAL_GET_BLACK_LEVEL: return put(data, cal->black_level);
        case ICAL_GET_INCIDENT_LEVEL: return put(data, cal->incident_level);
        case ICAL_SET_BLACK_LEVEL:
        case ICAL_SET_INCIDENT_LEVEL:
            (code == ICAL_SET_BLACK_LEVEL ? cal->black_level : cal->incident_level) = get_double(data);
            return rebuild_unless(cal, deferred, density);
        case ICAL_GET_TABLE_MIN: return put(data, cal->table_min);
        case ICAL_GET_TABLE_MAX: return put(data, cal->table_max);
        case ICAL_GET_TABLE_SIZE: return put(data, cal->table_size);
        case ICAL_SET_TABLE_SIZE: return set_table_size(cal, v16, deferred);
        case ICAL_GET_TABLE:
            if (cal->table != nullptr) std::memcpy(data, cal->table, cal->table_size * sizeof(double));
            return CAL_OK;
        case ICAL_SET_TABLE: return set_table(cal, v16, static_cast<const double*>(data));
        case ICAL_SET_FIT_TYPE:
            if (!known_fit_type(v16)) return CAL_OK;
            cal->fit_type = v16;
            return rebuild_unless(cal, deferred, standard);
        case ICAL_GET_FIT_TYPE: return put(data, cal->fit_type);
        case ICAL_GET_ATTRIBUTE: return put(data, static_cast<uint16_t>(cal->attribute & 0xFFFF));
        case ICAL_SET_ATTRIBUTE: cal->attribute = v16; return CAL_OK;
        case ICAL_GET_OPTIONS: return put(data, cal->options);
        case ICAL_SET_OPTIONS:
            cal->options = static_cast<uint16_t>(v16);
            return rebuild_unless(cal, deferred, standard);
        default: return CAL_ERR_INVALID;
    }
}
