// AVX2 lookup kernels, compiled with -mavx2 (and no FMA: every product and
// sum is rounded on its own, as in the plain formula) and chosen at run
// time only on processors that have AVX2. Interpolation handles four
// values per vector: out-of-range and NaN lanes are clamped to a safe index
// and replaced by the end entries with blends, so there is no branch per
// value; each lane's two neighbouring entries come from one 16-byte load.
#include "intensity/lookup_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "intensity/lookup_simd.h"
#include "intensity/lookup_x86.h"

namespace calmgr::kern {
namespace {

template <class S>
inline __m256d load4(const unsigned char* p);
template <>
inline __m256d load4<uint8_t>(const unsigned char* p) {
    int32_t w;
    std::memcpy(&w, p, 4);
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(w)));
}
template <>
inline __m256d load4<uint16_t>(const unsigned char* p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
template <>
inline __m256d load4<float>(const unsigned char* p) {
    return _mm256_cvtps_pd(_mm_loadu_ps(reinterpret_cast<const float*>(p)));
}
template <>
inline __m256d load4<double>(const unsigned char* p) {
    return _mm256_loadu_pd(reinterpret_cast<const double*>(p));
}

template <class O>
inline void store4(unsigned char* p, __m256d v, bool nt);
template <>
inline void store4<double>(unsigned char* p, __m256d v, bool nt) {
    store_v(p, v, nt);
}
template <>
inline void store4<float>(unsigned char* p, __m256d v, bool nt) {
    store_v(p, _mm256_cvtpd_ps(v), nt);
}

struct Ops {
    static void fence() { _mm_sfence(); }

    using Vd = __m256d;
    static Vd set1(double x) { return _mm256_set1_pd(x); }

    // Four values of the formula. t is clamped into [0, last) for the
    // index (max(NaN, 0) is 0; max(-0.0, +0.0) is +0.0, the same fraction
    // floor gives); lanes whose t was NaN or reached last, or whose x lay
    // outside the range, then take the end entries in the formula's order.
    // On a finite grid t is NaN only where x is outside the range, so that
    // test is skipped.
    template <bool Finite>
    static __m256d interp4(const VGrid<Ops>& v, __m256d x) {
        const __m256d below = _mm256_cmp_pd(x, v.lo, _CMP_NGE_UQ);
        const __m256d above = _mm256_cmp_pd(x, v.hi, _CMP_GT_OQ);
        const __m256d t = _mm256_mul_pd(_mm256_sub_pd(x, v.lo), v.scale);
        const __m256d at_last = _mm256_cmp_pd(t, v.last_t, _CMP_GE_OQ);
        const __m256d ts = _mm256_min_pd(_mm256_max_pd(t, v.zero), v.below_last);
        const __m128i i = _mm256_cvttpd_epi32(ts);
        const __m256d frac = _mm256_sub_pd(ts, _mm256_round_pd(ts, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
        alignas(16) uint32_t ix[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(ix), i);
        const double* tb = v.table;
        const __m256d p02 =
            _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(tb + ix[0])), _mm_loadu_pd(tb + ix[2]), 1);
        const __m256d p13 =
            _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(tb + ix[1])), _mm_loadu_pd(tb + ix[3]), 1);
        const __m256d a = _mm256_unpacklo_pd(p02, p13);
        const __m256d b = _mm256_unpackhi_pd(p02, p13);
        __m256d r = _mm256_add_pd(a, _mm256_mul_pd(frac, _mm256_sub_pd(b, a)));
        r = _mm256_blendv_pd(r, v.last, _mm256_or_pd(at_last, above));
        if (Finite) return _mm256_blendv_pd(r, v.first, below);
        const __m256d t_nan = _mm256_cmp_pd(t, t, _CMP_UNORD_Q);
        return _mm256_blendv_pd(r, v.first, _mm256_or_pd(_mm256_andnot_pd(above, t_nan), below));
    }

    // Two independent groups of four per block hide the loads' latency.
    static constexpr size_t kInterpStep = 8;
    template <class S, class O, bool Finite>
    static void interp_block(const VGrid<Ops>& v, const unsigned char* ip, unsigned char* op, bool s) {
        const __m256d x0 = load4<S>(ip);
        const __m256d x1 = load4<S>(ip + 4 * sizeof(S));
        const __m256d r0 = interp4<Finite>(v, x0);
        const __m256d r1 = interp4<Finite>(v, x1);
        store4<O>(op, r0, s);
        store4<O>(op + 4 * sizeof(O), r1, s);
    }

    // Eight 16-bit samples' indices, clamped to the direct table.
    using Idx16 = Idx16Words;

    // Eight entries of a direct table to p: doubles as doubles, doubles
    // rounded to float, or floats.
    template <class O, class I>
    static void put8(unsigned char* p, const double* t, const I& ix, bool s) {
        store4<O>(p, quad_d(t, ix, 0), s);
        store4<O>(p + 4 * sizeof(O), quad_d(t, ix, 4), s);
    }
    template <class O, class I>
    static void put8(unsigned char* p, const float* t, const I& ix, bool s) {
        store_v(p, _mm256_set_m128(quad_f(t, ix, 4), quad_f(t, ix, 0)), s);
    }

    // The bit route: a block's byte is broadcast and tested against one
    // mask per lane, selecting between the two values.
    template <class O>
    struct Bits;

    static constexpr size_t kConvertStep = 8;
    template <class S, class O>
    static void convert_block(const unsigned char* ip, unsigned char* op, bool s) {
        store4<O>(op, load4<S>(ip), s);
        store4<O>(op + 4 * sizeof(O), load4<S>(ip + 4 * sizeof(S)), s);
    }
};

template <>
struct Ops::Bits<double> {
    __m256d clear, set;
    __m256i m_hi = _mm256_setr_epi64x(0x80, 0x40, 0x20, 0x10), m_lo = _mm256_setr_epi64x(0x08, 0x04, 0x02, 0x01);
    Bits(double c, double st) : clear(_mm256_set1_pd(c)), set(_mm256_set1_pd(st)) {}
    void put8(unsigned char* p, unsigned byte, bool s) const {
        const __m256i b = _mm256_set1_epi64x(byte);
        const __m256i h = _mm256_cmpeq_epi64(_mm256_and_si256(b, m_hi), m_hi);
        const __m256i l = _mm256_cmpeq_epi64(_mm256_and_si256(b, m_lo), m_lo);
        store4<double>(p, _mm256_blendv_pd(clear, set, _mm256_castsi256_pd(h)), s);
        store4<double>(p + 32, _mm256_blendv_pd(clear, set, _mm256_castsi256_pd(l)), s);
    }
};

template <>
struct Ops::Bits<float> {
    __m256 clear, set;
    __m256i m = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
    Bits(float c, float st) : clear(_mm256_set1_ps(c)), set(_mm256_set1_ps(st)) {}
    void put8(unsigned char* p, unsigned byte, bool s) const {
        const __m256i b = _mm256_set1_epi32(static_cast<int>(byte));
        const __m256i sel = _mm256_cmpeq_epi32(_mm256_and_si256(b, m), m);
        store_v(p, _mm256_blendv_ps(clear, set, _mm256_castsi256_ps(sel)), s);
    }
};

const Kernels kAvx2 = make_kernels<Ops>(Isa::avx2);

}  // namespace

const Kernels* avx2_kernels() { return &kAvx2; }

}  // namespace calmgr::kern

#else

namespace calmgr::kern {
const Kernels* avx2_kernels() { return nullptr; }
}  // namespace calmgr::kern

#endif
