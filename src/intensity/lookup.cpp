// ICalLookup / ICalLookupEx: convert runs of pixel samples of every layout
// into calibrated doubles or floats. Each route picks, per call, the
// fastest way to the result the plain formula gives: the kernel set of
// the processor's instruction-set level, a table evaluated once per call
// for the 256 codes of 8-bit samples, a table rounded to float once per
// call for float output, and stores that bypass the caches for outputs
// past the last-level cache's share. Without a usable calibration the
// samples are converted unchanged.
#include "intensity/lookup.h"
#include "intensity/lookup_dispatch.h"

#include <cstring>

namespace calmgr {
namespace {

// Below this run length a vector kernel's call and latency (and a loop
// the compiler vectorised for long runs) cost more than the plain loop for
// direct tables, which then serves.
constexpr uint64_t kShortRun = 32;

// Short runs on a direct table: indexing inline, with no kernel call or
// set-up to pay for. 16-bit samples past the table take its last entry.
template <class Sample>
void index_short(const double* table, uint32_t last, const void* samples, uint64_t count, void* out,
                 bool float_out) {
    const auto* in = static_cast<const unsigned char*>(samples);
    for (uint64_t k = 0; k < count; ++k) {
        Sample s;
        std::memcpy(&s, in + k * sizeof s, sizeof s);
        const double v = table[s < last ? s : last];
        if (float_out) {
            const auto f = static_cast<float>(v);
            std::memcpy(static_cast<unsigned char*>(out) + k * sizeof f, &f, sizeof f);
        } else {
            std::memcpy(static_cast<unsigned char*>(out) + k * sizeof v, &v, sizeof v);
        }
    }
}

// The eight-bit codes in order, the input that evaluates a whole 8-bit table.
struct Codes {
    uint8_t v[256];
    constexpr Codes() : v() {
        for (int i = 0; i < 256; ++i) v[i] = static_cast<uint8_t>(i);
    }
};
constexpr Codes kCodes;

}  // namespace

void eval_codes(const kern::Kernels& k, const IntensityCal* cal, double codes[256]) {
    k.interp_d[0](grid_of(cal), kCodes.v, codes, 256, false);
}

namespace {

// Float output of a direct table on a long run: the table is rounded to
// float once (on the stack, kept out of the short paths' frames) and the
// samples index the rounded copy.
template <size_t N>
__attribute__((noinline)) void index_rounded(kern::Index8FFn index, const kern::Kernels& k, const double* table,
                                             const void* samples, uint64_t count, void* out, bool nt) {
    float rounded[N];
    k.round_f(table, rounded, N, false);
    index(rounded, samples, out, count, nt);
}

// 8-bit samples on an interpolating table, long run: the formula is
// evaluated once for each of the 256 codes, then the samples index those
// results (rounded to float first for float output).
__attribute__((noinline)) void lookup_u8_by_codes(const kern::Kernels& k, const IntensityCal* cal,
                                                  const void* samples, uint64_t count, void* out, bool float_out,
                                                  bool nt) {
    double codes[256];
    eval_codes(k, cal, codes);
    if (float_out) {
        index_rounded<256>(k.index_u8_f, k, codes, samples, count, out, nt);
    } else {
        k.index_u8_d(codes, samples, out, count, nt);
    }
}

}  // namespace

bool direct(const IntensityCal* cal, int16_t mode, uint16_t entries) {
    return cal->direct_mode == mode && cal->table_size == entries;
}

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
    const kern::Kernels& k = kern::active();
    if (float_out) {
        k.bits_f(static_cast<float>(clear), static_cast<float>(set), samples, out, count, streamed(count, 4));
    } else {
        k.bits_d(clear, set, samples, out, count, streamed(count, 8));
    }
}

void lookup_u8(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (count < kShortRun && usable(cal) && direct(cal, kDirectU8, kDirectU8Entries)) {
        index_short<uint8_t>(cal->table, kDirectU8Entries - 1, samples, count, out, float_out);
        return;
    }
    const kern::Kernels& k = kern::active();
    const bool nt = streamed(count, float_out ? 4 : 8);
    if (!usable(cal)) {
        (float_out ? k.u8_f : k.u8_d)(samples, out, count, nt);
    } else if (!direct(cal, kDirectU8, kDirectU8Entries)) {
        if (count < kCodes8Run) {
            interpolate_lookup(cal, samples, out, count, 1, float_out);
        } else {
            lookup_u8_by_codes(k, cal, samples, count, out, float_out, nt);
        }
    } else if (!float_out) {
        k.index_u8_d(cal->table, samples, out, count, nt);
    } else if (count < kFloat8Run) {
        k.index_u8_df(cal->table, samples, out, count, nt);
    } else {
        index_rounded<kDirectU8Entries>(k.index_u8_f, k, cal->table, samples, count, out, nt);
    }
}

void lookup_u16(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (count < kShortRun && usable(cal) && direct(cal, kDirectU16, kDirectU16Entries)) {
        index_short<uint16_t>(cal->table, kDirectU16Entries - 1, samples, count, out, float_out);
        return;
    }
    const kern::Kernels& k = kern::active();
    const bool nt = streamed(count, float_out ? 4 : 8);
    if (!usable(cal)) {
        (float_out ? k.u16_f : k.u16_d)(samples, out, count, nt);
    } else if (!direct(cal, kDirectU16, kDirectU16Entries)) {
        interpolate_lookup(cal, samples, out, count, 2, float_out);
    } else if (!float_out) {
        k.index_u16_d(cal->table, samples, out, count, nt);
    } else if (count < kFloat16Run) {
        k.index_u16_df(cal->table, samples, out, count, nt);
    } else {
        index_rounded<kDirectU16Entries>(k.index_u16_f, k, cal->table, samples, count, out, nt);
    }
}

void lookup_f32(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (usable(cal)) {
        interpolate_lookup(cal, samples, out, count, 4, float_out);
    } else if (!float_out) {
        kern::active().f32_d(samples, out, count, streamed(count, 8));
    } else if (out != samples) {  // float to float: the bytes unchanged
        std::memmove(out, samples, count * sizeof(float));
    }
}

void lookup_f64(const IntensityCal* cal, const void* samples, uint64_t count, void* out, bool float_out) {
    if (usable(cal)) {
        interpolate_lookup(cal, samples, out, count, 8, float_out);
    } else if (float_out) {
        kern::active().f64_f(samples, out, count, streamed(count, 4));
    } else if (out != samples) {
        std::memmove(out, samples, count * sizeof(double));
    }
}

int32_t lookup(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out) {
    return dispatch_lookup<lookup_bits, lookup_u8, lookup_u16, lookup_f32, lookup_f64>(cal, type, samples, count,
                                                                                        out);
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
