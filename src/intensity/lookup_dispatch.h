// The part of a lookup call that does not depend on how the values are
// converted: refusing null buffers, treating ICAL_TYPE_NONE as no
// calibration, and choosing the route and value count from the sample type
// code. The fast routes and the reference loops share it, so both read a
// call alike.
#pragma once

#include "intensity/ical.h"

namespace calmgr {

// Sample type codes that calmgr.h does not name: each reads as the named
// code beside it (and codes 10..255 read as ICAL_SAMPLE_F64).
constexpr uint32_t kSampleU8Alias = 2;       // as ICAL_SAMPLE_U8
constexpr uint32_t kSampleU16Alias = 6;      // as ICAL_SAMPLE_U16
constexpr uint32_t kSampleU16RgbAlias = 9;   // as ICAL_SAMPLE_U16_RGB
constexpr uint32_t kSampleCodeMask = 0xFFu;  // the code's bits in a lookup type
constexpr uint64_t kRgbValues = 3;           // values per pixel of the RGB layouts

using LookupRoute = void (*)(const IntensityCal* cal, const void* samples, uint64_t count, void* out,
                             bool float_out);

// count is in pixels; the RGB layouts convert three values per pixel.
template <LookupRoute Bits, LookupRoute U8, LookupRoute U16, LookupRoute F32, LookupRoute F64>
int32_t dispatch_lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out) {
    if (count == 0) return CAL_OK;
    if (samples == nullptr || out == nullptr) return CAL_ERR_INVALID;
    if (cal != nullptr && cal->cal_type == ICAL_TYPE_NONE) cal = nullptr;
    const bool float_out = (type & ICAL_LOOKUP_FLOAT) != 0;
    switch (type & kSampleCodeMask) {
        case ICAL_SAMPLE_BITS: Bits(cal, samples, count, out, float_out); break;
        case ICAL_SAMPLE_U8:
        case kSampleU8Alias: U8(cal, samples, count, out, float_out); break;
        case ICAL_SAMPLE_U8_RGB: U8(cal, samples, kRgbValues * count, out, float_out); break;
        case ICAL_SAMPLE_U16:
        case kSampleU16Alias: U16(cal, samples, count, out, float_out); break;
        case ICAL_SAMPLE_F32: F32(cal, samples, count, out, float_out); break;
        case ICAL_SAMPLE_U16_RGB:
        case kSampleU16RgbAlias: U16(cal, samples, kRgbValues * count, out, float_out); break;
        default: F64(cal, samples, count, out, float_out); break;  // ICAL_SAMPLE_F64 and 10..255
    }
    return CAL_OK;
}

}  // namespace calmgr
