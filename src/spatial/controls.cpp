// SCalControl: the single entry through which callers read and change a
// spatial calibration and walk the spatial registry. The per-axis codes
// select x when the low 16 bits of `value` are 0 and y otherwise; the scale
// setters keep pixel_area consistent with both scales.
#include "spatial/scal.h"

#include "frame/control_data.h"

#include <cmath>

namespace calmgr {
namespace {

constexpr uint32_t kLastCode = SCAL_GET_NEXT;

// A scale of 0 (either sign) or NaN would make the conversion meaningless.
bool usable_scale(double v) { return !(v == 0.0 || std::isnan(v)); }

int32_t set_scale(SpatialCal* cal, bool y_axis, double scale) {
    (y_axis ? cal->y_scale : cal->x_scale) = scale;
    update_pixel_area(cal);
    return CAL_OK;
}

}  // namespace
}  // namespace calmgr

using namespace calmgr;

extern "C" CALMGR_API int32_t SCalControl(SpatialCal* cal, uint32_t code, int32_t value, int32_t /*index*/,
                                          void* data) {
    if (code > kLastCode) return CAL_ERR_INVALID;
    if (data == nullptr) return CAL_ERR_INVALID;
    if (code == SCAL_GET_NEXT) return put(data, cal != nullptr ? cal->next : g_scal_head);
    if (cal == nullptr) return CAL_ERR_INVALID;

    const bool y_axis = (value & 0xFFFF) != 0;
    switch (code) {
        case SCAL_GET_NAME: copy_string_out(static_cast<char*>(data), cal->name); return CAL_OK;
        case SCAL_SET_NAME: copy_string_in(cal->name, static_cast<const char*>(data)); return CAL_OK;
        case SCAL_GET_UNITS: copy_string_out(static_cast<char*>(data), cal->units); return CAL_OK;
        case SCAL_SET_UNITS: copy_string_in(cal->units, static_cast<const char*>(data)); return CAL_OK;
        case SCAL_GET_SCALE: return put(data, y_axis ? cal->y_scale : cal->x_scale);
        case SCAL_SET_SCALE: {
            const double v = get_double(data);
            if (!usable_scale(v)) return CAL_ERR_INVALID;
            return set_scale(cal, y_axis, v);
        }
        case SCAL_GET_PIXEL_SIZE: return put(data, 1.0 / (y_axis ? cal->y_scale : cal->x_scale));
        case SCAL_SET_PIXEL_SIZE: {
            const double v = get_double(data);
            if (!usable_scale(v)) return CAL_ERR_INVALID;
            return set_scale(cal, y_axis, 1.0 / v);
        }
        case SCAL_GET_ORIGIN: return put(data, y_axis ? cal->y_origin : cal->x_origin);
        case SCAL_SET_ORIGIN: (y_axis ? cal->y_origin : cal->x_origin) = get_double(data); return CAL_OK;
        case SCAL_GET_AUX_VALUE: return put(data, cal->aux_value);
        case SCAL_SET_AUX_VALUE: cal->aux_value = get_double(data); return CAL_OK;
        case SCAL_GET_PIXEL_AREA: return put(data, cal->pixel_area);
        default: return CAL_ERR_INVALID;  // unreachable: every code up to kLastCode is handled
    }
}
