// The classification loops, written once on the compiler's generic vectors
// of W bytes and compiled per instruction-set level: 16-byte vectors for the
// baseline (SSE2 on x86-64, NEON on Arm), 32-byte vectors in a file built
// for AVX2. Each level's file includes this header and builds its table
// with make_ops<W>(); everything here has internal linkage, so no function
// compiled for a higher level is shared with code that runs anywhere.
// Counts run in lanes of the samples' own width, folded into 64-bit totals
// before they can overflow.
#pragma once

#include "intensity/lookup_classify.h"

#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define CALMGR_CLASSIFY_X86 1
#endif

namespace calmgr::classify {
namespace {

inline void add(Counts& total, const Counts& c) {
    total.below += c.below;
    total.above += c.above;
    total.nan += c.nan;
}

// A vector of W bytes of T (the attribute needs a concrete type).
template <class T, size_t W>
struct VecOf;
#define CALMGR_VEC(T, W)                                    \
    template <>                                             \
    struct VecOf<T, W> {                                    \
        typedef T type __attribute__((vector_size(W)));     \
    }
#define CALMGR_VECS8(T) CALMGR_VEC(T, 8); CALMGR_VEC(T, 16); CALMGR_VEC(T, 32); CALMGR_VEC(T, 64)
#define CALMGR_VECS4(T) CALMGR_VEC(T, 4); CALMGR_VECS8(T)
CALMGR_VECS4(uint8_t);
CALMGR_VECS4(uint16_t);
CALMGR_VECS4(uint32_t);
CALMGR_VECS8(uint64_t);
CALMGR_VECS4(int32_t);
CALMGR_VECS8(int64_t);
CALMGR_VECS4(float);
CALMGR_VECS8(double);
#undef CALMGR_VECS4
#undef CALMGR_VECS8
#undef CALMGR_VEC

template <class T, size_t W>
using Vec = typename VecOf<T, W>::type;

template <class V>
inline V load(const unsigned char* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
inline void store(unsigned char* p, V v) {
    std::memcpy(p, &v, sizeof v);
}

// The lanes of an accumulator of counts (lane masks subtracted, each -1).
template <class V>
inline uint64_t fold(V acc) {
    uint64_t sum = 0;
    for (size_t j = 0; j < sizeof(V) / sizeof(acc[0]); ++j) sum += static_cast<uint64_t>(acc[j]);
    return sum;
}

// Blocks a lane of type L can count without overflowing.
template <class L>
constexpr size_t kFoldEvery = sizeof(L) == 1 ? 255 : (sizeof(L) == 2 ? 65535 : size_t{1} << 24);

// The unsigned lanes that count samples of type S.
template <class S>
using Lane = std::conditional_t<sizeof(S) == 1, uint8_t,
                                std::conditional_t<sizeof(S) == 2, uint16_t,
                                                   std::conditional_t<sizeof(S) == 4, uint32_t, uint64_t>>>;

// Counts of n samples of type S in vectors of W bytes: `classify(v, below,
// above, nan)` subtracts one vector's lane masks from the accumulators,
// `tail(p, m)` counts the last samples one by one.
template <class S, size_t W, bool WithNaN, class Classify, class Tail>
Counts count_blocks(const unsigned char* b, size_t n, Classify classify, Tail tail) {
    using M = Vec<Lane<S>, W>;
    constexpr size_t lanes = W / sizeof(S);
    Counts c;
    size_t k = 0;
    while (n - k >= lanes) {
        M below{}, above{}, nan{};
        const size_t blocks = (n - k) / lanes < kFoldEvery<Lane<S>> ? (n - k) / lanes : kFoldEvery<Lane<S>>;
        for (size_t i = 0; i < blocks; ++i, k += lanes) classify(load<Vec<S, W>>(b + k * sizeof(S)), below, above, nan);
        c.below += fold(below);
        c.above += fold(above);
        if (WithNaN) c.nan += fold(nan);
    }
    add(c, tail(b + k * sizeof(S), n - k));
    return c;
}

// Integer samples; with AtTop, Counts::nan receives the samples equal to
// r.hi instead (integers are never NaN).
template <class T, size_t W, bool AtTop = false>
Counts count_int(const void* p, size_t n, IntRange<T> r) {
    Counts c;
    if (r.kind == IntRange<T>::Kind::all_below) {
        c.below = n;
        return c;
    }
    if (r.kind == IntRange<T>::Kind::all_above) {
        c.above = n;
        return c;
    }
    using V = Vec<T, W>;
    using M = Vec<Lane<T>, W>;
    const V lo = V{} + r.lo, hi = V{} + r.hi;
    return count_blocks<T, W, AtTop>(
        static_cast<const unsigned char*>(p), n,
        [&](V v, M& below, M& above, M& top) {
            below -= reinterpret_cast<M>(v < lo);
            above -= reinterpret_cast<M>(v > hi);
            if (AtTop) top -= reinterpret_cast<M>(v == hi);
        },
        [&](const unsigned char* b, size_t m) {
            Counts t;
            for (size_t k = 0; k < m; ++k) {
                T s;
                std::memcpy(&s, b + k * sizeof s, sizeof s);
                t.below += s < r.lo;
                t.above += s > r.hi;
                if (AtTop) t.nan += s == r.hi;
            }
            return t;
        });
}

template <class F, size_t W>
Counts count_float(const void* p, size_t n, FloatRange<F> r) {
    using V = Vec<F, W>;
    using M = Vec<Lane<F>, W>;
    const V lo = V{} + r.lo, hi = V{} + r.hi;
    return count_blocks<F, W, true>(
        static_cast<const unsigned char*>(p), n,
        [&](V v, M& below, M& above, M& nan) {
            below -= reinterpret_cast<M>(v < lo);
            above -= reinterpret_cast<M>(v > hi);
            nan -= reinterpret_cast<M>(v != v);
        },
        [&](const unsigned char* b, size_t m) {
            Counts t;
            for (size_t k = 0; k < m; ++k) {
                F x;
                std::memcpy(&x, b + k * sizeof x, sizeof x);
                t.below += x < r.lo;
                t.above += x > r.hi;
                t.nan += x != x;
            }
            return t;
        });
}

// The type the patch compares in, with lanes as wide as the outputs': for
// integer samples an integer (exact, and cheap to widen to), for floating
// samples float where samples and outputs are floats, double otherwise.
template <class S, class O>
using Domain = std::conditional_t<
    std::is_integral_v<S>, std::conditional_t<std::is_same_v<O, float>, int32_t, int64_t>,
    std::conditional_t<std::is_same_v<O, float> && !std::is_same_v<S, double>, float, double>>;

// The range in the domain type.
template <class D>
inline D lower(const Patch& p) {
    if constexpr (std::is_integral_v<D>) {
        return static_cast<D>(p.lo_i);
    } else if constexpr (std::is_same_v<D, float>) {
        return p.lo_f;
    } else {
        return p.lo;
    }
}

template <class D>
inline D upper(const Patch& p) {
    if constexpr (std::is_integral_v<D>) {
        return static_cast<D>(p.hi_i);
    } else if constexpr (std::is_same_v<D, float>) {
        return p.hi_f;
    } else {
        return p.hi;
    }
}

// One value at a time, writing only the outputs replaced: the tail of the
// vector patch, and integer samples.
template <class S, class O, bool Outside, bool Propagate, bool Counted>
Counts patch_scalar(const unsigned char* ip, unsigned char* op, size_t n, const Patch& p) {
    using D = Domain<S, O>;
    const D lo = lower<D>(p), hi = upper<D>(p);
    Counts c;
    for (size_t k = 0; k < n; ++k) {
        S s;
        std::memcpy(&s, ip + k * sizeof s, sizeof s);
        const D x = static_cast<D>(s);
        const bool below = x < lo, above = x > hi, nan = x != x;
        if (Counted) {
            c.below += below;
            c.above += above;
            c.nan += nan;
        }
        O o;
        if (Outside && (below || above)) {
            o = std::numeric_limits<O>::quiet_NaN();
        } else if (Propagate && nan) {
            o = static_cast<O>(s);
        } else {
            continue;
        }
        std::memcpy(op + k * sizeof o, &o, sizeof o);
    }
    return c;
}

// One vector of outputs stored past the cache where the processor has such
// stores for it and the address allows, plainly otherwise.
template <class V>
inline void store_streamed(unsigned char* p, V v) {
#if defined(CALMGR_CLASSIFY_X86)
    const auto addr = reinterpret_cast<uintptr_t>(p);
#if defined(__AVX__)
    if constexpr (sizeof(V) == 32) {
        if (addr % 32 == 0) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(p), reinterpret_cast<__m256i>(v));
            return;
        }
    }
#endif
    if constexpr (sizeof(V) == 16) {
        if (addr % 16 == 0) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(p), reinterpret_cast<__m128i>(v));
            return;
        }
    }
