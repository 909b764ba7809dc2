// The machine's limits that the lookups are measured against: copying
// the output's bytes, writing them without reading (the write ceiling)
// and converting samples with no table at all (the floor).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

void copy_bytes(const void* from, void* to, size_t bytes);
// Write-only fill with stores that bypass the caches where the processor
// has them (SSE2 streaming stores on x86-64), plain stores elsewhere. The
// bytes written repeat `pattern` (kPatternBytes, cache-resident), so the
// fill writes data like a lookup's output: on some machines memory takes
// zeros and other low-entropy lines markedly faster than real values, and
// a zero fill would be a ceiling no lookup output can reach.
constexpr size_t kPatternBytes = 2048;
void stream_fill(void* to, size_t bytes, const unsigned char* pattern);
// u8 samples widened to double or float, no table.
void widen_u8(const uint8_t* in, void* out, size_t n, bool float_out);

}  // namespace bench
