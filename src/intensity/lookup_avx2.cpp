// AVX2 lookup kernels, compiled with -mavx2 (and no FMA: every product and
// sum is rounded on its own, as in the plain formula) and chosen at run
// time only on processors that have AVX2. Interpolation handles four
// values per vector: out-of-range and NaN lanes are clamped to a safe index
// and replaced by the end entries with blends, so there is no branch per
// value; each lane's two neighbouring entries come from one 16-byte load.
#include "intensity/lookup_scalar.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace calmgr::kern {
namespace {

struct VGrid {
    __m256d lo, hi, scale, last_t, below_last, zero, first, last;
    const double* table;
    explicit VGrid(const Grid& g)
        : lo(_mm256_set1_pd(g.lo)), hi(_mm256_set1_pd(g.hi)), scale(_mm256_set1_pd(g.scale)),
          last_t(_mm256_set1_pd(g.last_t)), below_last(_mm256_set1_pd(__builtin_nextafter(g.last_t, 0.0))),
          zero(_mm256_setzero_pd()), first(_mm256_set1_pd(g.table[0])), last(_mm256_set1_pd(g.table[g.last])),
          table(g.table) {}
};

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
    if (nt) {
        _mm256_stream_pd(reinterpret_cast<double*>(p), v);
    } else {
        _mm256_storeu_pd(reinterpret_cast<double*>(p), v);
    }
}
template <>
inline void store4<float>(unsigned char* p, __m256d v, bool nt) {
    const __m128 f = _mm256_cvtpd_ps(v);
    if (nt) {
        _mm_stream_ps(reinterpret_cast<float*>(p), f);
    } else {
        _mm_storeu_ps(reinterpret_cast<float*>(p), f);
    }
}

// Four values of the formula. t is clamped into [0, last) for the index
// (max(NaN, 0) is 0; max(-0.0, +0.0) is +0.0, the same fraction floor
// gives); lanes whose t was NaN or reached last, or whose x lay outside
// the range, then take the end entries in the formula's order. On a finite
// grid t is NaN only where x is outside the range, so that test is skipped.
template <bool Finite>
inline __m256d interp4(const VGrid& v, __m256d x) {
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
    const __m256d p02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(tb + ix[0])), _mm_loadu_pd(tb + ix[2]), 1);
    const __m256d p13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(tb + ix[1])), _mm_loadu_pd(tb + ix[3]), 1);
    const __m256d a = _mm256_unpacklo_pd(p02, p13);
    const __m256d b = _mm256_unpackhi_pd(p02, p13);
    __m256d r = _mm256_add_pd(a, _mm256_mul_pd(frac, _mm256_sub_pd(b, a)));
    r = _mm256_blendv_pd(r, v.last, _mm256_or_pd(at_last, above));
    if (Finite) return _mm256_blendv_pd(r, v.first, below);
    const __m256d t_nan = _mm256_cmp_pd(t, t, _CMP_UNORD_Q);
    return _mm256_blendv_pd(r, v.first, _mm256_or_pd(_mm256_andnot_pd(above, t_nan), below));
}

template <class S, class O, bool Finite>
void interp_grid(const Grid& g, const void* in, void* out, size_t n, bool nt) {
    const VGrid v(g);
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<sizeof(O), 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            const __m256d x0 = load4<S>(ip + k * sizeof(S));
            const __m256d x1 = load4<S>(ip + (k + 4) * sizeof(S));
            const __m256d r0 = interp4<Finite>(v, x0);
            const __m256d r1 = interp4<Finite>(v, x1);
            store4<O>(op + k * sizeof(O), r0, s);
            store4<O>(op + (k + 4) * sizeof(O), r1, s);
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

// Direct 8-bit indexing into doubles: the eight indices of a 64-bit word
// address the table with scalar loads paired into vectors.
void index_u8_d(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<8, 8, 64>(
        out, n, nt,
        [&](size_t k, bool s) {
            uint64_t w;
            std::memcpy(&w, ip + k, 8);
            const __m128d v0 = _mm_loadh_pd(_mm_load_sd(t + (w & 255)), t + ((w >> 8) & 255));
            const __m128d v1 = _mm_loadh_pd(_mm_load_sd(t + ((w >> 16) & 255)), t + ((w >> 24) & 255));
            const __m128d v2 = _mm_loadh_pd(_mm_load_sd(t + ((w >> 32) & 255)), t + ((w >> 40) & 255));
            const __m128d v3 = _mm_loadh_pd(_mm_load_sd(t + ((w >> 48) & 255)), t + (w >> 56));
            store4<double>(op + k * 8, _mm256_set_m128d(v1, v0), s);
            store4<double>(op + k * 8 + 32, _mm256_set_m128d(v3, v2), s);
        },
        [&](size_t k) { store_at<double>(out, k, t[ip[k]]); });
    if (streamed) _mm_sfence();
}

void index_u8_df(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<4, 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            uint64_t w;
            std::memcpy(&w, ip + k, 8);
            const __m128d v0 = _mm_loadh_pd(_mm_load_sd(t + (w & 255)), t + ((w >> 8) & 255));
            const __m128d v1 = _mm_loadh_pd(_mm_load_sd(t + ((w >> 16) & 255)), t + ((w >> 24) & 255));
            const __m128d v2 = _mm_loadh_pd(_mm_load_sd(t + ((w >> 32) & 255)), t + ((w >> 40) & 255));
            const __m128d v3 = _mm_loadh_pd(_mm_load_sd(t + ((w >> 48) & 255)), t + (w >> 56));
            store4<float>(op + k * 4, _mm256_set_m128d(v1, v0), s);
            store4<float>(op + k * 4 + 16, _mm256_set_m128d(v3, v2), s);
        },
        [&](size_t k) { store_at<float>(out, k, static_cast<float>(t[ip[k]])); });
    if (streamed) _mm_sfence();
}

