// SSE2 lookup kernels: the x86-64 baseline, so they need no run-time check
// and no extra flags. Two doubles per vector; selections use and/andnot/or
// masks (SSE2 has no blend), index clamps the saturating-subtract minimum.
// Every product and sum is rounded on its own, as in the plain formula.
#include "intensity/lookup_kernels.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>

#include "intensity/lookup_simd.h"
#include "intensity/lookup_x86.h"

namespace calmgr::kern {
namespace {

struct Pair {
    __m128d lo, hi;  // values k, k+1 and k+2, k+3
};

template <class S>
inline Pair load4(const unsigned char* p);
template <>
inline Pair load4<uint8_t>(const unsigned char* p) {
    int32_t w;
    std::memcpy(&w, p, 4);
    const __m128i z = _mm_setzero_si128();
    const __m128i i = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(w), z), z);
    return {_mm_cvtepi32_pd(i), _mm_cvtepi32_pd(_mm_srli_si128(i, 8))};
}
template <>
inline Pair load4<uint16_t>(const unsigned char* p) {
    const __m128i i = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    return {_mm_cvtepi32_pd(i), _mm_cvtepi32_pd(_mm_srli_si128(i, 8))};
}
template <>
inline Pair load4<float>(const unsigned char* p) {
    const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(p));
    return {_mm_cvtps_pd(f), _mm_cvtps_pd(_mm_movehl_ps(f, f))};
}
template <>
inline Pair load4<double>(const unsigned char* p) {
    const auto* d = reinterpret_cast<const double*>(p);
    return {_mm_loadu_pd(d), _mm_loadu_pd(d + 2)};
}

template <class O>
inline void store4(unsigned char* p, Pair v, bool nt);
template <>
inline void store4<double>(unsigned char* p, Pair v, bool nt) {
    store_v(p, v.lo, nt);
    store_v(p + 16, v.hi, nt);
}
template <>
inline void store4<float>(unsigned char* p, Pair v, bool nt) {
    store_v(p, _mm_movelh_ps(_mm_cvtpd_ps(v.lo), _mm_cvtpd_ps(v.hi)), nt);
}

inline __m128d select(__m128d mask, __m128d yes, __m128d no) {
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

inline __m128 select(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// Four entries of a table from four indices starting at j.
template <class I>
inline Pair quad_d(const double* t, const I& ix, int j) {
    return {_mm_loadh_pd(_mm_load_sd(t + ix[j]), t + ix[j + 1]),
            _mm_loadh_pd(_mm_load_sd(t + ix[j + 2]), t + ix[j + 3])};
}

template <class I>
inline __m128 quad_f(const float* t, const I& ix, int j) {
    const __m128 a = _mm_unpacklo_ps(_mm_load_ss(t + ix[j]), _mm_load_ss(t + ix[j + 1]));
    const __m128 b = _mm_unpacklo_ps(_mm_load_ss(t + ix[j + 2]), _mm_load_ss(t + ix[j + 3]));
    return _mm_movelh_ps(a, b);
}

struct Ops {
    static void fence() { _mm_sfence(); }

    using Vd = __m128d;
    static Vd set1(double x) { return _mm_set1_pd(x); }

    // Two values of the formula, clamped and selected as the AVX2 kernels
    // do; the truncated index converted back gives the fraction.
    template <bool Finite>
    static __m128d interp2(const VGrid<Ops>& v, __m128d x) {
        const __m128d below = _mm_cmpnge_pd(x, v.lo);
        const __m128d above = _mm_cmpgt_pd(x, v.hi);
        const __m128d t = _mm_mul_pd(_mm_sub_pd(x, v.lo), v.scale);
        const __m128d at_last = _mm_cmpge_pd(t, v.last_t);
        const __m128d ts = _mm_min_pd(_mm_max_pd(t, v.zero), v.below_last);
        const __m128i i = _mm_cvttpd_epi32(ts);
        const __m128d frac = _mm_sub_pd(ts, _mm_cvtepi32_pd(i));
        const __m128d p0 = _mm_loadu_pd(v.table + _mm_cvtsi128_si32(i));
        const __m128d p1 = _mm_loadu_pd(v.table + _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 1)));
        const __m128d a = _mm_unpacklo_pd(p0, p1);
        const __m128d b = _mm_unpackhi_pd(p0, p1);
        __m128d r = _mm_add_pd(a, _mm_mul_pd(frac, _mm_sub_pd(b, a)));
        r = select(_mm_or_pd(at_last, above), v.last, r);
        if (Finite) return select(below, v.first, r);
        const __m128d t_nan = _mm_cmpunord_pd(t, t);
        return select(_mm_or_pd(_mm_andnot_pd(above, t_nan), below), v.first, r);
    }

    static constexpr size_t kInterpStep = 4;
    template <class S, class O, bool Finite>
    static void interp_block(const VGrid<Ops>& v, const unsigned char* ip, unsigned char* op, bool s) {
        const Pair x = load4<S>(ip);
        store4<O>(op, Pair{interp2<Finite>(v, x.lo), interp2<Finite>(v, x.hi)}, s);
    }

    // min(s, 4095) as s - saturating(s - 4095): samples past the table
    // take its last entry before any address is formed.
    struct Idx16 {
        alignas(16) uint16_t ix[8];
        explicit Idx16(const unsigned char* p) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_store_si128(reinterpret_cast<__m128i*>(ix),
                            _mm_sub_epi16(s, _mm_subs_epu16(s, _mm_set1_epi16(4095))));
        }
        size_t operator[](int j) const { return ix[j]; }
    };

    // Eight entries of a direct table to p: doubles as doubles, doubles
    // rounded to float, or floats.
    template <class O, class I>
    static void put8(unsigned char* p, const double* t, const I& ix, bool s) {
        store4<O>(p, quad_d(t, ix, 0), s);
        store4<O>(p + 4 * sizeof(O), quad_d(t, ix, 4), s);
    }
    template <class O, class I>
    static void put8(unsigned char* p, const float* t, const I& ix, bool s) {
        store_v(p, quad_f(t, ix, 0), s);
        store_v(p + 16, quad_f(t, ix, 4), s);
    }

    // The bit route: a block's byte is broadcast and tested against
    // per-lane masks, selecting between the two values.
    template <class O>
    struct Bits;

    static constexpr size_t kConvertStep = 4;
    template <class S, class O>
    static void convert_block(const unsigned char* ip, unsigned char* op, bool s) {
        store4<O>(op, load4<S>(ip), s);
    }
};