#if defined(__x86_64__)
    if constexpr (sizeof(V) == 8) {
        if (addr % 8 == 0) {
            long long bits;
            std::memcpy(&bits, &v, sizeof bits);
            _mm_stream_si64(reinterpret_cast<long long*>(p), bits);
            return;
        }
    }
#endif
#endif
    store(p, v);
}

// Vectors of floating samples and their outputs, read and rewritten in one
// pass that also counts when asked. With Stream the outputs are read from
// `out` and written to `to` past the cache.
template <class S, class O, size_t W, bool Outside, bool Propagate, bool Counted, bool Stream>
Counts patch_blocks(const void* in, void* out, void* to, size_t n, const Patch& p) {
    using D = Domain<S, O>;
    // The outputs are selected in the wider of D and O (for double samples
    // with float outputs, double), as integers of that width.
    using E = std::conditional_t<(sizeof(O) < sizeof(D)), double, O>;
    using I = std::conditional_t<sizeof(E) == 4, int32_t, int64_t>;
    constexpr size_t lanes = W / sizeof(D);
    using VD = Vec<D, W>;
    using VE = Vec<E, W>;
    using MI = Vec<I, W>;
    using VS = Vec<S, lanes * sizeof(S)>;
    using VO = Vec<O, lanes * sizeof(O)>;
    static_assert(sizeof(D) == sizeof(E), "masks and outputs share their lanes");
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    auto* tp = static_cast<unsigned char*>(to);
    const VD lo = VD{} + lower<D>(p), hi = VD{} + upper<D>(p);
    const MI nan = reinterpret_cast<MI>(VE{} + std::numeric_limits<E>::quiet_NaN());
    MI below{}, above{}, nans{};  // lane counts; a chunk is far below their limits
    size_t k = 0;
    for (; k + lanes <= n; k += lanes) {
        const VD x = __builtin_convertvector(load<VS>(ip + k * sizeof(S)), VD);
        MI o = reinterpret_cast<MI>(__builtin_convertvector(load<VO>(op + k * sizeof(O)), VE));
        const MI mb = reinterpret_cast<MI>(x < lo), ma = reinterpret_cast<MI>(x > hi);
        if (Outside) {
            const MI m = mb | ma;
            o = (nan & m) | (o & ~m);
        }
        if (Propagate || Counted) {
            const MI mn = reinterpret_cast<MI>(x != x);
            if (Propagate) o = (reinterpret_cast<MI>(__builtin_convertvector(x, VE)) & mn) | (o & ~mn);
            if (Counted) nans -= mn;
        }
        if (Counted) {
            below -= mb;
            above -= ma;
        }
        const VO result = __builtin_convertvector(reinterpret_cast<VE>(o), VO);
        if (Stream) {
            store_streamed(tp + k * sizeof(O), result);
        } else {
            store(op + k * sizeof(O), result);
        }
    }
    Counts c = patch_scalar<S, O, Outside, Propagate, Counted>(ip + k * sizeof(S), op + k * sizeof(O), n - k, p);
    if (Stream) {
        std::memcpy(tp + k * sizeof(O), op + k * sizeof(O), (n - k) * sizeof(O));
#if defined(CALMGR_CLASSIFY_X86)
        _mm_sfence();
#endif
    }
    if (Counted) {
        c.below += fold(below);
        c.above += fold(above);
        c.nan += fold(nans);
    }
    return c;
}

