// Chooses the lookup kernel set once per process: the highest instruction
// set level that both the build and the processor (and its operating
// system, which must save the wider registers) support. Tests may force a lower level to check every set on one
// machine. Also sizes the output from which stores bypass the caches.
#include "intensity/lookup_kernels.h"

#include <atomic>

#if defined(__unix__)
#include <unistd.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace calmgr::kern {
std::atomic<const Kernels*> g_active{nullptr};
std::atomic<size_t> g_nt_threshold{0};

namespace {

size_t llc_share() {
    long llc = 0;
#if defined(_SC_LEVEL3_CACHE_SIZE)
    llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
#endif
    if (llc <= 0) llc = 8L << 20;
    // Half the last-level cache: past that, a run's output would evict the
    // caller's own data before it is read back.
    return static_cast<size_t>(llc) / 2;
}

}  // namespace

const Kernels* kernels_for(Isa level) {
    switch (level) {
        case Isa::avx512: return avx512_kernels();
        case Isa::avx2: return avx2_kernels();
        case Isa::sse2: return sse2_kernels();
        default: return &portable_kernels();
    }
}

const char* isa_name(Isa level) {
    switch (level) {
        case Isa::avx512: return "avx512";
        case Isa::avx2: return "avx2";
        case Isa::sse2: return "sse2";
        default: return "portable";
    }
}

bool cpu_runs_avx512() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid(1, a, b, c, d);
    if ((c & bit_OSXSAVE) == 0) return false;  // XGETBV would fault
    __cpuid_count(7, 0, a, b, c, d);
    constexpr unsigned kNeed = bit_AVX512F | bit_AVX512DQ | bit_AVX512BW | bit_AVX512VL;
    if ((b & kNeed) != kNeed) return false;
    // The processor has the instructions; the operating system must also
    // save the state they use: XCR0's SSE and AVX bits (1, 2), the opmask
    // registers (5) and the upper ZMM halves and registers (6, 7).
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    (void)hi;
    return (lo & 0xE6u) == 0xE6u;
#else
    return false;
#endif
}

Isa best_isa() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx512 = avx512_kernels() != nullptr && cpu_runs_avx512();
    if (avx512) return Isa::avx512;
    __builtin_cpu_init();
    if (avx2_kernels() != nullptr && __builtin_cpu_supports("avx2")) return Isa::avx2;
    if (sse2_kernels() != nullptr && __builtin_cpu_supports("sse2")) return Isa::sse2;
#endif
    return Isa::portable;
}

const Kernels& choose() {
    const Kernels* k = kernels_for(best_isa());
    g_active.store(k, std::memory_order_release);
    return *k;
}

Isa force_isa(Isa level) {
    const Isa best = best_isa();
    const Isa chosen = static_cast<int>(level) < static_cast<int>(best) ? level : best;
    g_active.store(kernels_for(chosen), std::memory_order_release);
    return chosen;
}

size_t measure_nt_threshold() {
    const size_t t = llc_share();
    g_nt_threshold.store(t, std::memory_order_relaxed);
    return t;
}

size_t force_nt_threshold(size_t bytes) {
    const size_t previous = nt_threshold();
    g_nt_threshold.store(bytes == 0 ? 1 : bytes, std::memory_order_relaxed);
    return previous;
}

}  // namespace calmgr::kern
