// The fast lookup kernels: one set per instruction-set level (portable,
// SSE2, AVX2, AVX-512), each compiled in its own file with its own flags and chosen
// once per process from the processor's features. Kernels see only plain
// data (table pointers, the grid, raw buffers) so that no inline function
// compiled for a higher level can be shared with code that runs anywhere.
// Buffers may have any alignment; `nt` asks for non-temporal stores where
// the output allows them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace calmgr::kern {

// The interpolation grid of one call: the scale is computed once, as the
// plain formula does, and every kernel evaluates the same expressions.
struct Grid {
    const double* table;
    uint32_t last;   // table_size - 1, at least 1
    double lo, hi;   // range_min, range_max
    double scale;    // last / (hi - lo)
    double last_t;   // last as a double
    // Finite limits and a finite positive scale: then t is finite, never
    // NaN, for every value inside the range, and kernels may skip that test.
    bool finite;
};

enum class Isa : int { portable = 0, sse2 = 1, avx2 = 2, avx512 = 3 };

using InterpFn = void (*)(const Grid& g, const void* in, void* out, size_t n, bool nt);
using Index8DFn = void (*)(const double* table, const void* in, void* out, size_t n, bool nt);
using Index8FFn = void (*)(const float* table, const void* in, void* out, size_t n, bool nt);
using BitsDFn = void (*)(double clear, double set, const void* in, void* out, size_t n, bool nt);
using BitsFFn = void (*)(float clear, float set, const void* in, void* out, size_t n, bool nt);
using ConvFn = void (*)(const void* in, void* out, size_t n, bool nt);

struct Kernels {
    Isa isa;
    // Interpolation by input width (0: u8, 1: u16, 2: f32, 3: f64), writing
    // doubles or floats. Value k is read before output k is written.
    InterpFn interp_d[4];
    InterpFn interp_f[4];
    // Direct indexing: u8 samples into a 256-entry table; u16 samples into
    // a 4096-entry table, samples past its end taking the last entry.
    Index8DFn index_u8_d;
    Index8FFn index_u8_f;
    Index8DFn index_u16_d;
    Index8FFn index_u16_f;
    // Direct indexing into doubles, each rounded to float as it is read:
    // for runs too short to round the whole table first.
    Index8DFn index_u8_df;
    Index8DFn index_u16_df;
    // Bit-packed samples, most significant bit first: n is in pixels.
    BitsDFn bits_d;
    BitsFFn bits_f;
    // Unchanged conversions.
    ConvFn u8_d, u8_f, u16_d, u16_f, f32_d, f64_f;
    // Doubles rounded to floats, for tables rounded once per call.
    ConvFn round_f;
};

const Kernels& portable_kernels();
// Null where the build or the target has no such level.
const Kernels* sse2_kernels();
const Kernels* avx2_kernels();
// AVX-512 (F, BW, VL, DQ): only in builds with CALMGR_AVX512=ON.
const Kernels* avx512_kernels();

// The set of a level: null where the build or the target has none.
const Kernels* kernels_for(Isa level);

// The level's name: "portable", "sse2", "avx2" or "avx512".
const char* isa_name(Isa level);

// Whether this processor, and the operating system's saved register
// state, run the AVX-512 set's instructions.
bool cpu_runs_avx512();

// The set in use: the highest level the processor runs, unless a test has
// forced a lower one. Chosen on first use; the check is inline because
// short runs must not pay for a call.
extern std::atomic<const Kernels*> g_active;
const Kernels& choose();
inline const Kernels& active() {
    const Kernels* k = g_active.load(std::memory_order_acquire);
    return k != nullptr ? *k : choose();
}

// Highest level this processor and build support.
Isa best_isa();

// Tests only: use `level` (capped at best_isa()) from now on; returns the
// level in force.
Isa force_isa(Isa level);

// Output size in bytes from which stores bypass the caches.
extern std::atomic<size_t> g_nt_threshold;
size_t measure_nt_threshold();
inline size_t nt_threshold() {
    const size_t t = g_nt_threshold.load(std::memory_order_relaxed);
    return t != 0 ? t : measure_nt_threshold();
}

// Tests only: replaces that size (0 streams every run long enough to
// align); returns the previous one.
size_t force_nt_threshold(size_t bytes);

}  // namespace calmgr::kern
