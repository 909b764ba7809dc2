// Shared by the fuzz harnesses: reading a fuzzer's bytes as typed values, and
// the invariant check. Running out of input yields zeros, so every input,
// however short, is a complete program.
#pragma once

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

// A harness invariant: a violation is reported and aborts, so libFuzzer
// keeps the input.
#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    uint64_t u64() { return static_cast<uint64_t>(u32()) | (static_cast<uint64_t>(u32()) << 32); }
    bool flag() { return (u8() & 1) != 0; }

    // A value in 0 .. n-1 (n > 0).
    uint32_t below(uint32_t n) { return n <= 256 ? u8() % n : u32() % n; }

    // Doubles that reach the interesting corners often: special values,
    // small integers on the default grid, and arbitrary bit patterns.
    double real() {
        static const double kSpecial[] = {
            0.0, -0.0, 1.0, -1.0, 0.5, 255.0, 254.5, 4095.0, 256.0, 100.0, 1e-300, -1e-300,
            1e300, -1e300, DBL_MAX, -DBL_MAX, DBL_MIN, 4.9406564584124654e-324,
            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::quiet_NaN(), 1e9, -1e9, 65535.0, 2147483648.0, 1e19};
        const uint8_t kind = u8();
        switch (kind % 5) {
            case 0: return kSpecial[u8() % (sizeof kSpecial / sizeof kSpecial[0])];
            case 1: return static_cast<double>(static_cast<int8_t>(u8()) % 4 * 85);  // collisions
            case 2: return static_cast<double>(u16()) / 16.0 - 100.0;
            case 3: return static_cast<double>(static_cast<int16_t>(u16()));
            default: {
                const uint64_t bits = u64();
                double v;
                std::memcpy(&v, &bits, sizeof v);
                return v;
            }
        }
    }

    void bytes(void* out, size_t n) {
        auto* o = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < n; ++i) o[i] = u8();
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fuzz