template <>
struct Ops::Bits<double> {
    __m128d clear, set;
    // Both 32-bit halves of a lane carry its mask, so the 32-bit compare
    // yields a whole 64-bit lane mask.
    __m128i m[4] = {_mm_setr_epi32(0x80, 0x80, 0x40, 0x40), _mm_setr_epi32(0x20, 0x20, 0x10, 0x10),
                    _mm_setr_epi32(0x08, 0x08, 0x04, 0x04), _mm_setr_epi32(0x02, 0x02, 0x01, 0x01)};
    Bits(double c, double st) : clear(_mm_set1_pd(c)), set(_mm_set1_pd(st)) {}
    void put8(unsigned char* p, unsigned byte, bool s) const {
        const __m128i b = _mm_set1_epi32(static_cast<int>(byte));
        for (int j = 0; j < 4; ++j) {
            const __m128d sel = _mm_castsi128_pd(_mm_cmpeq_epi32(_mm_and_si128(b, m[j]), m[j]));
            store_v(p + 16 * j, select(sel, set, clear), s);
        }
    }
};

template <>
struct Ops::Bits<float> {
    __m128 clear, set;
    __m128i m_hi = _mm_setr_epi32(0x80, 0x40, 0x20, 0x10), m_lo = _mm_setr_epi32(0x08, 0x04, 0x02, 0x01);
    Bits(float c, float st) : clear(_mm_set1_ps(c)), set(_mm_set1_ps(st)) {}
    void put8(unsigned char* p, unsigned byte, bool s) const {
        const __m128i b = _mm_set1_epi32(static_cast<int>(byte));
        const __m128 h = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(b, m_hi), m_hi));
        const __m128 l = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(b, m_lo), m_lo));
        store_v(p, select(h, set, clear), s);
        store_v(p + 16, select(l, set, clear), s);
    }
};

const Kernels kSse2 = make_kernels<Ops>(Isa::sse2);

}  // namespace

const Kernels* sse2_kernels() { return &kSse2; }

}  // namespace calmgr::kern

#else

namespace calmgr::kern {
const Kernels* sse2_kernels() { return nullptr; }
}  // namespace calmgr::kern

#endif
