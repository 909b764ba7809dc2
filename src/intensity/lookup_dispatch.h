// The part of a lookup call that does not depend on how the values are
// converted: refusing null buffers, treating ICAL_TYPE_NONE as no
// calibration, and choosing the route and value count from the sample type
// code. The fast routes, the reference loops and the policy lookups share
// it, so all read a call alike.
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

enum class Route { bits, u8, u16, f32, f64 };

// The route a sample type code selects and the values it converts for
// count pixels (three per pixel for the RGB layouts).
struct RouteCall {
    Route route;
    uint64_t values;
};

inline RouteCall route_of(uint32_t type, uint64_t count) {
    switch (type & kSampleCodeMask) {
        case ICAL_SAMPLE_BITS: return {Route::bits, count};
        case ICAL_SAMPLE_U8:
        case kSampleU8Alias: return {Route::u8, count};
        case ICAL_SAMPLE_U8_RGB: return {Route::u8, kRgbValues * count};
        case ICAL_SAMPLE_U16:
        case kSampleU16Alias: return {Route::u16, count};
        case ICAL_SAMPLE_F32: return {Route::f32, count};
        case ICAL_SAMPLE_U16_RGB:
        case kSampleU16RgbAlias: return {Route::u16, kRgbValues * count};
        default: return {Route::f64, count};  // ICAL_SAMPLE_F64 and 10..255
    }
}

// A calibration of type ICAL_TYPE_NONE is no calibration for every route.
inline const IntensityCal* calibration_of(const IntensityCal* cal) {
    return cal != nullptr && cal->cal_type == ICAL_TYPE_NONE ? nullptr : cal;
}

// count is in pixels.
template <LookupRoute Bits, LookupRoute U8, LookupRoute U16, LookupRoute F32, LookupRoute F64>
int32_t dispatch_lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out) {
    if (count == 0) return CAL_OK;
    if (samples == nullptr || out == nullptr) return CAL_ERR_INVALID;
    cal = calibration_of(cal);
    const bool float_out = (type & ICAL_LOOKUP_FLOAT) != 0;
    const RouteCall call = route_of(type, count);
    switch (call.route) {
        case Route::bits: Bits(cal, samples, call.values, out, float_out); break;
        case Route::u8: U8(cal, samples, call.values, out, float_out); break;
        case Route::u16: U16(cal, samples, call.values, out, float_out); break;
        case Route::f32: F32(cal, samples, call.values, out, float_out); break;
        case Route::f64: F64(cal, samples, call.values, out, float_out); break;
    }
    return CAL_OK;
}

}  // namespace calmgr
