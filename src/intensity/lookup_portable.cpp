// Portable lookup kernels: tight scalar loops that any processor runs, the
// fallback where no vector set applies. They differ from the plain loops in
// what they leave out (the libm floor call, per-value clamps a direct
// 8-bit table never needs) and in the bit route's nibble table, never in a
// result.
#include "intensity/lookup_scalar.h"

namespace calmgr::kern {
namespace {

template <class S, class O>
void interp(const Grid& g, const void* in, void* out, size_t n, bool) {
    interp_range<S, O>(g, in, out, 0, n);
}

template <class T, class O = T>
void index_u8(const T* table, const void* in, void* out, size_t n, bool) {
    const auto* s = static_cast<const uint8_t*>(in);
    for (size_t k = 0; k < n; ++k) store_at<O>(out, k, static_cast<O>(table[s[k]]));
}

template <class T, class O = T>
void index_u16(const T* table, const void* in, void* out, size_t n, bool) {
    for (size_t k = 0; k < n; ++k) {
        const uint32_t s = load_at<uint16_t>(in, k);
        store_at<O>(out, k, static_cast<O>(table[s < 4095u ? s : 4095u]));
    }
}

// Each nibble of a byte selects four ready output values.
template <class T>
void bits(T clear, T set, const void* in, void* out, size_t n, bool) {
    T nib[16][4];
    for (int v = 0; v < 16; ++v) {
        for (int j = 0; j < 4; ++j) nib[v][j] = (v >> (3 - j)) & 1 ? set : clear;
    }
    const auto* b = static_cast<const uint8_t*>(in);
    auto* o = static_cast<unsigned char*>(out);
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const unsigned byte = b[k >> 3];
        std::memcpy(o + k * sizeof(T), nib[byte >> 4], sizeof nib[0]);
        std::memcpy(o + (k + 4) * sizeof(T), nib[byte & 15u], sizeof nib[0]);
    }
    for (; k < n; ++k) store_at<T>(out, k, (b[k >> 3] >> (7 - (k & 7))) & 1u ? set : clear);
}

template <class S, class O>
void convert(const void* in, void* out, size_t n, bool) {
    for (size_t k = 0; k < n; ++k) store_at<O>(out, k, static_cast<O>(load_at<S>(in, k)));
}

void bits_d(double c, double s, const void* in, void* out, size_t n, bool nt) { bits<double>(c, s, in, out, n, nt); }
void bits_f(float c, float s, const void* in, void* out, size_t n, bool nt) { bits<float>(c, s, in, out, n, nt); }

const Kernels kPortable = {
    Isa::portable,
    {interp<uint8_t, double>, interp<uint16_t, double>, interp<float, double>, interp<double, double>},
    {interp<uint8_t, float>, interp<uint16_t, float>, interp<float, float>, interp<double, float>},
    index_u8<double>, index_u8<float>, index_u16<double>, index_u16<float>,
    index_u8<double, float>, index_u16<double, float>,
    bits_d, bits_f,
    convert<uint8_t, double>, convert<uint8_t, float>, convert<uint16_t, double>, convert<uint16_t, float>,
    convert<float, double>, convert<double, float>,
    convert<double, float>,
};

}  // namespace

const Kernels& portable_kernels() { return kPortable; }

}  // namespace calmgr::kern
