// Spatial calibration lifetime and pixel-to-unit conversion. Creation and
// destruction go through the registry and default naming shared with the
// intensity family; the record is one plain block from the image library.
#include "spatial/scal.h"

#include "frame/services.h"

#include <cstring>

namespace calmgr {

SpatialCal* g_scal_head = nullptr;

void update_pixel_area(SpatialCal* cal) { cal->pixel_area = 1.0 / (cal->y_scale * cal->x_scale); }

}  // namespace calmgr

using namespace calmgr;

extern "C" CALMGR_API SpatialCal* SCalCreate(void) {
    auto* cal = static_cast<SpatialCal*>(mem_alloc(CAL_MEM_PLAIN, sizeof(SpatialCal)));
    if (cal == nullptr) return nullptr;
    // A plain block holds garbage: every field, string tails included, is
    // written here so nothing of the record is ever read uninitialised.
    cal->next = g_scal_head;
    std::memset(cal->name, 0, sizeof cal->name);
    make_default_name("Spatial Cal %lu", g_scal_head, cal->name);
    std::memset(cal->units, 0, sizeof cal->units);
    copy_string_in(cal->units, "Pixels");
    cal->x_scale = 1.0;
    cal->y_scale = 1.0;
    cal->x_origin = 0.0;
    cal->y_origin = 0.0;
    cal->pixel_area = 1.0;
    cal->aux_value = 0.0;
    g_scal_head = cal;
    return cal;
}

extern "C" CALMGR_API int32_t SCalDestroy(SpatialCal* cal) {
    if (!registry_unlink(g_scal_head, cal)) return CAL_ERR_INVALID;
    mem_free(cal);
    return CAL_OK;
}

extern "C" CALMGR_API int32_t SCalPixToCU(const SpatialCal* cal, const PixelPoint* pixels, RealPoint* out,
                                          uint32_t count) {
    if (cal == nullptr) return CAL_ERR_INVALID;
    const uint32_t n = count & 0xFFFFu;
    if (n == 0) return CAL_OK;
    if (pixels == nullptr || out == nullptr) return CAL_ERR_INVALID;
    // Read once: the output may lie over the record without changing the
    // conversion half-way through.
    const double x_scale = cal->x_scale, y_scale = cal->y_scale;
    const double x_origin = cal->x_origin, y_origin = cal->y_origin;
    for (uint32_t k = 0; k < n; ++k) {
        const double px = static_cast<double>(pixels[k].x);
        const double py = static_cast<double>(pixels[k].y);
        out[k].x = (px - x_origin) / x_scale;
        out[k].y = (py - y_origin) / y_scale;
    }
    return CAL_OK;
}
