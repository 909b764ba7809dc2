// Where samples fall against a calibrated range, a cache-sized chunk at a
// time: counts of the values below, above and NaN, and the outputs' patch
// for the NaN policies. One table of loops per instruction-set level
// (lookup_classify_loops.h), chosen with the lookup kernels' level. The
// records here are plain data: no function is shared between code built
// for different levels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace calmgr::classify {

struct Counts {
    uint64_t below = 0, above = 0, nan = 0;
};

// Integer samples of type T against the range: below means s < lo, above
// s > hi (lo and hi within T's values), or every sample is below or above
// (a range that holds no integer of T on that side).
template <class T>
struct IntRange {
    enum class Kind { window, all_below, all_above };
    T lo = 0, hi = 0;
    Kind kind = Kind::window;
};

// Floating samples of type F: below x < lo, above x > hi, NaN x != x.
template <class F>
struct FloatRange {
    F lo, hi;
};

// The patch of converted outputs: a canonical NaN where the sample lies
// below lo or above hi (outside_nan), the sample itself converted to the
// output type where it is NaN (propagate). The limits are in the type the
// comparison runs in: double, or float where both the samples and the
// outputs fit a float (limits rounded as FloatRange's are).
struct Patch {
    double lo, hi;
    float lo_f, hi_f;
    int64_t lo_i, hi_i;  // integer samples: inside from lo_i to hi_i (lo_i above hi_i: none)
    IntRange<uint8_t> u8;   // the same for counting 8-bit and 16-bit samples
    IntRange<uint16_t> u16;
    bool outside_nan, propagate;
};

// The patch of n outputs at out (double or float) of the samples at in:
// every output is read and rewritten in place (out is in the cache), or,
// with stream_to, written there past the cache (out may then change too).
// Returns the samples' counts when `counted`, else zeros.
using PatchFn = Counts (*)(const void* in, void* out, size_t n, const Patch& p, bool counted, void* stream_to);

// One instruction-set level's loops. count_*: n samples at p.
struct Ops {
    Counts (*count_u8)(const void* p, size_t n, IntRange<uint8_t> r);
    Counts (*count_u16)(const void* p, size_t n, IntRange<uint16_t> r);
    // As count_u16, with the samples equal to r.hi in Counts::nan.
    Counts (*count_u16_top)(const void* p, size_t n, IntRange<uint16_t> r);
    Counts (*count_f32)(const void* p, size_t n, FloatRange<float> r);
    Counts (*count_f64)(const void* p, size_t n, FloatRange<double> r);
    // [sample: u8, u16, f32, f64][output: double, float]
    PatchFn patch[4][2];
    // Each of n 16-bit samples equal to `sample` gets the output `value`
    // (out_size bytes), the others are left alone; `expected` is how many
    // there are.
    void (*put_where_u16)(const void* in, void* out, size_t n, uint16_t sample, const void* value, size_t out_size,
                          uint64_t expected);
};

// The baseline's loops, and the AVX2 loops (null where the build has none).
const Ops& baseline_ops();
const Ops* avx2_ops();

// The loops of the lookup kernels' level.
const Ops& active_ops();

}  // namespace calmgr::classify
