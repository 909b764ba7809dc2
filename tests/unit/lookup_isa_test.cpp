// The choice of lookup kernels and the rounding they share. A forced level
// never exceeds what the build and processor support; every level up to
// the best has a complete kernel set; targets without the x86 vector sets
// run the portable kernels. Interpolation rounds its product before the
// sum on every level: a compiler that fuses them (aarch64 GCC does unless
// told not to) would change results in the last bit.
#include "lookup_check.h"

#include <cmath>
#include <random>
#include <utility>

namespace {

using namespace lookup_test;
using calmgr::kern::Kernels;

// Names the first empty slot of a kernel set, or returns null.
const char* missing_kernel(const Kernels& k) {
    for (int w = 0; w < 4; ++w) {
        if (k.interp_d[w] == nullptr) return "interp_d";
        if (k.interp_f[w] == nullptr) return "interp_f";
    }
    const std::pair<const char*, const void*> slots[] = {
        {"index_u8_d", reinterpret_cast<const void*>(k.index_u8_d)},
        {"index_u8_f", reinterpret_cast<const void*>(k.index_u8_f)},
        {"index_u16_d", reinterpret_cast<const void*>(k.index_u16_d)},
        {"index_u16_f", reinterpret_cast<const void*>(k.index_u16_f)},
        {"index_u8_df", reinterpret_cast<const void*>(k.index_u8_df)},
        {"index_u16_df", reinterpret_cast<const void*>(k.index_u16_df)},
        {"bits_d", reinterpret_cast<const void*>(k.bits_d)},
        {"bits_f", reinterpret_cast<const void*>(k.bits_f)},
        {"u8_d", reinterpret_cast<const void*>(k.u8_d)},
        {"u8_f", reinterpret_cast<const void*>(k.u8_f)},
        {"u16_d", reinterpret_cast<const void*>(k.u16_d)},
        {"u16_f", reinterpret_cast<const void*>(k.u16_f)},
        {"f32_d", reinterpret_cast<const void*>(k.f32_d)},
        {"f64_f", reinterpret_cast<const void*>(k.f64_f)},
        {"round_f", reinterpret_cast<const void*>(k.round_f)},
    };
    for (const auto& [name, fn] : slots) {
        if (fn == nullptr) return name;
    }
    return nullptr;
}

TEST(LookupIsa, ForcedLevelsAreClampedToTheBestAndTakeEffect) {
    const Isa best = calmgr::kern::best_isa();
    for (Isa level : {Isa::portable, Isa::sse2, Isa::avx2, Isa::avx512}) {
        const Isa expected = static_cast<int>(level) < static_cast<int>(best) ? level : best;
        EXPECT_EQ(calmgr::kern::force_isa(level), expected) << isa_name(level);
        EXPECT_EQ(calmgr::kern::active().isa, expected) << isa_name(level);
    }
    calmgr::kern::force_isa(best);
    EXPECT_EQ(calmgr::kern::active().isa, best);
}

TEST(LookupIsa, EveryLevelUpToTheBestHasACompleteKernelSet) {
    for (Isa level : levels()) {
        const Kernels* k = calmgr::kern::kernels_for(level);
        ASSERT_NE(k, nullptr) << isa_name(level);
        EXPECT_EQ(k->isa, level);
        const char* missing = missing_kernel(*k);
        EXPECT_EQ(missing, nullptr) << isa_name(level) << ": " << missing;
    }
}

TEST(LookupIsa, VectorSetsExistOnlyOnTheirOwnTargets) {
#if defined(__x86_64__)
    // SSE2 belongs to x86-64 itself: always built, always runnable.
    EXPECT_NE(calmgr::kern::sse2_kernels(), nullptr);
    EXPECT_GE(static_cast<int>(calmgr::kern::best_isa()), static_cast<int>(Isa::sse2));
#elif !defined(__i386__)
    EXPECT_EQ(calmgr::kern::sse2_kernels(), nullptr);
    EXPECT_EQ(calmgr::kern::avx2_kernels(), nullptr);
    EXPECT_EQ(calmgr::kern::avx512_kernels(), nullptr);
    EXPECT_EQ(calmgr::kern::best_isa(), Isa::portable);
#endif
    EXPECT_GT(calmgr::kern::measure_nt_threshold(), 0u);
}

// The AVX-512 set is chosen exactly where it was built and the processor
// and operating system run it; then every exactness test of this program
// covers it through levels(). Elsewhere this says why it was not run.
TEST(LookupIsa, Avx512SetRunsWhereBuiltAndSupported) {
#if defined(__x86_64__) || defined(__i386__)
    // The compiler's own reading of the processor (which also consults the
    // operating system's saved state) must agree with the library's.
    __builtin_cpu_init();
    const bool compiler_says = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
    EXPECT_EQ(calmgr::kern::cpu_runs_avx512(), compiler_says);
#endif
    if (calmgr::kern::avx512_kernels() == nullptr) {
        EXPECT_NE(calmgr::kern::best_isa(), Isa::avx512);
        GTEST_SKIP() << "AVX-512 kernels not built (configure with -DCALMGR_AVX512=ON to build them)";
    }
    if (!calmgr::kern::cpu_runs_avx512()) {
        EXPECT_NE(calmgr::kern::best_isa(), Isa::avx512);
        GTEST_SKIP() << "AVX-512 kernels built but not run: this processor or its operating system lacks "
                        "AVX-512 F/BW/VL/DQ";
    }
    EXPECT_EQ(calmgr::kern::best_isa(), Isa::avx512);
    EXPECT_EQ(levels().back(), Isa::avx512);
}

// a + f * d with the product rounded on its own; volatile keeps any
// compiler from fusing the two operations here.
double unfused(double a, double f, double d) {
    volatile double p = f * d;
    return a + p;
}

TEST(LookupIsa, InterpolationRoundsTheProductBeforeTheSum) {
    // Over [0, 1] with two entries the formula is a + x * (b - a).
    const double a = 0.1, b = 0.7;
    const double d = b - a;
    TestCal cal(0.0, 1.0, {a, b});
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> x(4096);
    for (double& v : x) v = dist(rng);
    std::vector<double> expected(x.size());
    size_t fused_differs = 0;
    for (size_t k = 0; k < x.size(); ++k) {
        expected[k] = unfused(a, x[k], d);
        if (std::fma(x[k], d, a) != expected[k]) ++fused_differs;
    }
    // The samples must tell the two evaluations apart, or this proves nothing.
    ASSERT_GT(fused_differs, x.size() / 10);

    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        std::vector<double> fast(x.size()), ref(x.size());
        ASSERT_EQ(calmgr::lookup(cal.get(), ICAL_SAMPLE_F64, x.data(), x.size(), fast.data()), CAL_OK);
        ASSERT_EQ(calmgr::ref::lookup(cal.get(), ICAL_SAMPLE_F64, x.data(), x.size(), ref.data()), CAL_OK);
        size_t wrong_fast = 0, wrong_ref = 0;
        for (size_t k = 0; k < x.size(); ++k) {
            wrong_fast += std::memcmp(&fast[k], &expected[k], sizeof(double)) != 0;
            wrong_ref += std::memcmp(&ref[k], &expected[k], sizeof(double)) != 0;
        }
        EXPECT_EQ(wrong_fast, 0u);
        EXPECT_EQ(wrong_ref, 0u);
    }
}

}  // namespace
