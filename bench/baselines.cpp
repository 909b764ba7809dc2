// Baselines for the lookup benchmarks: memcpy, a streaming fill and a
// plain widening conversion, each a loop the compiler may vectorise freely.
#include "baselines.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bench {

void copy_bytes(const void* from, void* to, size_t bytes) { std::memcpy(to, from, bytes); }

void stream_fill(void* to, size_t bytes) {
    auto* p = static_cast<unsigned char*>(to);
    size_t i = 0;
#if defined(__SSE2__)
    for (; i < bytes && reinterpret_cast<uintptr_t>(p + i) % 16 != 0; ++i) p[i] = 0;
    const __m128i z = _mm_setzero_si128();
    for (; i + 64 <= bytes; i += 64) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(p + i), z);
        _mm_stream_si128(reinterpret_cast<__m128i*>(p + i + 16), z);
        _mm_stream_si128(reinterpret_cast<__m128i*>(p + i + 32), z);
        _mm_stream_si128(reinterpret_cast<__m128i*>(p + i + 48), z);
    }
    _mm_sfence();
#endif
    for (; i < bytes; ++i) p[i] = 0;
}

void widen_u8(const uint8_t* in, void* out, size_t n, bool float_out) {
    if (float_out) {
        auto* o = static_cast<float*>(out);
        for (size_t k = 0; k < n; ++k) o[k] = static_cast<float>(in[k]);
    } else {
        auto* o = static_cast<double*>(out);
        for (size_t k = 0; k < n; ++k) o[k] = static_cast<double>(in[k]);
    }
}

}  // namespace bench
