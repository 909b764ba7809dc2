// ICalLookup / ICalLookupEx: convert runs of pixel samples of every layout
// into calibrated doubles or floats. Each sample layout has its own route;
// 8-bit and 16-bit samples index the table directly when it holds one entry
// per integer input, everything else goes through `interpolate_lookup`.
// Without a usable calibration the samples are converted unchanged.
#include "intensity/lookup.h"

#include <cstring>

namespace calmgr {
namespace {

template <class Out>
void store(void* out, uint64_t k, double v) {
    const Out o = static_cast<Out>(v);
    std::memcpy(static_cast<unsigned char*>(out) + k * sizeof(Out), &o, sizeof o);
}

template <class Sample>
Sample load(const void* samples, uint64_t k) {
    Sample s;
    std::memcpy(&s, static_cast<const unsigned char*>(samples) + k * sizeof(Sample), sizeof s);
    return s;
}

template <class Out>
void bits_to(const void* samples, uint64_t count, void* out, double clear, double set) {
    const auto* bytes = static_cast<const unsigned char*>(samples);
    for (uint64_t k = 0; k < count; ++k) {
        const bool bit = (bytes[k >> 3] >> (7 - (k & 7))) & 1u;
        store<Out>(out, k, bit ? set : clear);
    }
}

template <class Sample, class Out>
void direct_to(const IntensityCal* cal, const void* samples, uint64_t count, void* out) {
    const double* table = cal->table;
    const uint32_t last = cal->table_size - 1u;
    for (uint64_t k = 0; k < count; ++k) {
        const uint32_t s = load<Sample>(samples, k);
        store<Out>(out, k, table[s < last ? s : last]);  // 16-bit samples past a 4096-entry table
    }
}

template <class Sample, class Out>
void pass_to(const void* samples, uint64_t count, void* out) {
    for (uint64_t k = 0; k < count; ++k) store<Out>(out, k, static_cast<double>(load<Sample>(samples, k)));
}

template <class Sample>
void pass(const void* samples, uint64_t count, void* out, bool float_out) {
    if (float_out) {
        pass_to<Sample, float>(samples, count, out);
    } else {
        pass_to<Sample, double>(samples, count, out);
    }
}

// Integer routes: direct indexing when the table matches the sample width.
template <class Sample>
void lookup_int(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out,
                int16_t mode, uint16_t entries) {
    if (!usable(cal)) {
        pass<Sample>(samples, count, out, float_out);
    } else if (cal->direct_mode == mode && cal->table_size == entries) {
        if (float_out) {
            direct_to<Sample, float>(cal, samples, count, out);
        } else {
            direct_to<Sample, double>(cal, samples, count, out);
        }
    } else {
        interpolate_lookup(cal, samples, out, count, sizeof(Sample), float_out);
    }
}

}  // namespace

bool usable(const IntensityCal* cal) {
    return cal != nullptr && cal->cal_type != ICAL_TYPE_NONE && cal->table != nullptr && cal->table_size >= 2 &&
           cal->range_max > cal->range_min;
}

void lookup_bits(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    double clear = 0.0, set = 1.0;
    if (cal != nullptr && cal->cal_type != ICAL_TYPE_NONE && cal->table != nullptr && cal->table_size > 0) {
        clear = cal->table[0];
        set = cal->table[cal->table_size - 1];
    }
    if (float_out) {
        bits_to<float>(samples, count, out, clear, set);
    } else {
        bits_to<double>(samples, count, out, clear, set);
    }
}

void lookup_u8(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    lookup_int<uint8_t>(cal, samples, count, out, float_out, 1, 256);
}

void lookup_u16(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    lookup_int<uint16_t>(cal, samples, count, out, float_out, 2, 4096);
}

void lookup_f32(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (usable(cal)) {
        interpolate_lookup(cal, samples, out, count, 4, float_out);
    } else if (!float_out) {
        pass_to<float, double>(samples, count, out);
    } else if (out != samples) {  // float to float: the bytes unchanged
        std::memmove(out, samples, count * sizeof(float));
    }
}

void lookup_f64(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (usable(cal)) {
        interpolate_lookup(cal, samples, out, count, 8, float_out);
    } else if (float_out) {
        pass_to<double, float>(samples, count, out);
    } else if (out != samples) {
        std::memmove(out, samples, count * sizeof(double));
    }
}

int32_t lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out) {
    if (count == 0) return CAL_OK;
    if (samples == nullptr || out == nullptr) return CAL_ERR_INVALID;
    if (cal != nullptr && cal->cal_type == ICAL_TYPE_NONE) cal = nullptr;
    const bool float_out = (type & ICAL_LOOKUP_FLOAT) != 0;
    switch (type & 0xFFu) {
        case 0: lookup_bits(cal, samples, count, out, float_out); break;
        case 1:
        case 2: lookup_u8(cal, samples, count, out, float_out); break;
        case 3: lookup_u8(cal, samples, 3 * count, out, float_out); break;
        case 4:
        case 6: lookup_u16(cal, samples, count, out, float_out); break;
        case 5: lookup_f32(cal, samples, count, out, float_out); break;
        case 8:
        case 9: lookup_u16(cal, samples, 3 * count, out, float_out); break;
        default: lookup_f64(cal, samples, count, out, float_out); break;  // 7 and 10..255
    }
    return CAL_OK;
}

}  // namespace calmgr

extern "C" CALMGR_API int32_t ICalLookupEx(const IntensityCal* cal, uint32_t type, const void* samples,
                                           uint32_t count, void* out) {
    return calmgr::lookup(cal, type, samples, count, out);
}

extern "C" CALMGR_API int32_t ICalLookup(const IntensityCal* cal, uint32_t type, const void* samples,
                                         uint32_t count, void* out) {
    return calmgr::lookup(cal, type, samples, count & 0xFFFFu, out);
}
