// AVX-512 lookup kernels (F, BW, VL, DQ), compiled only in builds with
// CALMGR_AVX512=ON, with those instruction sets and no FMA contraction:
// every product and sum is rounded on its own, as in the plain formula.
// They run only where the processor has the instructions and the
// operating system saves their registers. Interpolation handles eight
// values per vector: compares give mask registers, out-of-range and NaN
// lanes are clamped to a safe index and then take the end entries through
// masked moves; each lane's two neighbouring entries come from one 16-byte
// load. The bit route selects with a mask made from the byte's bits;
// direct tables are read with scalar loads, as the AVX2 set does (gathers
// are slower than loads on the processors that carry AVX-512 with their
// microcode mitigations), and written a whole vector at a time.
#include "intensity/lookup_kernels.h"

#if defined(CALMGR_AVX512_KERNELS) && defined(__AVX512F__) && defined(__AVX512BW__) && \
    defined(__AVX512VL__) && defined(__AVX512DQ__)
#include <immintrin.h>

// GCC 12 takes the deliberately undefined pass-through operand of its
// AVX-512 conversion intrinsics (_mm256_undefined_ps and the like) for an
// uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "intensity/lookup_simd.h"
#include "intensity/lookup_x86.h"

namespace calmgr::kern {
namespace {

// Eight samples from p, widened exactly to doubles.
template <class S>
inline __m512d load8(const unsigned char* p);
template <>
inline __m512d load8<uint8_t>(const unsigned char* p) {
    return _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
template <>
inline __m512d load8<uint16_t>(const unsigned char* p) {
    return _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
template <>
inline __m512d load8<float>(const unsigned char* p) {
    return _mm512_cvtps_pd(_mm256_loadu_ps(reinterpret_cast<const float*>(p)));
}
template <>
inline __m512d load8<double>(const unsigned char* p) {
    return _mm512_loadu_pd(reinterpret_cast<const double*>(p));
}

// Eight doubles to p as doubles, or rounded to the nearest floats.
template <class O>
inline void store8(unsigned char* p, __m512d v, bool nt);
template <>
inline void store8<double>(unsigned char* p, __m512d v, bool nt) {
    store_v(p, v, nt);
}
template <>
inline void store8<float>(unsigned char* p, __m512d v, bool nt) {
    store_v(p, _mm512_cvtpd_ps(v), nt);
}

// Table entries ix and ix + 1 for four lanes a..d, one pair in each
// 128-bit lane of the result.
inline __m512d pairs(const double* t, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    const __m256d lo = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(t + a)), _mm_loadu_pd(t + b), 1);
    const __m256d hi = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(t + c)), _mm_loadu_pd(t + d), 1);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(lo), hi, 1);
}

struct Ops {
    static void fence() { _mm_sfence(); }

    using Vd = __m512d;
    static Vd set1(double x) { return _mm512_set1_pd(x); }

    // Eight values of the formula. t is clamped into [0, last) for the
    // index (max(NaN, 0) is 0; max(-0.0, +0.0) is +0.0, the fraction
    // floor gives); lanes whose t was NaN or reached last, or whose x lay
    // outside the range, then take the end entries in the formula's order.
    // On a finite grid t is NaN only where x is outside the range, so that
    // test is skipped.
    template <bool Finite>
    static __m512d interp8(const VGrid<Ops>& v, __m512d x) {
        const __mmask8 below = _mm512_cmp_pd_mask(x, v.lo, _CMP_NGE_UQ);
        const __mmask8 above = _mm512_cmp_pd_mask(x, v.hi, _CMP_GT_OQ);
        const __m512d t = _mm512_mul_pd(_mm512_sub_pd(x, v.lo), v.scale);
        const __mmask8 at_last = _mm512_cmp_pd_mask(t, v.last_t, _CMP_GE_OQ);
        const __m512d ts = _mm512_min_pd(_mm512_max_pd(t, v.zero), v.below_last);
        const __m256i i = _mm512_cvttpd_epi32(ts);
        const __m512d frac = _mm512_sub_pd(ts, _mm512_cvtepi32_pd(i));
        alignas(32) uint32_t ix[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(ix), i);
        const __m512d even = pairs(v.table, ix[0], ix[2], ix[4], ix[6]);
        const __m512d odd = pairs(v.table, ix[1], ix[3], ix[5], ix[7]);
        const __m512d a = _mm512_unpacklo_pd(even, odd);
        const __m512d b = _mm512_unpackhi_pd(even, odd);
        __m512d r = _mm512_add_pd(a, _mm512_mul_pd(frac, _mm512_sub_pd(b, a)));
        r = _mm512_mask_mov_pd(r, static_cast<__mmask8>(at_last | above), v.last);
        if (Finite) return _mm512_mask_mov_pd(r, below, v.first);
        const __mmask8 t_nan = _mm512_cmp_pd_mask(t, t, _CMP_UNORD_Q);
        return _mm512_mask_mov_pd(r, static_cast<__mmask8>((t_nan & ~above) | below), v.first);
    }