inline void store8f(unsigned char* p, __m256 v, bool nt) {
    if (nt) {
        _mm256_stream_ps(reinterpret_cast<float*>(p), v);
    } else {
        _mm256_storeu_ps(reinterpret_cast<float*>(p), v);
    }
}

void index_u8_f(const float* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<4, 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            uint64_t w;
            std::memcpy(&w, ip + k, 8);
            __m128 a = _mm_load_ss(t + (w & 255));
            a = _mm_insert_ps(a, _mm_load_ss(t + ((w >> 8) & 255)), 0x10);
            a = _mm_insert_ps(a, _mm_load_ss(t + ((w >> 16) & 255)), 0x20);
            a = _mm_insert_ps(a, _mm_load_ss(t + ((w >> 24) & 255)), 0x30);
            __m128 b = _mm_load_ss(t + ((w >> 32) & 255));
            b = _mm_insert_ps(b, _mm_load_ss(t + ((w >> 40) & 255)), 0x10);
            b = _mm_insert_ps(b, _mm_load_ss(t + ((w >> 48) & 255)), 0x20);
            b = _mm_insert_ps(b, _mm_load_ss(t + (w >> 56)), 0x30);
            store8f(op + k * 4, _mm256_set_m128(b, a), s);
        },
        [&](size_t k) { store_at<float>(out, k, t[ip[k]]); });
    if (streamed) _mm_sfence();
}

// Direct 16-bit indexing: samples past the 4096-entry table are clamped to
// its last entry with an unsigned minimum before any address is formed.
inline __m128i clamp8_u16(const unsigned char* p) {
    return _mm_min_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi16(4095));
}

// The eight clamped indices, taken out of the vector as two 64-bit words
// and split with shifts (cheaper than storing and reloading them).
struct Idx16 {
    uint64_t w0, w1;
    explicit Idx16(__m128i v)
        : w0(static_cast<uint64_t>(_mm_cvtsi128_si64(v))), w1(static_cast<uint64_t>(_mm_extract_epi64(v, 1))) {}
    size_t operator[](int j) const { return ((j < 4 ? w0 >> (16 * j) : w1 >> (16 * (j - 4)))) & 0xFFFFu; }
};

void index_u16_d(const double* t, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<8, 8, 64>(
        out, n, nt,
        [&](size_t k, bool s) {
            const Idx16 ix(clamp8_u16(ip + k * 2));
            const __m128d v0 = _mm_loadh_pd(_mm_load_sd(t + ix[0]), t + ix[1]);
            const __m128d v1 = _mm_loadh_pd(_mm_load_sd(t + ix[2]), t + ix[3]);
            const __m128d v2 = _mm_loadh_pd(_mm_load_sd(t + ix[4]), t + ix[5]);
            const __m128d v3 = _mm_loadh_pd(_mm_load_sd(t + ix[6]), t + ix[7]);
            store4<double>(op + k * 8, _mm256_set_m128d(v1, v0), s);
            store4<double>(op + k * 8 + 32, _mm256_set_m128d(v3, v2), s);
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
    const bool streamed = drive<4, 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            const Idx16 ix(clamp8_u16(ip + k * 2));
            __m128 a = _mm_load_ss(t + ix[0]);
            a = _mm_insert_ps(a, _mm_load_ss(t + ix[1]), 0x10);
            a = _mm_insert_ps(a, _mm_load_ss(t + ix[2]), 0x20);
            a = _mm_insert_ps(a, _mm_load_ss(t + ix[3]), 0x30);
            __m128 b = _mm_load_ss(t + ix[4]);
            b = _mm_insert_ps(b, _mm_load_ss(t + ix[5]), 0x10);
            b = _mm_insert_ps(b, _mm_load_ss(t + ix[6]), 0x20);
            b = _mm_insert_ps(b, _mm_load_ss(t + ix[7]), 0x30);
            store8f(op + k * 4, _mm256_set_m128(b, a), s);
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
    const bool streamed = drive<4, 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            const Idx16 ix(clamp8_u16(ip + k * 2));
            const __m128d v0 = _mm_loadh_pd(_mm_load_sd(t + ix[0]), t + ix[1]);
            const __m128d v1 = _mm_loadh_pd(_mm_load_sd(t + ix[2]), t + ix[3]);
            const __m128d v2 = _mm_loadh_pd(_mm_load_sd(t + ix[4]), t + ix[5]);
            const __m128d v3 = _mm_loadh_pd(_mm_load_sd(t + ix[6]), t + ix[7]);
            store4<float>(op + k * 4, _mm256_set_m128d(v1, v0), s);
            store4<float>(op + k * 4 + 16, _mm256_set_m128d(v3, v2), s);
        },
        [&](size_t k) {
            const uint32_t s = load_at<uint16_t>(in, k);
            store_at<float>(out, k, static_cast<float>(t[s < 4095u ? s : 4095u]));
        });
    if (streamed) _mm_sfence();
}

