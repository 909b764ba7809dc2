// SSE2 lookup kernels: the x86-64 baseline, so they need no run-time check
// and no extra flags. Two doubles per vector; selections use and/andnot/or
// masks (SSE2 has no blend), index clamps the saturating-subtract minimum.
// Every product and sum is rounded on its own, as in the plain formula.
#include "intensity/lookup_scalar.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>

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

inline void store2d(unsigned char* p, __m128d v, bool nt) {
    if (nt) {
        _mm_stream_pd(reinterpret_cast<double*>(p), v);
    } else {
        _mm_storeu_pd(reinterpret_cast<double*>(p), v);
    }
}

inline void store4f(unsigned char* p, __m128 v, bool nt) {
    if (nt) {
        _mm_stream_ps(reinterpret_cast<float*>(p), v);
    } else {
        _mm_storeu_ps(reinterpret_cast<float*>(p), v);
    }
}

template <class O>
inline void store4(unsigned char* p, Pair v, bool nt);
template <>
inline void store4<double>(unsigned char* p, Pair v, bool nt) {
    store2d(p, v.lo, nt);
    store2d(p + 16, v.hi, nt);
}
template <>
inline void store4<float>(unsigned char* p, Pair v, bool nt) {
    store4f(p, _mm_movelh_ps(_mm_cvtpd_ps(v.lo), _mm_cvtpd_ps(v.hi)), nt);
}

inline __m128d select(__m128d mask, __m128d yes, __m128d no) {
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

struct VGrid {
    __m128d lo, hi, scale, last_t, below_last, zero, first, last;
    const double* table;
    explicit VGrid(const Grid& g)
        : lo(_mm_set1_pd(g.lo)), hi(_mm_set1_pd(g.hi)), scale(_mm_set1_pd(g.scale)), last_t(_mm_set1_pd(g.last_t)),
          below_last(_mm_set1_pd(__builtin_nextafter(g.last_t, 0.0))), zero(_mm_setzero_pd()),
          first(_mm_set1_pd(g.table[0])), last(_mm_set1_pd(g.table[g.last])), table(g.table) {}
};

// Two values of the formula; see the AVX2 kernel for the clamping.
template <bool Finite>
inline __m128d interp2(const VGrid& v, __m128d x) {
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

template <class S, class O, bool Finite>
void interp_grid(const Grid& g, const void* in, void* out, size_t n, bool nt) {
    const VGrid v(g);
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<sizeof(O), 4, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            const Pair x = load4<S>(ip + k * sizeof(S));
            const Pair r = {interp2<Finite>(v, x.lo), interp2<Finite>(v, x.hi)};
            store4<O>(op + k * sizeof(O), r, s);
        },
        [&](size_t k) { interp_range<S, O>(g, in, out, k, k + 1); });
    if (streamed) _mm_sfence();
}

template <class S, class O>
void interp(const Grid& g, const void* in, void* out, size_t n, bool nt) {
    if (g.finite) {
        interp_grid<S, O, true>(g, in, out, n, nt);
    } else {
        interp_grid<S, O, false>(g, in, out, n, nt);
    }
}

inline __m128d pair_d(const double* t, size_t i0, size_t i1) { return _mm_loadh_pd(_mm_load_sd(t + i0), t + i1); }

inline __m128 quad_f(const float* t, size_t i0, size_t i1, size_t i2, size_t i3) {
    const __m128 a = _mm_unpacklo_ps(_mm_load_ss(t + i0), _mm_load_ss(t + i1));
    const __m128 b = _mm_unpacklo_ps(_mm_load_ss(t + i2), _mm_load_ss(t + i3));
    return _mm_movelh_ps(a, b);
}

void index_u8_d(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<8, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            uint64_t w;
            std::memcpy(&w, ip + k, 8);
            for (int j = 0; j < 8; j += 2, w >>= 16) store2d(op + (k + j) * 8, pair_d(t, w & 255, (w >> 8) & 255), s);
        },
        [&](size_t k) { store_at<double>(out, k, t[ip[k]]); });
    if (streamed) _mm_sfence();
}

void index_u8_f(const float* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<4, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            uint64_t w;
            std::memcpy(&w, ip + k, 8);
            store4f(op + k * 4, quad_f(t, w & 255, (w >> 8) & 255, (w >> 16) & 255, (w >> 24) & 255), s);
            store4f(op + k * 4 + 16, quad_f(t, (w >> 32) & 255, (w >> 40) & 255, (w >> 48) & 255, w >> 56), s);
        },
        [&](size_t k) { store_at<float>(out, k, t[ip[k]]); });
    if (streamed) _mm_sfence();
}

void index_u8_df(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<4, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            uint64_t w;
            std::memcpy(&w, ip + k, 8);
            for (int j = 0; j < 8; j += 4, w >>= 32) {
                const __m128 lo = _mm_cvtpd_ps(pair_d(t, w & 255, (w >> 8) & 255));
                const __m128 hi = _mm_cvtpd_ps(pair_d(t, (w >> 16) & 255, (w >> 24) & 255));
                store4f(op + (k + j) * 4, _mm_movelh_ps(lo, hi), s);
            }
        },
        [&](size_t k) { store_at<float>(out, k, static_cast<float>(t[ip[k]])); });
    if (streamed) _mm_sfence();
}

// min(s, 4095) as s - saturating(s - 4095): samples past the table take
// its last entry before any address is formed.
inline void clamp8_u16(const unsigned char* p, uint16_t (&ix)[8]) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ix), _mm_sub_epi16(s, _mm_subs_epu16(s, _mm_set1_epi16(4095))));
}

