// Pieces shared by the x86 kernel sets. Stores: one whole vector of
// doubles or floats to any address, or, with nt, past the caches to an
// address the caller has aligned to the vector. Direct-table reads: four
// entries by scalar loads, and eight 16-bit samples clamped to a 4096-entry
// table. The wider forms exist only where the including file is compiled
// for the instruction set they need.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace calmgr::kern {
namespace {

inline void store_v(unsigned char* p, __m128d v, bool nt) {
    if (nt) {
        _mm_stream_pd(reinterpret_cast<double*>(p), v);
    } else {
        _mm_storeu_pd(reinterpret_cast<double*>(p), v);
    }
}

inline void store_v(unsigned char* p, __m128 v, bool nt) {
    if (nt) {
        _mm_stream_ps(reinterpret_cast<float*>(p), v);
    } else {
        _mm_storeu_ps(reinterpret_cast<float*>(p), v);
    }
}

#if defined(__AVX__)
inline void store_v(unsigned char* p, __m256d v, bool nt) {
    if (nt) {
        _mm256_stream_pd(reinterpret_cast<double*>(p), v);
    } else {
        _mm256_storeu_pd(reinterpret_cast<double*>(p), v);
    }
}

inline void store_v(unsigned char* p, __m256 v, bool nt) {
    if (nt) {
        _mm256_stream_ps(reinterpret_cast<float*>(p), v);
    } else {
        _mm256_storeu_ps(reinterpret_cast<float*>(p), v);
    }
}
#endif

#if defined(__AVX512F__)
inline void store_v(unsigned char* p, __m512d v, bool nt) {
    if (nt) {
        _mm512_stream_pd(reinterpret_cast<double*>(p), v);
    } else {
        _mm512_storeu_pd(reinterpret_cast<double*>(p), v);
    }
}
#endif

#if defined(__AVX2__)
// Four doubles of a table, two scalar loads per 128-bit half.
template <class I>
inline __m256d quad_d(const double* t, const I& ix, int j) {
    const __m128d lo = _mm_loadh_pd(_mm_load_sd(t + ix[j]), t + ix[j + 1]);
    const __m128d hi = _mm_loadh_pd(_mm_load_sd(t + ix[j + 2]), t + ix[j + 3]);
    return _mm256_set_m128d(hi, lo);
}

template <class I>
inline __m128 quad_f(const float* t, const I& ix, int j) {
    __m128 a = _mm_load_ss(t + ix[j]);
    a = _mm_insert_ps(a, _mm_load_ss(t + ix[j + 1]), 0x10);
    a = _mm_insert_ps(a, _mm_load_ss(t + ix[j + 2]), 0x20);
    return _mm_insert_ps(a, _mm_load_ss(t + ix[j + 3]), 0x30);
}

// The eight 16-bit samples from p clamped to 4095, taken out of the vector
// as two 64-bit words and split with shifts (cheaper than a store and
// reloads): samples past a direct table take its last entry before any
// address is formed.
struct Idx16Words {
    uint64_t w0, w1;
    explicit Idx16Words(const unsigned char* p) {
        const __m128i v =
            _mm_min_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi16(4095));
        w0 = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
        w1 = static_cast<uint64_t>(_mm_extract_epi64(v, 1));
    }
    size_t operator[](int j) const { return ((j < 4 ? w0 >> (16 * j) : w1 >> (16 * (j - 4)))) & 0xFFFFu; }
};
#endif

}  // namespace
}  // namespace calmgr::kern