// Bits: the eight bits from pixel k on (a block may start inside a byte
// when the head aligned the output) are broadcast and tested against the
// bit masks, most significant first, selecting between the two values.
inline unsigned bits_at(const unsigned char* ip, size_t k) {
    const size_t j = k >> 3;
    const unsigned sh = k & 7;
    return sh == 0 ? ip[j] : ((ip[j] << sh) | (ip[j + 1] >> (8 - sh))) & 255u;
}

void bits_d(double clear, double set, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const __m256d c = _mm256_set1_pd(clear), st = _mm256_set1_pd(set);
    const __m256i m_hi = _mm256_setr_epi64x(0x80, 0x40, 0x20, 0x10);
    const __m256i m_lo = _mm256_setr_epi64x(0x08, 0x04, 0x02, 0x01);
    const bool streamed = drive<8, 8, 64>(
        out, n, nt,
        [&](size_t k, bool s) {
            const __m256i b = _mm256_set1_epi64x(bits_at(ip, k));
            const __m256i h = _mm256_cmpeq_epi64(_mm256_and_si256(b, m_hi), m_hi);
            const __m256i l = _mm256_cmpeq_epi64(_mm256_and_si256(b, m_lo), m_lo);
            store4<double>(op + k * 8, _mm256_blendv_pd(c, st, _mm256_castsi256_pd(h)), s);
            store4<double>(op + k * 8 + 32, _mm256_blendv_pd(c, st, _mm256_castsi256_pd(l)), s);
        },
        [&](size_t k) { store_at<double>(out, k, (ip[k >> 3] >> (7 - (k & 7))) & 1u ? set : clear); });
    if (streamed) _mm_sfence();
}

void bits_f(float clear, float set, const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const __m256 c = _mm256_set1_ps(clear), st = _mm256_set1_ps(set);
    const __m256i m = _mm256_setr_epi32(0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01);
    const bool streamed = drive<4, 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            const __m256i b = _mm256_set1_epi32(static_cast<int>(bits_at(ip, k)));
            const __m256i sel = _mm256_cmpeq_epi32(_mm256_and_si256(b, m), m);
            store8f(op + k * 4, _mm256_blendv_ps(c, st, _mm256_castsi256_ps(sel)), s);
        },
        [&](size_t k) { store_at<float>(out, k, (ip[k >> 3] >> (7 - (k & 7))) & 1u ? set : clear); });
    if (streamed) _mm_sfence();
}

// Unchanged conversions, eight values per step.
template <class S, class O>
void convert(const void* in, void* out, size_t n, bool nt) {
    const auto* ip = static_cast<const unsigned char*>(in);
    auto* op = static_cast<unsigned char*>(out);
    const bool streamed = drive<sizeof(O), 8, 32>(
        out, n, nt,
        [&](size_t k, bool s) {
            store4<O>(op + k * sizeof(O), load4<S>(ip + k * sizeof(S)), s);
            store4<O>(op + (k + 4) * sizeof(O), load4<S>(ip + (k + 4) * sizeof(S)), s);
        },
        [&](size_t k) { store_at<O>(out, k, static_cast<O>(load_at<S>(in, k))); });
    if (streamed) _mm_sfence();
}

const Kernels kAvx2 = {
    Isa::avx2,
    {interp<uint8_t, double>, interp<uint16_t, double>, interp<float, double>, interp<double, double>},
    {interp<uint8_t, float>, interp<uint16_t, float>, interp<float, float>, interp<double, float>},
    index_u8_d, index_u8_f, index_u16_d, index_u16_f, index_u8_df, index_u16_df,
    bits_d, bits_f,
    convert<uint8_t, double>, convert<uint8_t, float>, convert<uint16_t, double>, convert<uint16_t, float>,
    convert<float, double>, convert<double, float>,
    convert<double, float>,
};

}  // namespace

const Kernels* avx2_kernels() { return &kAvx2; }

}  // namespace calmgr::kern

#else

namespace calmgr::kern {
const Kernels* avx2_kernels() { return nullptr; }
}  // namespace calmgr::kern

#endif