void index_u16_d(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<8, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            alignas(16) uint16_t ix[8];
            clamp8_u16(ip + k * 2, ix);
            for (int j = 0; j < 8; j += 2) store2d(op + (k + j) * 8, pair_d(t, ix[j], ix[j + 1]), s);
        },
        [&](size_t k) {
            const uint32_t s = load_at<uint16_t>(in, k);
            store_at<double>(out, k, t[s < 4095u ? s : 4095u]);
        });
    if (streamed) _mm_sfence();
}

void index_u16_f(const float* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<4, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            alignas(16) uint16_t ix[8];
            clamp8_u16(ip + k * 2, ix);
            store4f(op + k * 4, quad_f(t, ix[0], ix[1], ix[2], ix[3]), s);
            store4f(op + k * 4 + 16, quad_f(t, ix[4], ix[5], ix[6], ix[7]), s);
        },
        [&](size_t k) {
            const uint32_t s = load_at<uint16_t>(in, k);
            store_at<float>(out, k, t[s < 4095u ? s : 4095u]);
        });
    if (streamed) _mm_sfence();
}

void index_u16_df(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<4, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            alignas(16) uint16_t ix[8];
            clamp8_u16(ip + k * 2, ix);
            for (int j = 0; j < 8; j += 4) {
                const __m128 lo = _mm_cvtpd_ps(pair_d(t, ix[j], ix[j + 1]));
                const __m128 hi = _mm_cvtpd_ps(pair_d(t, ix[j + 2], ix[j + 3]));
                store4f(op + (k + j) * 4, _mm_movelh_ps(lo, hi), s);
            }
        },
        [&](size_t k) {
            const uint32_t s = load_at<uint16_t>(in, k);
            store_at<float>(out, k, static_cast<float>(t[s < 4095u ? s : 4095u]));
        });
    if (streamed) _mm_sfence();
}

// Bits: the eight bits from pixel k on (a block may start inside a byte
// when the head aligned the output), tested against per-lane masks.
inline int bits_at(const unsigned char* ip, size_t k) {
    const size_t j = k >> 3;
    const unsigned sh = k & 7;
    return static_cast<int>(sh == 0 ? ip[j] : ((ip[j] << sh) | (ip[j + 1] >> (8 - sh))) & 255u);
}

void bits_d(double clear, double set, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const __m128d c = _mm_set1_pd(clear), st = _mm_set1_pd(set);
    // Both 32-bit halves of a lane carry its mask, so the 32-bit compare
    // yields a whole 64-bit lane mask.
    const __m128i m[4] = {_mm_setr_epi32(0x80, 0x80, 0x40, 0x40), _mm_setr_epi32(0x20, 0x20, 0x10, 0x10),
                          _mm_setr_epi32(0x08, 0x08, 0x04, 0x04), _mm_setr_epi32(0x02, 0x02, 0x01, 0x01)};
    const bool streamed = drive<8, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            const __m128i b = _mm_set1_epi32(bits_at(ip, k));
            for (int j = 0; j < 4; ++j) {
                const __m128d sel = _mm_castsi128_pd(_mm_cmpeq_epi32(_mm_and_si128(b, m[j]), m[j]));
                store2d(op + (k + 2 * j) * 8, select(sel, st, c), s);
            }
        },
        [&](size_t k) { store_at<double>(out, k, (ip[k >> 3] >> (7 - (k & 7))) & 1u ? set : clear); });
    if (streamed) _mm_sfence();
}

void bits_f(float clear, float set, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const __m128 c = _mm_set1_ps(clear), st = _mm_set1_ps(set);
    const __m128i m_hi = _mm_setr_epi32(0x80, 0x40, 0x20, 0x10), m_lo = _mm_setr_epi32(0x08, 0x04, 0x02, 0x01);
    const bool streamed = drive<4, 8, 16>(
        out, n, nt,
        [&](size_t k, bool s) {
            const __m128i b = _mm_set1_epi32(bits_at(ip, k));
            const __m128 h = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(b, m_hi), m_hi));
            const __m128 l = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(b, m_lo), m_lo));
            store4f(op + k * 4, _mm_or_ps(_mm_and_ps(h, st), _mm_andnot_ps(h, c)), s);
            store4f(op + k * 4 + 16, _mm_or_ps(_mm_and_ps(l, st), _mm_andnot_ps(l, c)), s);
        },
        [&](size_t k) { store_at<float>(out, k, (ip[k >> 3] >> (7 - (k & 7))) & 1u ? set : clear); });
    if (streamed) _mm_sfence();
}

template <class S, class O>
void convert(const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<sizeof(O), 4, 16>(
        out, n, nt, [&](size_t k, bool s) { store4<O>(op + k * sizeof(O), load4<S>(ip + k * sizeof(S)), s); },
        [&](size_t k) { store_at<O>(out, k, static_cast<O>(load_at<S>(in, k))); });
    if (streamed) _mm_sfence();
}

const Kernels kSse2 = {
    Isa::sse2,
    {interp<uint8_t, double>, interp<uint16_t, double>, interp<float, double>, interp<double, double>},
    {interp<uint8_t, float>, interp<uint16_t, float>, interp<float, float>, interp<double, float>},
    index_u8_d, index_u8_f, index_u16_d, index_u16_f, index_u8_df, index_u16_df,
    bits_d, bits_f,
    convert<uint8_t, double>, convert<uint8_t, float>, convert<uint16_t, double>, convert<uint16_t, float>,
    convert<float, double>, convert<double, float>,
    convert<double, float>,
};

}  // namespace

const Kernels* sse2_kernels() { return &kSse2; }

}  // namespace calmgr::kern

#else

namespace calmgr::kern {
const Kernels* sse2_kernels() { return nullptr; }
}  // namespace calmgr::kern

#endif
