// The AVX-512 kernel set checked where no processor here has AVX-512: run
// bare-metal under an emulator that has it (scripts/check-avx512-emulated),
// every slot of the set is compared with the portable set, which the unit
// tests hold equal to the reference loops, bit for bit and guard bytes
// included: interpolation on grids with NaN, infinite and -0.0 entries
// and limits, empty-scale and infinite-scale grids, samples with NaN,
// infinities, signed zeros, subnormals and the limits' neighbours; direct
// tables with 16-bit samples past their end; the bit route and the
// conversions; every length up to SWEEP_MAX and long runs, misaligned
// buffers, with and without streaming stores. Built with HOSTED it runs as
// a program comparing the AVX2 set instead, which checks the check.
#include "intensity/lookup_kernels.h"
#include <cstdint>
#include <cstring>

using namespace calmgr::kern;

#if !defined(HOSTED)
extern "C" void* memcpy(void* d, const void* s, size_t n) { auto* a = (unsigned char*)d; auto* b = (const unsigned char*)s; while (n--) *a++ = *b++; return d; }
extern "C" void* memset(void* d, int c, size_t n) { auto* a = (unsigned char*)d; while (n--) *a++ = (unsigned char)c; return d; }
extern "C" void* memmove(void* d, const void* s, size_t n) { auto* a = (unsigned char*)d; auto* b = (const unsigned char*)s; if (a < b) { while (n--) *a++ = *b++; } else { while (n--) a[n] = b[n]; } return d; }
extern "C" int memcmp(const void* x, const void* y, size_t n) { auto* a = (const unsigned char*)x; auto* b = (const unsigned char*)y; for (size_t i = 0; i < n; ++i) if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1; return 0; }
extern "C" double nextafter(double x, double y) {
    if (x != x || y != y) return x + y;
    if (x == y) return y;
    uint64_t u; memcpy(&u, &x, 8);
    if (x == 0.0) { u = 1; if (y < 0) u |= 1ull << 63; } else if ((x < y) == (x > 0)) ++u; else --u;
    double r; memcpy(&r, &u, 8); return r;
}
#endif

#if defined(HOSTED)
#include <cstdio>
#include <cmath>
using std::nextafter;
static void putc_(char c) { std::putchar(c); }
static void cpuid7(unsigned& b) { b = 0; }
#else
static inline void outb(uint16_t p, uint8_t v) { __asm__ volatile("outb %0, %1" ::"a"(v), "Nd"(p)); }
static inline uint8_t inb(uint16_t p) { uint8_t v; __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(p)); return v; }
static void putc_(char c) { outb(0xE9, (uint8_t)c); for (int i = 0; i < 100000 && !(inb(0x3FD) & 0x20); ++i) {} outb(0x3F8, (uint8_t)c); }
static void cpuid7(unsigned& b) { unsigned a, c, d; __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(7), "c"(0)); }
#endif
static void puts_(const char* s) { while (*s) putc_(*s++); }
static void putu(uint64_t v) { char b[24]; int i = 0; do { b[i++] = char('0' + v % 10); v /= 10; } while (v); while (i) putc_(b[--i]); }

static uint64_t rng_state = 0x9E3779B97F4A7C15ull;
static uint64_t rnd() { rng_state ^= rng_state << 13; rng_state ^= rng_state >> 7; rng_state ^= rng_state << 17; return rng_state; }
static double urand(double a, double b) { return a + (b - a) * (double)(rnd() >> 11) * (1.0 / 9007199254740992.0); }

constexpr size_t kMax = 4200;
alignas(64) static unsigned char in_buf[kMax * 8 + 128];
alignas(64) static unsigned char out_a[kMax * 8 + 256];
alignas(64) static unsigned char out_b[kMax * 8 + 256];
static double table[32767];
static float ftable[4096];
static double dtable[4096];

static uint64_t checks = 0, failures = 0;
static void report(const char* what, size_t n, size_t io, size_t oo, int nt) {
    if (++failures <= 20) { puts_("MISMATCH "); puts_(what); puts_(" n="); putu(n); puts_(" in_off="); putu(io); puts_(" out_off="); putu(oo); puts_(" nt="); putu(nt); puts_("\n"); }
}
static bool same(size_t bytes) { ++checks; return memcmp(out_a, out_b, bytes + 128) == 0; }
static void clear_outs() { memset(out_a, 0xA5, sizeof out_a); memset(out_b, 0xA5, sizeof out_b); }

