// The vector kernels' bodies, written once for every instruction set. A
// kernel file defines `Ops`, its set's primitives (the broadcast, the
// interpolation of one block, eight entries of a direct table, the bit
// route's selection, a block of conversions, the store fence), includes
// this header and builds its table with make_kernels<Ops>(); everything
// here then compiles with that file's flags. The bodies split a run with
// drive(): single values until the output is aligned for streaming stores,
// blocks of Ops' width, single values for the tail.
#pragma once

#include "intensity/lookup_scalar.h"

namespace calmgr::kern {
namespace {

// Streaming stores align the output to a block's bytes, at most a cache
// line, so a block fills whole lines of the write-combining buffers.
template <size_t OutSize, size_t Step>
constexpr size_t kBlockAlign = OutSize * Step < 64 ? OutSize * Step : 64;

// Runs `block(k, streamed)` over blocks of Step values and `one(k)` over
// the rest, fencing streamed stores before returning.
template <class Ops, class O, size_t Step, class Block, class One>
inline void run_blocks(void* out, size_t n, bool nt, Block block, One one) {
    if (drive<sizeof(O), Step, kBlockAlign<sizeof(O), Step>>(out, n, nt, block, one)) Ops::fence();
}

// The grid's constants, broadcast once per call into vectors of Ops'
// width (Ops::Vd, filled by Ops::set1).
template <class Ops>
struct VGrid {
    using V = typename Ops::Vd;
    V lo, hi, scale, last_t, below_last, zero, first, last;
    const double* table;
    explicit VGrid(const Grid& g)
        : lo(Ops::set1(g.lo)), hi(Ops::set1(g.hi)), scale(Ops::set1(g.scale)), last_t(Ops::set1(g.last_t)),
          below_last(Ops::set1(__builtin_nextafter(g.last_t, 0.0))), zero(Ops::set1(0.0)),
          first(Ops::set1(g.table[0])), last(Ops::set1(g.table[g.last])), table(g.table) {}
};

template <class Ops, class S, class O, bool Finite>
void interp_grid(const Grid& g, const void* in, void* out, size_t n, bool nt) {
    const VGrid<Ops> v(g);
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    run_blocks<Ops, O, Ops::kInterpStep>(
        out, n, nt,
        [&](size_t k, bool s) {
            Ops::template interp_block<S, O, Finite>(v, ip + k * sizeof(S), op + k * sizeof(O), s);
        },
        [&](size_t k) { interp_range<S, O>(g, in, out, k, k + 1); });
}

template <class Ops, class S, class O>
void interp(const Grid& g, const void* in, void* out, size_t n, bool nt) {
    if (g.finite) {
        interp_grid<Ops, S, O, true>(g, in, out, n, nt);
    } else {
        interp_grid<Ops, S, O, false>(g, in, out, n, nt);
    }
}

// Eight indices of 8-bit samples: one 64-bit word, split with shifts.
struct Idx8 {
    uint64_t w;
    explicit Idx8(const unsigned char* p) { std::memcpy(&w, p, 8); }
    size_t operator[](int j) const { return (w >> (8 * j)) & 255u; }
};

// A direct table's index for one sample: 16-bit samples past the
// 4096-entry table take its last entry.
template <class S>
inline size_t direct_index(const void* in, size_t k) {
    const uint32_t s = load_at<S>(in, k);
    return s < 4095u ? s : 4095u;
}

// Direct indexing, eight values per block: the samples' indices (clamped
// by Ops for 16-bit samples before any address is formed), the table's
// entries (double or float, T) and the output type O.
template <class Ops, class S, class T, class O>
void index(const T* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    run_blocks<Ops, O, 8>(
        out, n, nt,
        [&](size_t k, bool s) {
            if constexpr (sizeof(S) == 1) {
                Ops::template put8<O>(op + k * sizeof(O), t, Idx8(ip + k), s);
            } else {
                Ops::template put8<O>(op + k * sizeof(O), t, typename Ops::Idx16(ip + k * 2), s);
            }
        },
        [&](size_t k) { store_at<O>(out, k, static_cast<O>(t[direct_index<S>(in, k)])); });
}

// Bits: the eight bits from pixel k on, most significant first; a block
// may start inside a byte when the head aligned the output.
inline unsigned bits_at(const unsigned char* ip, size_t k) {
    const size_t j = k >> 3;
    const unsigned sh = k & 7;
    return sh == 0 ? ip[j] : ((ip[j] << sh) | (ip[j + 1] >> (8 - sh))) & 255u;
}

template <class Ops, class O>
void bits(O clear, O set, const void* in, void* out, size_t n, bool nt) {
    const typename Ops::template Bits<O> sel(clear, set);
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    run_blocks<Ops, O, 8>(
        out, n, nt, [&](size_t k, bool s) { sel.put8(op + k * sizeof(O), bits_at(ip, k), s); },
        [&](size_t k) { store_at<O>(out, k, (ip[k >> 3] >> (7 - (k & 7))) & 1u ? set : clear); });
}

// Unchanged conversions.
template <class Ops, class S, class O>
void convert(const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    run_blocks<Ops, O, Ops::kConvertStep>(
        out, n, nt,
        [&](size_t k, bool s) { Ops::template convert_block<S, O>(ip + k * sizeof(S), op + k * sizeof(O), s); },
        [&](size_t k) { store_at<O>(out, k, static_cast<O>(load_at<S>(in, k))); });
}

template <class Ops>
constexpr Kernels make_kernels(Isa isa) {
    return {
        isa,
        {interp<Ops, uint8_t, double>, interp<Ops, uint16_t, double>, interp<Ops, float, double>,
         interp<Ops, double, double>},
        {interp<Ops, uint8_t, float>, interp<Ops, uint16_t, float>, interp<Ops, float, float>,
         interp<Ops, double, float>},
        index<Ops, uint8_t, double, double>, index<Ops, uint8_t, float, float>,
        index<Ops, uint16_t, double, double>, index<Ops, uint16_t, float, float>,
        index<Ops, uint8_t, double, float>, index<Ops, uint16_t, double, float>,
        bits<Ops, double>, bits<Ops, float>,
        convert<Ops, uint8_t, double>, convert<Ops, uint8_t, float>, convert<Ops, uint16_t, double>,
        convert<Ops, uint16_t, float>, convert<Ops, float, double>, convert<Ops, double, float>,
        convert<Ops, double, float>,
    };
}

}  // namespace
}  // namespace calmgr::kern
