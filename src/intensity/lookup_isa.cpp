// Chooses the lookup kernel set once per process: the highest instruction
// set level that both the build and the processor (and its operating
// system) support. Tests may force a lower level to check every set on one
// machine. Also sizes the output from which stores bypass the caches.
#include "intensity/lookup_kernels.h"

#include <atomic>

#if defined(__unix__)
#include <unistd.h>
#endif

namespace calmgr::kern {
std::atomic<const Kernels*> g_active{nullptr};
std::atomic<size_t> g_nt_threshold{0};

namespace {

const Kernels* kernels_for(Isa level) {
    switch (level) {
        case Isa::avx2: return avx2_kernels();
        case Isa::sse2: return sse2_kernels();
        default: return &portable_kernels();
    }
}

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

Isa best_isa() {
#if defined(__x86_64__) || defined(__i386__)
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
