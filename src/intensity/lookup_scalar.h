// Pieces every kernel file shares: the interpolation formula for one value
// and the loop driver that splits a run into a head, vector blocks and a
// tail. Everything here has internal linkage, so each kernel file keeps its
// own copy compiled with its own instruction-set flags.
#pragma once

#include "intensity/lookup_kernels.h"

#include <cstring>

namespace calmgr::kern {

template <class T>
static inline T load_at(const void* p, size_t k) {
    T v;
    std::memcpy(&v, static_cast<const unsigned char*>(p) + k * sizeof(T), sizeof v);
    return v;
}

template <class T>
static inline void store_at(void* p, size_t k, T v) {
    std::memcpy(static_cast<unsigned char*>(p) + k * sizeof(T), &v, sizeof v);
}

// The interpolation formula. Inside the grid t lies in [0, last), so the
// truncation i equals floor(t) except for t = -0.0 (a sample of -0.0 at
// range_min +0.0), where floor keeps the sign; adding +0.0 first gives the
// same +0.0 fraction that t - floor(t) gives.
static inline double interp_one(const Grid& g, double x) {
    if (!(x >= g.lo)) return g.table[0];
    if (x > g.hi) return g.table[g.last];
    const double t = (x - g.lo) * g.scale;
    if (!(t < g.last_t)) return t != t ? g.table[0] : g.table[g.last];
    const auto i = static_cast<uint32_t>(t);
    const double a = g.table[i];
    return a + ((t + 0.0) - static_cast<double>(i)) * (g.table[i + 1] - a);
}

template <class S, class O>
static inline void interp_range(const Grid& g, const void* in, void* out, size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) {
        const double r = interp_one(g, static_cast<double>(load_at<S>(in, k)));
        store_at<O>(out, k, static_cast<O>(r));
    }
}

// Runs `one(k)` for single values and `block(k, nt)` for `Step` values
// from k. With nt (and an output whose elements are naturally aligned) the
// head runs singly until the output reaches an `Align`-byte boundary, so
// every block may use aligned non-temporal stores. Returns whether it did.
template <size_t OutSize, size_t Step, size_t Align, class Block, class One>
static inline bool drive(void* out, size_t n, bool nt, Block block, One one) {
    size_t k = 0;
    const auto addr = reinterpret_cast<uintptr_t>(out);
    const bool use_nt = nt && addr % OutSize == 0 && n >= 4 * Step;
    if (use_nt) {
        for (; (addr + k * OutSize) % Align != 0; ++k) one(k);
    }
    const size_t blocks_end = k + (n - k) / Step * Step;
    if (use_nt) {
        for (; k < blocks_end; k += Step) block(k, true);
    } else {
        for (; k < blocks_end; k += Step) block(k, false);
    }
    for (; k < n; ++k) one(k);
    return use_nt;
}

}  // namespace calmgr::kern
