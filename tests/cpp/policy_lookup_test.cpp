// Policy lookups through the C++ layer against ICalLookupPolicy: the same
// values bit for bit and the same counts on every sample route, policy and
// output type; refusals before the library is reached; the counts in words.
#include "calmgr.hpp"
#include "same_bits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using calmgr::Error;
using calmgr::IntensityCalibration;
using calmgr::Layout;
using calmgr::LookupStats;
using calmgr::Policy;

// A calibration over 20..200, so that 8-bit, 16-bit and float samples fall
// on both sides of it.
IntensityCalibration narrow() {
    const std::vector<CalPoint> pts{{20.0, 1.0}, {90.0, 2.5}, {200.0, 7.0}};
    return IntensityCalibration::from_points(pts, calmgr::Fit::Piecewise, calmgr::Range{20.0, 200.0}, 301);
}

template <class In, class Out>
void expect_as_c(const IntensityCalibration& cal, const std::vector<In>& in, uint32_t code, Layout layout,
                 Policy policy) {
    const auto got = cal.lookup<Out>(in, policy, layout);
    const uint64_t pixels = layout == Layout::Rgb ? in.size() / 3 : in.size();
    std::vector<Out> want(in.size());
    CalLookupStats s{};
    ASSERT_EQ(ICalLookupPolicy(cal.get(), code | (sizeof(Out) == 4 ? ICAL_LOOKUP_FLOAT : 0u), in.data(), pixels,
                               want.data(), static_cast<uint32_t>(policy), &s),
              CAL_OK);
    EXPECT_TRUE(same_bits(got.values, want)) << "code " << code << " policy " << static_cast<int>(policy);
    EXPECT_EQ(got.stats.below, s.below);
    EXPECT_EQ(got.stats.above, s.above);
    EXPECT_EQ(got.stats.nan, s.nan);
    EXPECT_EQ(got.stats.total, in.size());

    // The caller-buffer form writes the same values and gives the same counts.
    std::vector<Out> out(in.size());
    const LookupStats stats = cal.lookup(in, out, policy, layout);
    EXPECT_TRUE(same_bits(out, want));
    EXPECT_EQ(stats.below, s.below);
    EXPECT_EQ(stats.above, s.above);
    EXPECT_EQ(stats.nan, s.nan);
}

TEST(PolicyLookup, EveryRouteAndPolicyMatchesTheCInterface) {
    const IntensityCalibration cal = narrow();
    std::vector<uint8_t> u8;
    std::vector<uint16_t> u16;
    std::vector<float> f32;
    std::vector<double> f64;
    for (int i = 0; i < 300; ++i) {
        u8.push_back(static_cast<uint8_t>(i * 7));
        u16.push_back(static_cast<uint16_t>(i * 3));
        f32.push_back(static_cast<float>(i) * 0.9f - 10.0f);
        f64.push_back(i * 0.8 - 5.0);
    }
    f32[5] = std::numeric_limits<float>::quiet_NaN();
    f32[6] = -std::numeric_limits<float>::infinity();
    f64[7] = std::numeric_limits<double>::quiet_NaN();
    f64[8] = std::numeric_limits<double>::infinity();
    for (Policy p :
         {Policy::Clamp, Policy::OutsideNan, Policy::NanPropagate, Policy::OutsideNan | Policy::NanPropagate}) {
        expect_as_c<uint8_t, double>(cal, u8, ICAL_SAMPLE_U8, Layout::Plain, p);
        expect_as_c<uint8_t, float>(cal, u8, ICAL_SAMPLE_U8_RGB, Layout::Rgb, p);
        expect_as_c<uint16_t, float>(cal, u16, ICAL_SAMPLE_U16, Layout::Plain, p);
        expect_as_c<uint16_t, double>(cal, u16, ICAL_SAMPLE_U16_RGB, Layout::Rgb, p);
        expect_as_c<float, double>(cal, f32, ICAL_SAMPLE_F32, Layout::Plain, p);
        expect_as_c<double, float>(cal, f64, ICAL_SAMPLE_F64, Layout::Plain, p);
    }
}

TEST(PolicyLookup, ClampGivesThePlainLookupAndCountsWhatFellOutside) {
    const IntensityCalibration cal = narrow();
    const std::vector<double> in{0.0, 20.0, 100.0, 200.0, 250.0, 300.0, std::nan("")};
    const auto r = cal.lookup(in, Policy::Clamp);
    EXPECT_TRUE(same_bits(r.values, cal.lookup(in)));
    EXPECT_EQ(r.stats.below, 1u);
    EXPECT_EQ(r.stats.above, 2u);
    EXPECT_EQ(r.stats.nan, 1u);
    EXPECT_FALSE(r.stats.all_inside());
    EXPECT_EQ(r.stats.describe(), "of 7 values, 1 lies below the calibrated range, 2 lie above it and 1 is NaN");

    const auto nan = cal.lookup(in, Policy::OutsideNan | Policy::NanPropagate);
    for (std::size_t i : {0u, 4u, 5u, 6u}) EXPECT_TRUE(std::isnan(nan.values[i])) << i;
    for (std::size_t i : {1u, 2u, 3u}) EXPECT_EQ(nan.values[i], r.values[i]) << i;

    const auto inside = cal.lookup(std::vector<uint8_t>{20, 30, 200}, Policy::OutsideNan);
    EXPECT_TRUE(inside.stats.all_inside());
    EXPECT_EQ(inside.stats.describe(), "");
    const auto above = cal.lookup(std::vector<uint8_t>{201, 255}, Policy::Clamp);
    EXPECT_EQ(above.stats.describe(), "of 2 values, 2 lie above the calibrated range");
}

TEST(PolicyLookup, RefusalsWriteNothing) {
    const IntensityCalibration cal = narrow();
    const std::vector<uint8_t> in(6, 1);
    std::vector<double> short_out(5, -7.0);
    EXPECT_THROW((void)cal.lookup(in, short_out, Policy::OutsideNan), Error);
    EXPECT_EQ(short_out, std::vector<double>(5, -7.0));
    std::vector<double> out(6, -7.0);
    try {
        (void)cal.lookup(in, out, static_cast<Policy>(4));
        FAIL() << "unknown policy bits accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), CAL_ERR_INVALID);
    }
    EXPECT_EQ(out, std::vector<double>(6, -7.0));
    const std::vector<uint8_t> seven(7, 1);
    std::vector<double> out7(7);
    EXPECT_THROW((void)cal.lookup(seven, out7, Policy::Clamp, Layout::Rgb), Error);

    // The free function without a calibration: values pass through, nothing is outside.
    const std::vector<float> f{-1.0f, 1e9f};
    std::vector<double> o(2);
    const LookupStats s = calmgr::lookup<float, double>(nullptr, f, o, Policy::OutsideNan);
    EXPECT_TRUE(s.all_inside());
    EXPECT_EQ(o, (std::vector<double>{-1.0, 1e9}));
}

}  // namespace
