// ICalLookupPolicy: ICalLookupEx with a 64-bit count, counts of the values
// below, above and NaN, and NaN for the values outside the range or for NaN
// samples when asked. The plain policy without counts is ICalLookupEx's
// own path. Otherwise a run goes a chunk at a time through the route's own
// kernel; the chunk's samples, just brought into the cache by the kernel,
// are then counted, and under a NaN policy the chunk's outputs patched in
// the same pass. Eight-bit samples need no patch: their per-call table of
// the 256 codes takes the NaN itself, as a direct 16-bit table's copy
// takes it for the samples past its end.
#include "intensity/lookup.h"
#include "intensity/lookup_classify.h"
#include "intensity/lookup_dispatch.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace calmgr {
namespace {

using classify::Counts;

void add(Counts& total, const Counts& c) {
    total.below += c.below;
    total.above += c.above;
    total.nan += c.nan;
}

// Values per chunk: the samples and outputs of a chunk of doubles fit the
// first-level cache together.
constexpr size_t kChunk = 2048;
// Values per scratch block on long runs under a patching policy: small
// enough that its copy out drains while the kernel works on the next.
constexpr size_t kStreamBlock = 256;

struct Policy {
    bool outside_nan, propagate, counted;
};

// Samples of type S converted to outputs of type O chunk by chunk: `run`
// converts a chunk with the route's kernel; then, on the samples it has
// just brought into the cache, `patch(samples, outputs, m, stream_to)`
// applies the policy to the chunk's outputs (and counts), or, with no
// patching policy, `count` counts them. Long runs (nt) store past the
// cache: the kernel does so itself when nothing is patched; under a
// patching policy it fills a small scratch block instead, which the patch
// writes out past the cache while the kernel works on the next.
template <class S, class O, class Run, class Count, class PatchFn>
Counts by_chunks(const void* samples, uint64_t n, void* out, bool nt, const Policy& p, Run run, Count count,
                 PatchFn patch) {
    const auto* in = static_cast<const unsigned char*>(samples);
    auto* o = static_cast<unsigned char*>(out);
    const bool patching = p.outside_nan || p.propagate;
    const auto addr = reinterpret_cast<uintptr_t>(out);
    Counts total;
    if (nt && patching && addr % sizeof(O) == 0) {
        alignas(64) unsigned char scratch[kStreamBlock * sizeof(O)];
        // Blocks end on the outputs' cache lines, so that each copy fills
        // whole lines.
        const size_t lead = (64 - addr % 64) % 64 / sizeof(O);
        for (uint64_t k = 0; k < n;) {
            const size_t want = k == 0 && lead != 0 ? lead : kStreamBlock;
            const size_t m = n - k < want ? static_cast<size_t>(n - k) : want;
            const unsigned char* bi = in + k * sizeof(S);
            run(bi, scratch, m, false);
            add(total, patch(bi, scratch, m, o + k * sizeof(O)));  // in place: written after the samples' last read
            k += m;
        }
        return total;
    }
    // Converted in place, the samples are gone once the kernel has run.
    const bool in_place = samples == out;
    alignas(64) unsigned char saved[kChunk * sizeof(S)];
    for (uint64_t k = 0; k < n; k += kChunk) {
        const size_t m = n - k < kChunk ? static_cast<size_t>(n - k) : kChunk;
        const unsigned char* ci = in + k * sizeof(S);
        unsigned char* co = o + k * sizeof(O);
        const unsigned char* seen = ci;
        if (in_place) {
            std::memcpy(saved, ci, m * sizeof(S));
            seen = saved;
        }
        run(ci, co, m, nt);
        add(total, patching ? patch(seen, co, m, nullptr) : count(seen, m));
    }
    return total;
}

// The classes of integer samples of type T (8 or 16 bits) for the
// inside range first..last of Patch::lo_i/hi_i.
template <class T>
classify::IntRange<T> int_range(int64_t first, int64_t last) {
    using R = classify::IntRange<T>;
    constexpr int64_t top = std::numeric_limits<T>::max();
    R r;
    if (first > top) {
        r.kind = R::Kind::all_below;
    } else if (last < 0) {
        r.kind = R::Kind::all_above;
    } else {
        r.lo = static_cast<T>(first);
        r.hi = static_cast<T>(last < top ? last : top);
    }
    return r;
}

// Float samples compare with the double limits as floats: lo becomes the
// least float not below it, hi the greatest float not above it, so that
// x < lo and x > hi give what the comparison of x widened to double gives.
classify::FloatRange<float> float_range(double lo, double hi) {
    float l = static_cast<float>(lo), h = static_cast<float>(hi);
    if (static_cast<double>(l) < lo) l = std::nextafter(l, std::numeric_limits<float>::infinity());
    if (static_cast<double>(h) > hi) h = std::nextafter(h, -std::numeric_limits<float>::infinity());
    return {l, h};
}

// The range of a usable calibration in every form the loops compare with.
classify::Patch patch_of(const IntensityCal* cal, const Policy& p) {
    const double lo = cal->range_min, hi = cal->range_max;
    const classify::FloatRange<float> f = float_range(lo, hi);
    // Integer samples (0..65535) inside: from ceil(lo) to floor(hi), held in
    // -1..65536 so that no conversion leaves its range.
    const double first = std::ceil(lo), last = std::floor(hi);
    const auto lo_i = static_cast<int64_t>(first < 0.0 ? 0.0 : (first > 65536.0 ? 65536.0 : first));
    const auto hi_i = static_cast<int64_t>(last < -1.0 ? -1.0 : (last > 65535.0 ? 65535.0 : last));
    return {lo,   hi, f.lo, f.hi, lo_i, hi_i, int_range<uint8_t>(lo_i, hi_i), int_range<uint16_t>(lo_i, hi_i),
            p.outside_nan, p.propagate};
}

// Whether no integer sample of type T can lie outside the patch's range.
template <class T>
bool all_inside(const classify::Patch& patch) {
    return patch.lo_i <= 0 && patch.hi_i >= std::numeric_limits<T>::max();
}

// Converts a run of samples S to outputs O through `run`, counted by
// `count` and patched by the level's loops where the policy asks.
template <class S, class O, class Count, class Run>
Counts convert(const void* in, uint64_t n, void* out, const Policy& p, const classify::Patch& patch, bool nt,
               Count count, Run run) {
    constexpr int s_index = std::is_same_v<S, uint8_t> ? 0 : std::is_same_v<S, uint16_t> ? 1
                            : std::is_same_v<S, float> ? 2 : 3;
    const classify::PatchFn patch_fn = classify::active_ops().patch[s_index][std::is_same_v<O, float> ? 1 : 0];
    return by_chunks<S, O>(in, n, out, nt, p, run, count,
                           [&](const unsigned char* ci, unsigned char* co, size_t m, unsigned char* stream_to) {
                               return patch_fn(ci, co, m, patch, p.counted, stream_to);
                           });
}

template <class S, class Count, class Run>
Counts convert_to(bool float_out, const void* in, uint64_t n, void* out, const Policy& p,
                  const classify::Patch& patch, Count count, Run run) {
    const bool nt = streamed(n, float_out ? 4 : 8);
    return float_out ? convert<S, float>(in, n, out, p, patch, nt, count, run)
                     : convert<S, double>(in, n, out, p, patch, nt, count, run);
}

Counts policy_u8(const IntensityCal* cal, const void* in, uint64_t n, void* out, bool float_out, Policy p) {
    p.propagate = false;  // integers are never NaN
    // Without a calibration, or on a range holding every code (a direct
    // table's), nothing is outside; nor is anything asked without the NaN
    // policy for outside values or counts.
    if (!usable(cal) || all_inside<uint8_t>(patch_of(cal, p)) || !(p.outside_nan || p.counted)) {
        lookup_u8(cal, in, n, out, float_out);
        return {};
    }
    const kern::Kernels& k = kern::active();
    const classify::Patch patch = patch_of(cal, p);
    const auto count_fn = classify::active_ops().count_u8;
    const auto count = [&](const unsigned char* c, size_t m) { return count_fn(c, m, patch.u8); };
    if (n < kCodes8Run) {
        const kern::Grid g = grid_of(cal);
        const kern::InterpFn interp = (float_out ? k.interp_f : k.interp_d)[0];
        return convert_to<uint8_t>(float_out, in, n, out, p, patch, count,
                                   [&](const void* i, void* o, size_t m, bool nt) { interp(g, i, o, m, nt); });
    }
    // The 256 codes' results, NaN for the codes outside, indexed by the
    // samples: nothing is left to patch.
    double codes[256];
    eval_codes(k, cal, codes);
    if (p.outside_nan) {
        for (int c = 0; c < 256; ++c) {
            if (c < patch.lo || c > patch.hi) codes[c] = std::numeric_limits<double>::quiet_NaN();
        }
    }
    const Policy counted{false, false, p.counted};
    if (!p.counted) {
        // Only the table changes: the route's own indexing, in one call.
        if (float_out) {
            float rounded[256];
            k.round_f(codes, rounded, 256, false);
            k.index_u8_f(rounded, in, out, n, streamed(n, 4));
        } else {
            k.index_u8_d(codes, in, out, n, streamed(n, 8));
        }
        return {};
    }
    if (float_out) {
        float rounded[256];
        k.round_f(codes, rounded, 256, false);
        return convert_to<uint8_t>(true, in, n, out, counted, patch, count,
                                   [&](const void* i, void* o, size_t m, bool nt) { k.index_u8_f(rounded, i, o, m, nt); });
    }
    return convert_to<uint8_t>(false, in, n, out, counted, patch, count,
                               [&](const void* i, void* o, size_t m, bool nt) { k.index_u8_d(codes, i, o, m, nt); });
}

// A direct 16-bit table on a long run with NaN for the samples past its
// end: the kernel indexes a copy of the table whose last entry is NaN (it
// takes every sample from 4095 on to the last entry), and the few samples
// of exactly 4095 get the last entry back.
template <class O>
Counts direct16_outside_nan(const IntensityCal* cal, const void* in, uint64_t n, void* out,
                            classify::IntRange<uint16_t> range) {
    const kern::Kernels& k = kern::active();
    const classify::Ops& ops = classify::active_ops();
    constexpr O nan = std::numeric_limits<O>::quiet_NaN();
    const O last = static_cast<O>(cal->table[4095]);
    O table[4096];
    if constexpr (std::is_same_v<O, float>) {
        k.round_f(cal->table, table, 4095, false);
    } else {
        std::memcpy(table, cal->table, 4095 * sizeof(double));
    }
    table[4095] = nan;
    const bool nt = streamed(n, sizeof(O));
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    Counts total;
    for (uint64_t j = 0; j < n; j += kChunk) {
        const size_t m = n - j < kChunk ? static_cast<size_t>(n - j) : kChunk;
        const unsigned char* ci = ip + 2 * j;
        unsigned char* co = op + j * sizeof(O);
        if constexpr (std::is_same_v<O, float>) {
            k.index_u16_f(table, ci, co, m, nt);
        } else {
            k.index_u16_d(table, ci, co, m, nt);
        }
        Counts c = ops.count_u16_top(ci, m, range);
        // The samples of exactly 4095 get the last entry back.
        if (c.nan != 0) ops.put_where_u16(ci, co, m, 4095, &last, sizeof(O), c.nan);
        c.nan = 0;
        add(total, c);
    }
    return total;
}

Counts policy_u16(const IntensityCal* cal, const void* in, uint64_t n, void* out, bool float_out, Policy p) {
    p.propagate = false;  // integers are never NaN
    if (!usable(cal) || all_inside<uint16_t>(patch_of(cal, p)) || !(p.outside_nan || p.counted)) {
        lookup_u16(cal, in, n, out, float_out);
        return {};
    }
    const kern::Kernels& k = kern::active();
    const classify::Patch patch = patch_of(cal, p);
    const auto count_fn = classify::active_ops().count_u16;
    const auto count = [&](const unsigned char* c, size_t m) { return count_fn(c, m, patch.u16); };
    if (!direct(cal, 2, 4096)) {
        const kern::Grid g = grid_of(cal);
        const kern::InterpFn interp = (float_out ? k.interp_f : k.interp_d)[1];
        return convert_to<uint16_t>(float_out, in, n, out, p, patch, count,
                                    [&](const void* i, void* o, size_t m, bool nt) { interp(g, i, o, m, nt); });
    }
    if (p.outside_nan && n >= kFloat16Run) {
        return float_out ? direct16_outside_nan<float>(cal, in, n, out, patch.u16)
                         : direct16_outside_nan<double>(cal, in, n, out, patch.u16);
    }
    const double* table = cal->table;
    if (!float_out || n < kFloat16Run) {
        const kern::Index8DFn index = float_out ? k.index_u16_df : k.index_u16_d;
        return convert_to<uint16_t>(float_out, in, n, out, p, patch, count,
                                    [&](const void* i, void* o, size_t m, bool nt) { index(table, i, o, m, nt); });
    }
    float rounded[4096];
    k.round_f(table, rounded, 4096, false);
    return convert_to<uint16_t>(true, in, n, out, p, patch, count, [&](const void* i, void* o, size_t m, bool nt) {
        k.index_u16_f(rounded, i, o, m, nt);
    });
}

// Float (F = float) and double (F = double) samples.
template <class F>
Counts policy_float(const IntensityCal* cal, const void* in, uint64_t n, void* out, bool float_out,
                    const Policy& p) {
    constexpr bool single = sizeof(F) == 4;
    const kern::Kernels& k = kern::active();
    const classify::Ops& ops = classify::active_ops();
    if (!usable(cal)) {
        // Values pass unchanged: nothing is outside, and a NaN stays itself.
        if (!p.counted) {
            (single ? lookup_f32 : lookup_f64)(cal, in, n, out, float_out);
            return {};
        }
        const F inf = std::numeric_limits<F>::infinity();
        const classify::FloatRange<F> none{-inf, inf};
        const auto count = [&](const unsigned char* c, size_t m) {
            if constexpr (single) {
                return ops.count_f32(c, m, none);
            } else {
                return ops.count_f64(c, m, none);
            }
        };
        const kern::ConvFn widen = single ? k.f32_d : k.f64_f;
        const bool same = float_out == single;
        return convert_to<F>(float_out, in, n, out, Policy{false, false, true}, classify::Patch{}, count,
                             [&](const void* i, void* o, size_t m, bool nt) {
                                 if (!same) {
                                     widen(i, o, m, nt);
                                 } else if (o != i) {
                                     std::memmove(o, i, m * sizeof(F));
                                 }
                             });
    }
    const classify::Patch patch = patch_of(cal, p);
    const auto count = [&](const unsigned char* c, size_t m) {
        if constexpr (single) {
            return ops.count_f32(c, m, {patch.lo_f, patch.hi_f});
        } else {
            return ops.count_f64(c, m, {patch.lo, patch.hi});
        }
    };
    const kern::Grid g = grid_of(cal);
    const kern::InterpFn interp = (float_out ? k.interp_f : k.interp_d)[single ? 2 : 3];
    return convert_to<F>(float_out, in, n, out, p, patch, count,
                         [&](const void* i, void* o, size_t m, bool nt) { interp(g, i, o, m, nt); });
}

}  // namespace