    // Two independent groups of eight per block hide the loads' latency;
    // both are read before either is written.
    static constexpr size_t kInterpStep = 16;
    template <class S, class O, bool Finite>
    static void interp_block(const VGrid<Ops>& v, const unsigned char* ip, unsigned char* op, bool s) {
        const __m512d x0 = load8<S>(ip);
        const __m512d x1 = load8<S>(ip + 8 * sizeof(S));
        const __m512d r0 = interp8<Finite>(v, x0);
        const __m512d r1 = interp8<Finite>(v, x1);
        store8<O>(op, r0, s);
        store8<O>(op + 8 * sizeof(O), r1, s);
    }

    // Eight 16-bit samples' indices, clamped to the direct table.
    using Idx16 = Idx16Words;

    // Eight entries of a direct table to p: doubles as doubles, doubles
    // rounded to float, or floats.
    template <class O, class I>
    static void put8(unsigned char* p, const double* t, const I& ix, bool s) {
        store8<O>(p, _mm512_insertf64x4(_mm512_castpd256_pd512(quad_d(t, ix, 0)), quad_d(t, ix, 4), 1), s);
    }
    template <class O, class I>
    static void put8(unsigned char* p, const float* t, const I& ix, bool s) {
        store_v(p, _mm256_set_m128(quad_f(t, ix, 4), quad_f(t, ix, 0)), s);
    }

    // The bit route: lane j tests bit 7 - j of the block's byte, and the
    // resulting mask selects between the two values.
    template <class O>
    struct Bits;

    static constexpr size_t kConvertStep = 16;
    template <class S, class O>
    static void convert_block(const unsigned char* ip, unsigned char* op, bool s) {
        const __m512d x0 = load8<S>(ip);
        const __m512d x1 = load8<S>(ip + 8 * sizeof(S));
        store8<O>(op, x0, s);
        store8<O>(op + 8 * sizeof(O), x1, s);
    }
};

template <>
struct Ops::Bits<double> {
    __m512d clear, set;
    __m512i m = _mm512_setr_epi64(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
    Bits(double c, double st) : clear(_mm512_set1_pd(c)), set(_mm512_set1_pd(st)) {}
    void put8(unsigned char* p, unsigned byte, bool s) const {
        const __mmask8 k = _mm512_test_epi64_mask(_mm512_set1_epi64(byte), m);
        store_v(p, _mm512_mask_blend_pd(k, clear, set), s);
    }
};

template <>
struct Ops::Bits<float> {
    __m256 clear, set;
    __m256i m = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
    Bits(float c, float st) : clear(_mm256_set1_ps(c)), set(_mm256_set1_ps(st)) {}
    void put8(unsigned char* p, unsigned byte, bool s) const {
        const __mmask8 k = _mm256_test_epi32_mask(_mm256_set1_epi32(static_cast<int>(byte)), m);
        store_v(p, _mm256_mask_blend_ps(k, clear, set), s);
    }
};

const Kernels kAvx512 = make_kernels<Ops>(Isa::avx512);

}  // namespace

const Kernels* avx512_kernels() { return &kAvx512; }

}  // namespace calmgr::kern

#else

namespace calmgr::kern {
const Kernels* avx512_kernels() { return nullptr; }
}  // namespace calmgr::kern

#endif
