// The plain lookup loops: one straightforward loop per route, written
// directly from the formulas. They are the reference for the fast routes
// (which must give the same bits) and for the benchmarks, and are linked
// only into those, never into the library.
#include "support/lookup_reference.h"

#include "intensity/lookup.h"
#include "intensity/lookup_dispatch.h"

#include <cmath>
#include <cstring>

namespace calmgr::ref {
namespace {

template <class Sample, class Out>
void interpolate(const IntensityCal* cal, const unsigned char* samples, unsigned char* out, uint64_t count) {
    const double* table = cal->table;
    const uint32_t last = cal->table_size - 1u;
    const double lo = cal->range_min, hi = cal->range_max;
    const double scale = static_cast<double>(last) / (hi - lo);
    const double last_t = static_cast<double>(last);
    for (uint64_t k = 0; k < count; ++k) {
        Sample s;
        std::memcpy(&s, samples + k * sizeof(Sample), sizeof s);  // read before out[k] is written
        const double x = static_cast<double>(s);
        double r;
        if (!(x >= lo)) {
            r = table[0];
        } else if (x > hi) {
            r = table[last];
        } else {
            const double t = (x - lo) * scale;
            if (std::isnan(t)) {
                r = table[0];
            } else if (t >= last_t) {
                r = table[last];
            } else {
                const auto i = static_cast<uint32_t>(t);
                r = table[i] + (t - std::floor(t)) * (table[i + 1] - table[i]);
            }
        }
        const Out o = static_cast<Out>(r);
        std::memcpy(out + k * sizeof(Out), &o, sizeof o);
    }
}

template <class Sample>
void interpolate_to(const IntensityCal* cal, const void* samples, void* out, uint64_t count, int float_out) {
    const auto* in = static_cast<const unsigned char*>(samples);
    auto* o = static_cast<unsigned char*>(out);
    if (float_out) {
        interpolate<Sample, float>(cal, in, o, count);
    } else {
        interpolate<Sample, double>(cal, in, o, count);
    }
}

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
        ref::interpolate_lookup(cal, samples, out, count, sizeof(Sample), float_out);
    }
}

}  // namespace

void interpolate_lookup(const IntensityCal* cal, const void* samples, void* out, uint64_t count, int width,
                        int float_out) {
    if (cal == nullptr || cal->table == nullptr || cal->table_size == 0) return;
    switch (width) {
        case 1: interpolate_to<uint8_t>(cal, samples, out, count, float_out); break;
        case 2: interpolate_to<uint16_t>(cal, samples, out, count, float_out); break;
        case 4: interpolate_to<float>(cal, samples, out, count, float_out); break;
        case 8: interpolate_to<double>(cal, samples, out, count, float_out); break;
        default: break;
    }
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
    lookup_int<uint8_t>(cal, samples, count, out, float_out, kDirectU8, kDirectU8Entries);
}

void lookup_u16(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    lookup_int<uint16_t>(cal, samples, count, out, float_out, kDirectU16, kDirectU16Entries);
}

void lookup_f32(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (usable(cal)) {
        ref::interpolate_lookup(cal, samples, out, count, 4, float_out);
    } else if (!float_out) {
        pass_to<float, double>(samples, count, out);
    } else if (out != samples) {  // float to float: the bytes unchanged
        std::memmove(out, samples, count * sizeof(float));
    }
}

void lookup_f64(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (usable(cal)) {
        ref::interpolate_lookup(cal, samples, out, count, 8, float_out);
    } else if (float_out) {
        pass_to<double, float>(samples, count, out);
    } else if (out != samples) {
        std::memmove(out, samples, count * sizeof(double));
    }
}

int32_t lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out) {
    return dispatch_lookup<lookup_bits, lookup_u8, lookup_u16, lookup_f32, lookup_f64>(cal, type, samples, count,
                                                                                        out);
}

}  // namespace calmgr::ref