template <size_t W>
void copy_streamed(const void* from, void* to, size_t bytes);

// Integer samples are counted in lanes of their own width, and only the
// few outputs outside are then replaced, one by one.
template <class S, class O, size_t W, bool Outside, bool Counted, bool Stream>
Counts patch_int(const void* in, void* out, void* to, size_t n, const Patch& p) {
    IntRange<S> r;
    if constexpr (sizeof(S) == 1) {
        r = p.u8;
    } else {
        r = p.u16;
    }
    const Counts c = count_int<S, W>(in, n, r);
    if (Outside && c.below + c.above != 0) {
        patch_scalar<S, O, true, false, false>(static_cast<const unsigned char*>(in), static_cast<unsigned char*>(out),
                                              n, p);
    }
    if (Stream) copy_streamed<W>(out, to, n * sizeof(O));
    return Counted ? c : Counts{};
}

template <class S, class O, size_t W, bool Outside, bool Propagate, bool Counted, bool Stream>
Counts patch_run(const void* in, void* out, void* to, size_t n, const Patch& p) {
    if constexpr (std::is_integral_v<S>) {
        return patch_int<S, O, W, Outside, Counted, Stream>(in, out, to, n, p);
    } else {
        return patch_blocks<S, O, W, Outside, Propagate, Counted, Stream>(in, out, to, n, p);
    }
}