int32_t lookup_policy(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, void* out,
                      uint32_t policy, CalLookupStats* stats) {
    if ((policy & ~uint32_t{ICAL_POLICY_OUTSIDE_NAN | ICAL_POLICY_NAN_PROPAGATE}) != 0) return CAL_ERR_INVALID;
    if (count != 0 && (samples == nullptr || out == nullptr)) return CAL_ERR_INVALID;
    // A run whose buffers could not exist in memory (three values per RGB pixel, eight bytes each at most).
    if (count > UINT64_MAX / 3 || route_of(type, count).values > SIZE_MAX / 8) return CAL_ERR_INVALID;
    if (policy == ICAL_POLICY_CLAMP && stats == nullptr) return lookup(cal, type, samples, count, out);

    Counts c;
    if (count != 0) {
        cal = calibration_of(cal);
        const bool float_out = (type & ICAL_LOOKUP_FLOAT) != 0;
        const Policy p{(policy & ICAL_POLICY_OUTSIDE_NAN) != 0, (policy & ICAL_POLICY_NAN_PROPAGATE) != 0,
                       stats != nullptr};
        const RouteCall call = route_of(type, count);
        switch (call.route) {
            case Route::bits: lookup_bits(cal, samples, call.values, out, float_out); break;  // never outside
            case Route::u8: c = policy_u8(cal, samples, call.values, out, float_out, p); break;
            case Route::u16: c = policy_u16(cal, samples, call.values, out, float_out, p); break;
            case Route::f32: c = policy_float<float>(cal, samples, call.values, out, float_out, p); break;
            case Route::f64: c = policy_float<double>(cal, samples, call.values, out, float_out, p); break;
        }
    }
    if (stats != nullptr) *stats = CalLookupStats{c.below, c.above, c.nan};
    return CAL_OK;
}

}  // namespace calmgr

extern "C" CALMGR_API int32_t ICalLookupPolicy(const IntensityCal* cal, uint32_t type, const void* samples,
                                               uint64_t count, void* out, uint32_t policy, CalLookupStats* stats) {
    return calmgr::lookup_policy(cal, type, samples, count, out, policy, stats);
}
