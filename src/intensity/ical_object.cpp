// Intensity calibration lifetime and the table basics: creation with the
// defaults, destruction, `recompute` (dispatch by calibration type), the
// two-point builder, the table statistics and the direct-indexing rule.
#include "intensity/ical.h"

#include "frame/services.h"

#include <cmath>

namespace calmgr {

IntensityCal* g_ical_head = nullptr;

namespace {

constexpr uint16_t kDefaultTableSize = 256;

}  // namespace

int32_t recompute(IntensityCal* cal) {
    if (cal == nullptr) return CAL_ERR_INVALID;
    switch (cal->cal_type) {
        case ICAL_TYPE_STANDARD:
            return cal->num_points == 2 ? build_two_point_line(cal) : build_fitted_table(cal);
        case ICAL_TYPE_DENSITY:
            return build_density_table(cal);
        case ICAL_TYPE_TABLE:
            // No builder: the table is the caller's (or a zero-filled block
            // when the type changed to 2), so the statistics are read from it.
            refresh_table_stats(cal);
            return CAL_OK;
        case ICAL_TYPE_NONE:
            return CAL_OK;
        default:
            return CAL_ERR_INVALID;
    }
}

int32_t build_two_point_line(IntensityCal* cal) {
    if (cal->points == nullptr || cal->table == nullptr || cal->num_points < 2 || cal->table_size < 2)
        return CAL_ERR_INVALID;
    const double x0 = cal->points[0].input, y0 = cal->points[0].calibrated;
    const double x1 = cal->points[1].input, y1 = cal->points[1].calibrated;
    const double step = (cal->range_max - cal->range_min) / (cal->table_size - 1);
    double* table = cal->table;
    double x = cal->range_min;

    if (x1 - x0 == 0.0) {  // vertical: a step from y0 to y1 at x0
        for (uint16_t i = 0; i < cal->table_size; ++i) {
            table[i] = x < x0 ? y0 : y1;
            x += step;
        }
        // A NaN value has no place in an order: the statistics come from the
        // numeric one alone (0.0 when neither is), so they bound the table.
        const double a = std::isnan(y0) ? y1 : y0, b = std::isnan(y1) ? y0 : y1;
        cal->table_min = std::isnan(a) ? 0.0 : (a < b ? a : b);
        cal->table_max = std::isnan(a) ? 0.0 : (a < b ? b : a);
        return CAL_OK;
    }

    const double slope = (y1 - y0) / (x1 - x0);
    const double intercept = y0 - x0 * slope;
    for (uint16_t i = 0; i < cal->table_size; ++i) {
        table[i] = slope * x + intercept;
        x += step;
    }
    refresh_table_stats(cal);
    return CAL_OK;
}

// Numeric entries only: a NaN entry (possible from extreme points) never
// becomes a statistic, so table_min <= every number <= table_max holds.
void refresh_table_stats(IntensityCal* cal) {
    if (cal->table == nullptr || cal->table_size == 0) return;
    const double* table = cal->table;
    uint16_t i = 0;
    while (i < cal->table_size && std::isnan(table[i])) ++i;
    if (i == cal->table_size) {  // nothing numeric: keep the statistics finite
        cal->table_min = cal->table_max = 0.0;
        return;
    }
    double lo = table[i], hi = table[i];
    for (++i; i < cal->table_size; ++i) {
        const double v = table[i];
        if (v > hi) {
            hi = v;
        } else if (v < lo) {
            lo = v;
        }
    }
    cal->table_min = lo;
    cal->table_max = hi;
}

int16_t compute_direct_mode(const IntensityCal* cal) {
    if (cal->range_min != 0.0) return kDirectNone;
    if (cal->table_size == kDirectU8Entries && cal->range_max == kDirectU8Entries - 1) return kDirectU8;
    if (cal->table_size == kDirectU16Entries && cal->range_max == kDirectU16Entries - 1) return kDirectU16;
    return kDirectNone;
}

}  // namespace calmgr

using namespace calmgr;

extern "C" CALMGR_API IntensityCal* ICalCreate(void) {
    auto* cal = static_cast<IntensityCal*>(mem_alloc(CAL_MEM_ZERO, sizeof(IntensityCal)));
    if (cal == nullptr) return nullptr;
    *cal = IntensityCal{};  // the allocator's zero-fill is not relied on
    cal->next = g_ical_head;
    make_default_name("Intensity Cal %lu", g_ical_head, cal->name);
    cal->cal_type = ICAL_TYPE_STANDARD;
    copy_string_in(cal->units, "Gray Level");
    cal->range_min = 0.0;
    cal->range_max = 255.0;
    cal->options = 0;
    cal->num_points = 2;
    cal->fit_type = ICAL_FIT_PIECEWISE;
    cal->points = alloc_array<CalPoint>(2);
    if (cal->points == nullptr) {
        mem_free(cal);
        return nullptr;
    }
    cal->points[0] = {0.0, 0.0};
    cal->points[1] = {255.0, 255.0};
    cal->black_level = 0.0;
    cal->incident_level = 255.0;
    cal->table_min = 0.0;
    cal->table_max = 255.0;
    cal->direct_mode = kDirectU8;
    cal->attribute = 1;
    cal->table_size = kDefaultTableSize;
    cal->table = alloc_array<double>(kDefaultTableSize);
    if (cal->table == nullptr || recompute(cal) != CAL_OK) {
        if (cal->table != nullptr) mem_free(cal->table);
        mem_free(cal->points);
        mem_free(cal);
        return nullptr;
    }
    g_ical_head = cal;
    return cal;
}

extern "C" CALMGR_API int32_t ICalDestroy(IntensityCal* cal) {
    if (!registry_unlink(g_ical_head, cal)) return CAL_ERR_INVALID;
    if (cal->points != nullptr) mem_free(cal->points);
    if (cal->table != nullptr) mem_free(cal->table);
    mem_free(cal);
    return CAL_OK;
}
