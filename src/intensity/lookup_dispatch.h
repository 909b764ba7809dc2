// The part of a lookup call that does not depend on how the values are
// converted: refusing null buffers, treating type 3 as no calibration, and
// choosing the route and value count from the sample type code. The fast
// routes and the reference loops share it, so both read a call alike.
#pragma once

#include "intensity/ical.h"

namespace calmgr {

using LookupRoute = void (*)(const IntensityCal* cal, const void* samples, uint64_t count, void* out,
                             bool float_out);

// count is in pixels; the RGB layouts convert three values per pixel.
template <LookupRoute Bits, LookupRoute U8, LookupRoute U16, LookupRoute F32, LookupRoute F64>
int32_t dispatch_lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out) {
    if (count == 0) return CAL_OK;
    if (samples == nullptr || out == nullptr) return CAL_ERR_INVALID;
    if (cal != nullptr && cal->cal_type == ICAL_TYPE_NONE) cal = nullptr;
    const bool float_out = (type & ICAL_LOOKUP_FLOAT) != 0;
    switch (type & 0xFFu) {
        case 0: Bits(cal, samples, count, out, float_out); break;
        case 1:
        case 2: U8(cal, samples, count, out, float_out); break;
        case 3: U8(cal, samples, 3 * count, out, float_out); break;
        case 4:
        case 6: U16(cal, samples, count, out, float_out); break;
        case 5: F32(cal, samples, count, out, float_out); break;
        case 8:
        case 9: U16(cal, samples, 3 * count, out, float_out); break;
        default: F64(cal, samples, count, out, float_out); break;  // 7 and 10..255
    }
    return CAL_OK;
}

}  // namespace calmgr