template <class S, class O, size_t W, bool Counted, bool Stream>
Counts patch_policy(const void* in, void* out, void* to, size_t n, const Patch& p) {
    if (p.outside_nan && p.propagate) return patch_run<S, O, W, true, true, Counted, Stream>(in, out, to, n, p);
    if (p.outside_nan) return patch_run<S, O, W, true, false, Counted, Stream>(in, out, to, n, p);
    return patch_run<S, O, W, false, true, Counted, Stream>(in, out, to, n, p);
}

template <class S, class O, size_t W>
Counts patch(const void* in, void* out, size_t n, const Patch& p, bool counted, void* stream_to) {
    if (stream_to != nullptr) {
        return counted ? patch_policy<S, O, W, true, true>(in, out, stream_to, n, p)
                       : patch_policy<S, O, W, false, true>(in, out, stream_to, n, p);
    }
    return counted ? patch_policy<S, O, W, true, false>(in, out, out, n, p)
                   : patch_policy<S, O, W, false, false>(in, out, out, n, p);
}

// Copies bytes to `to` past the cache: whole aligned vectors of W bytes with
// streaming stores where the processor has them (x86), the unaligned ends
// plainly; a plain copy elsewhere.
template <size_t W>
void copy_streamed(const void* from, void* to, size_t bytes) {
    const auto* src = static_cast<const unsigned char*>(from);
    auto* dst = static_cast<unsigned char*>(to);
    size_t k = 0;
#if defined(CALMGR_CLASSIFY_X86)
    const size_t head = (W - reinterpret_cast<uintptr_t>(dst) % W) % W;
    if (bytes >= head + W) {
        std::memcpy(dst, src, head);
        for (k = head; k + W <= bytes; k += W) {
#if defined(__AVX2__)
            if constexpr (W == 32) {
                _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + k),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k)));
                continue;
            }
#endif
            for (size_t h = 0; h < W; h += 16) {
                _mm_stream_si128(reinterpret_cast<__m128i*>(dst + k + h),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k + h)));
            }
        }
        _mm_sfence();
    }
#endif
    std::memcpy(dst + k, src + k, bytes - k);
}

// Samples equal to `sample` among n 16-bit samples get the output value
// `value` (out_size bytes: a double or a float); the search stops once
// `expected` of them have.
template <size_t W>
void put_where_u16(const void* in, void* out, size_t n, uint16_t sample, const void* value, size_t out_size,
                   uint64_t expected) {
    using V = Vec<uint16_t, W>;
    constexpr size_t lanes = W / 2;
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const V want = V{} + sample;
    size_t k = 0;
    for (; k + lanes <= n; k += lanes) {
        const V hit = reinterpret_cast<V>(load<V>(ip + 2 * k) == want);
        const auto words = reinterpret_cast<Vec<uint64_t, W>>(hit);
        uint64_t any = 0;
        for (size_t j = 0; j < W / 8; ++j) any |= words[j];
        if (any == 0) continue;
        for (size_t j = 0; j < lanes; ++j) {
            if (hit[j] != 0) {
                std::memcpy(op + (k + j) * out_size, value, out_size);
                --expected;
            }
        }
        if (expected == 0) return;
    }
    for (; k < n; ++k) {
        uint16_t s;
        std::memcpy(&s, ip + 2 * k, 2);
        if (s == sample) std::memcpy(op + k * out_size, value, out_size);
    }
}

// The loops for vectors of W bytes; instantiated by each level's file.
template <size_t W>
constexpr Ops make_ops() {
    return {
        count_int<uint8_t, W>,
        count_int<uint16_t, W>,
        count_int<uint16_t, W, true>,
        count_float<float, W>,
        count_float<double, W>,
        {{patch<uint8_t, double, W>, patch<uint8_t, float, W>},
         {patch<uint16_t, double, W>, patch<uint16_t, float, W>},
         {patch<float, double, W>, patch<float, float, W>},
         {patch<double, double, W>, patch<double, float, W>}},
        put_where_u16<W>,
    };
}

}  // namespace
}  // namespace calmgr::classify