static const double kInf = __builtin_inf(), kNaN = __builtin_nan("");

// Samples for a width: random bytes, or doubles/floats around the grid with specials.
static void fill_samples(int w, double lo, double hi) {
    const size_t n = kMax + 16;
    if (w <= 1) { for (size_t i = 0; i < sizeof in_buf; ++i) in_buf[i] = (unsigned char)rnd(); return; }
    const double specials[] = {kNaN, -kNaN, kInf, -kInf, 0.0, -0.0, 5e-324, -5e-324, lo, hi, nextafter(lo, kInf), nextafter(lo, -kInf), nextafter(hi, kInf), nextafter(hi, -kInf), 1e300, -1e300};
    const double width = hi - lo;
    for (size_t i = 0; i < n; ++i) {
        double x;
        const uint64_t r = rnd() % 10;
        if (r == 0) x = specials[rnd() % 16];
        else if (__builtin_isfinite(width)) x = urand(lo - 0.1 * width, hi + 0.1 * width);
        else x = urand(-1e3, 1e3);
        if (w == 2) { float f = (float)x; memcpy(in_buf + 4 * i, &f, 4); if (4 * i + 4 > sizeof in_buf) break; }
        else { if (8 * i + 8 > sizeof in_buf) break; memcpy(in_buf + 8 * i, &x, 8); }
    }
}

static Grid make_grid(double lo, double hi, uint32_t entries) {
    const uint32_t last = entries - 1;
    const double scale = (double)last / (hi - lo);
    const bool finite = __builtin_isfinite(lo) && __builtin_isfinite(hi) && __builtin_isfinite(scale) && scale > 0.0;
    return {table, last, lo, hi, scale, (double)last, finite};
}

#ifndef SWEEP_MAX
#define SWEEP_MAX 90
#endif
static const size_t kSizes[] = {1, 2, 4, 8};

template <class Fn, class Call>
static void sweep(const char* what, size_t in_size, size_t out_size, Call call) {
    for (int nt = 0; nt < 2; ++nt) {
        for (size_t n = 0; n <= SWEEP_MAX; ++n) {
            for (size_t io = 0; io < 8; io += 3) {
                for (size_t oo = 0; oo < 8; oo += (nt ? out_size : 3)) {
                    clear_outs();
                    call(true, in_buf + io, out_a + oo, n, nt != 0);
                    call(false, in_buf + io, out_b + oo, n, nt != 0);
                    if (!same(oo + n * out_size)) report(what, n, io, oo, nt);
                }
            }
        }
        for (size_t n : {size_t{1000}, size_t{4099}}) {
            clear_outs();
            call(true, in_buf + 1, out_a + 2 * out_size, n, nt != 0);
            call(false, in_buf + 1, out_b + 2 * out_size, n, nt != 0);
            if (!same(2 * out_size + n * out_size)) report(what, n, 1, 2 * out_size, nt);
        }
    }
    (void)in_size;
}

