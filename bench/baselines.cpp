// Baselines for the lookup benchmarks: memcpy, a streaming fill and a
// plain widening conversion, each a loop the compiler may vectorise freely.
#include "baselines.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bench {

void copy_bytes(const void* from, void* to, size_t bytes) { std::memcpy(to, from, bytes); }

void stream_fill(void* to, size_t bytes, const unsigned char* pattern) {
    auto* p = static_cast<unsigned char*>(to);
    constexpr size_t wrap = kPatternBytes - 1;
    size_t i = 0;
#if defined(__SSE2__)
    for (; i < bytes && reinterpret_cast<uintptr_t>(p + i) % 16 != 0; ++i) p[i] = pattern[i & wrap];
    for (; i + 64 <= bytes; i += 64) {
        const unsigned char* q = pattern + (i & wrap & ~size_t{63});
        for (int j = 0; j < 64; j += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + j));
            _mm_stream_si128(reinterpret_cast<__m128i*>(p + i + j), v);
        }
    }
    _mm_sfence();
#endif
    for (; i < bytes; ++i) p[i] = pattern[i & wrap];
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
