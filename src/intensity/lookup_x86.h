// Stores shared by the x86 kernel sets: one whole vector of doubles or
// floats to any address, or, with nt, past the caches to an address the
// caller has aligned to the vector. The 256-bit forms exist only where the
// including file is compiled for AVX.
#pragma once

#include <immintrin.h>

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

}  // namespace
}  // namespace calmgr::kern