extern "C" void check_main();
#if defined(HOSTED)
int main() { check_main(); }
#endif
extern "C" void check_main() {
    puts_("AVX-512 kernel set against the portable set\n");
    unsigned b;
    cpuid7(b);
    puts_("cpuid7.ebx avx512 f/dq/bw/vl: "); putu((b >> 16) & 1); putu((b >> 17) & 1); putu((b >> 30) & 1); putu((b >> 31) & 1); puts_("\n");
#if defined(HOSTED)
    const Kernels* v = avx2_kernels();
#else
    const Kernels* v = avx512_kernels();
#endif
    const Kernels& p = portable_kernels();
    if (v == nullptr) { puts_("no avx512 set\n"); return; }

    auto run_grids = [&]() {
    struct G { double lo, hi; uint32_t entries; int special; };
    const G grids[] = {{10.25, 200.5, 1000, 0}, {0.0, 255.0, 300, 1}, {-0.0, 4095.0, 300, 1}, {-3.0, 300.0, 64, 2},
                       {100.0, 100.0 + 1e-9, 50, 0}, {0.0, 5e-324, 10, 0}, {-1e308, 1e308, 100, 0}, {-kInf, 50.0, 8, 0},
                       {1.0, kInf, 8, 0}, {0.0, 65535.0, 32767, 0}, {2.5, 3.5, 2, 3}, {0.0, 255.0, 256, 0}};
    for (const G& gd : grids) {
        for (uint32_t i = 0; i < gd.entries; ++i) table[i] = urand(-1000.0, 1000.0);
        if (gd.special == 1) { table[0] = -0.0; table[1] = 0.0; }
        if (gd.special == 2) { table[5] = kInf; table[9] = -kInf; table[20] = kNaN; }
        if (gd.special == 3) { table[0] = -0.0; table[1] = 7.0; }
        const Grid g = make_grid(gd.lo, gd.hi, gd.entries);
        for (int w = 0; w < 4; ++w) {
            fill_samples(w, gd.lo, gd.hi);
            for (int f = 0; f < 2; ++f) {
                const InterpFn fv = f ? v->interp_f[w] : v->interp_d[w];
                const InterpFn fp = f ? p.interp_f[w] : p.interp_d[w];
                sweep<InterpFn>("interp", kSizes[w], f ? 4 : 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) {
                    (vec ? fv : fp)(g, in, out, n, nt);
                });
            }
        }
        puts_("grid done, checks "); putu(checks); puts_(" failures "); putu(failures); puts_("\n");
    }
    };
    run_grids();
    // Direct tables, bits and conversions.
    for (int i = 0; i < 4096; ++i) { dtable[i] = urand(-1e6, 1e6); ftable[i] = (float)urand(-1e6, 1e6); }
    dtable[0] = -0.0; dtable[4095] = kNaN;
    fill_samples(0, 0, 0);
    sweep<int>("index_u8_d", 1, 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->index_u8_d : p.index_u8_d)(dtable, in, out, n, nt); });
    sweep<int>("index_u8_f", 1, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->index_u8_f : p.index_u8_f)(ftable, in, out, n, nt); });
    sweep<int>("index_u16_d", 2, 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->index_u16_d : p.index_u16_d)(dtable, in, out, n, nt); });
    sweep<int>("index_u16_f", 2, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->index_u16_f : p.index_u16_f)(ftable, in, out, n, nt); });
    sweep<int>("index_u8_df", 1, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->index_u8_df : p.index_u8_df)(dtable, in, out, n, nt); });
    sweep<int>("index_u16_df", 2, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->index_u16_df : p.index_u16_df)(dtable, in, out, n, nt); });
    sweep<int>("bits_d", 1, 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->bits_d : p.bits_d)(-0.0, 3.5, in, out, n, nt); });
    sweep<int>("bits_f", 1, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->bits_f : p.bits_f)(1.25f, -7.0f, in, out, n, nt); });
    sweep<int>("u8_d", 1, 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->u8_d : p.u8_d)(in, out, n, nt); });
    sweep<int>("u8_f", 1, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->u8_f : p.u8_f)(in, out, n, nt); });
    sweep<int>("u16_d", 2, 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->u16_d : p.u16_d)(in, out, n, nt); });
    sweep<int>("u16_f", 2, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->u16_f : p.u16_f)(in, out, n, nt); });
    fill_samples(2, -1e40, 1e40);
    sweep<int>("f32_d", 4, 8, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->f32_d : p.f32_d)(in, out, n, nt); });
    fill_samples(3, -1e40, 1e40);
    sweep<int>("f64_f", 8, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->f64_f : p.f64_f)(in, out, n, nt); });
    sweep<int>("round_f", 8, 4, [&](bool vec, const void* in, void* out, size_t n, bool nt) { (vec ? v->round_f : p.round_f)(in, out, n, nt); });
    puts_("direct, bits and conversions done, checks "); putu(checks); puts_(" failures "); putu(failures); puts_("\n");
    puts_("ALL DONE checks "); putu(checks); puts_(" failures "); putu(failures); puts_("\n");
}
