// The C++ layer's lookups against the C interface: the same numbers bit for
// bit on every route, buffer checks before anything reaches the library,
// and the buffers a lookup accepts.
#include "calmgr.hpp"
#include "same_bits.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>
#if __cplusplus >= 202002L
#include <span>
#endif

namespace {

using calmgr::Error;
using calmgr::Fit;
using calmgr::IntensityCalibration;
using calmgr::Layout;
using calmgr::Rebuild;

// A calibration whose lookups interpolate (table not one entry per input).
IntensityCalibration interpolating() {
    const std::vector<CalPoint> pts{{0.0, 0.5}, {1000.0, 3.25}};
    IntensityCalibration cal;
    cal.set_points(pts, Rebuild::Deferred);
    cal.set_range({-10.0, 1000.0}, Rebuild::Deferred);
    cal.set_table_size(301);
    return cal;
}

template <class In, class Out>
std::vector<Out> c_lookup(const IntensityCal* cal, uint32_t type, const std::vector<In>& in,
                          std::size_t values, uint32_t count) {
    std::vector<Out> out(values);
    EXPECT_EQ(ICalLookupEx(cal, type, in.data(), count, out.data()), CAL_OK);
    return out;
}

TEST(Lookup, EveryRouteMatchesTheCInterfaceBitForBit) {
    for (int variant = 0; variant < 2; ++variant) {
        IntensityCalibration cal = variant == 0 ? IntensityCalibration() : interpolating();
        const IntensityCal* h = cal.get();
        std::vector<uint8_t> u8;
        std::vector<uint16_t> u16;
        std::vector<float> f32;
        std::vector<double> f64;
        for (int i = 0; i < 300; ++i) {
            u8.push_back(static_cast<uint8_t>(i * 7));
            u16.push_back(static_cast<uint16_t>(i * 331));
            f32.push_back(static_cast<float>(i) * 3.7f - 20.0f);
            f64.push_back(i * 3.3 - 15.0);
        }
        f32.push_back(std::numeric_limits<float>::quiet_NaN());
        f64.push_back(std::numeric_limits<double>::infinity());

        EXPECT_TRUE(same_bits(cal.lookup(u8), c_lookup<uint8_t, double>(h, 1, u8, 300, 300)));
        EXPECT_TRUE(same_bits(cal.lookup<float>(u8),
                              c_lookup<uint8_t, float>(h, 1 | ICAL_LOOKUP_FLOAT, u8, 300, 300)));
        EXPECT_TRUE(same_bits(cal.lookup(u8, Layout::Rgb),
                              c_lookup<uint8_t, double>(h, 3, u8, 300, 100)));
        EXPECT_TRUE(same_bits(cal.lookup(u16), c_lookup<uint16_t, double>(h, 4, u16, 300, 300)));
        EXPECT_TRUE(same_bits(cal.lookup<float>(u16, Layout::Rgb),
                              c_lookup<uint16_t, float>(h, 8 | ICAL_LOOKUP_FLOAT, u16, 300, 100)));
        EXPECT_TRUE(same_bits(cal.lookup(f32), c_lookup<float, double>(h, 5, f32, 301, 301)));
        EXPECT_TRUE(same_bits(cal.lookup<float>(f64),
                              c_lookup<double, float>(h, 7 | ICAL_LOOKUP_FLOAT, f64, 301, 301)));

        // Caller-buffer forms write the same values.
        std::vector<float> out(f32.size());
        cal.lookup(f32, out);
        EXPECT_TRUE(same_bits(out, c_lookup<float, float>(h, 5 | ICAL_LOOKUP_FLOAT, f32, 301, 301)));

        // Bit-packed: 13 pixels from two bytes.
        const std::vector<uint8_t> packed{0xA5, 0xF0};
        std::vector<double> bits(13);
        cal.lookup_bits(packed, 13, bits);
        EXPECT_TRUE(same_bits(bits, c_lookup<uint8_t, double>(h, 0, packed, 13, 13)));
        EXPECT_EQ(bits[0], cal.table().back());
        EXPECT_EQ(bits[1], cal.table().front());
    }
}

TEST(Lookup, FreeFunctionWithoutCalibrationPassesValuesThrough) {
    const std::vector<uint16_t> in{0, 1, 65535};
    std::vector<double> out(3);
    calmgr::lookup<uint16_t, double>(nullptr, in, out);
    EXPECT_EQ(out, (std::vector<double>{0.0, 1.0, 65535.0}));
}

TEST(Lookup, MismatchedBuffersAreRefusedBeforeTheLibraryIsCalled) {
    IntensityCalibration cal;
    const std::vector<uint8_t> in(6, 1);
    std::vector<double> out(6, -7.0);
    std::vector<double> short_out(5, -7.0);
    EXPECT_THROW(cal.lookup(in, short_out), Error);
    EXPECT_EQ(short_out, std::vector<double>(5, -7.0));
    const std::vector<uint8_t> seven(7, 1);
    std::vector<double> out7(7);
    EXPECT_THROW(cal.lookup(seven, out7, Layout::Rgb), Error);
    const std::vector<uint8_t> one_byte{0xFF};
    std::vector<double> nine(9);
    EXPECT_THROW(cal.lookup_bits(one_byte, 9, nine), Error);
    try {
        std::vector<float> f{1.0f, 2.0f, 3.0f};
        std::vector<double> o(3);
        calmgr::lookup<float, double>(cal.get(), f, o, Layout::Rgb);
        FAIL() << "RGB layout on floats accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), CAL_ERR_INVALID);
        EXPECT_STREQ(e.status_name(), "CAL_ERR_INVALID");
    }
}

TEST(Span, AcceptsArraysVectorsAndViewsOfTheRightElementOnly) {
    IntensityCalibration cal;
    uint8_t raw[4] = {1, 2, 3, 4};
    std::array<double, 4> out{};
    cal.lookup(raw, out);
    EXPECT_EQ(out[3], 4.0);
    cal.lookup(calmgr::Span<const uint8_t>(raw, 2), calmgr::Span<double>(out.data(), 2));
    // Inputs may be temporaries; outputs only lvalues or views.
    std::vector<float> fout(3);
    cal.lookup(std::vector<uint16_t>{7, 8, 9}, fout);
    EXPECT_EQ(fout[2], 9.0f);
    static_assert(std::is_convertible_v<std::vector<uint8_t>&, calmgr::Span<const uint8_t>>);
    static_assert(std::is_convertible_v<std::vector<uint8_t>&&, calmgr::Span<const uint8_t>>);
    static_assert(std::is_convertible_v<std::vector<double>&, calmgr::Span<double>>);
    static_assert(!std::is_convertible_v<std::vector<double>&&, calmgr::Span<double>>);
    static_assert(!std::is_convertible_v<std::array<double, 2>&&, calmgr::Span<double>>);
    static_assert(std::is_convertible_v<calmgr::Span<double>&&, calmgr::Span<double>>);
    static_assert(std::is_convertible_v<calmgr::Span<double>, calmgr::Span<const double>>);
    static_assert(!std::is_convertible_v<std::vector<int8_t>&, calmgr::Span<const uint8_t>>);
    static_assert(!std::is_convertible_v<const std::vector<double>&, calmgr::Span<double>>);
#if __cplusplus >= 202002L
    std::span<const uint8_t> s(raw, 4);
    std::vector<float> four(4);
    cal.lookup(s, std::span<float>(four));
    EXPECT_EQ(four[0], 1.0f);
    static_assert(std::is_convertible_v<std::span<double>&&, calmgr::Span<double>>);
#endif
}

}  // namespace
