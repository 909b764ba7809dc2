// ICalLookup / ICalLookupEx: every route, direct indexing against
// interpolation, clamping, the unchanged conversions and bad buffers.
#include "calmgr.h"
#include "intensity/ical.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

struct Cal {
    IntensityCal* p = ICalCreate();
    ~Cal() { ICalDestroy(p); }
};

// A type 2 calibration with the table 0, 10, 30, 60, 100 over 0..8.
struct FiveEntries : Cal {
    FiveEntries() {
        double hi = 8.0;
        ICalControl(p, ICAL_SET_RANGE_MAX, 0, 0, &hi);
        ICalControl(p, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr);
        double t[5] = {0, 10, 30, 60, 100};
        ICalControl(p, ICAL_SET_TABLE, 5, 0, t);
    }
};

template <class S>
std::vector<double> run(const IntensityCal* cal, uint32_t type, const std::vector<S>& s, uint32_t count) {
    std::vector<double> out(s.size(), -7.0);
    EXPECT_EQ(ICalLookupEx(cal, type, s.data(), count, out.data()), CAL_OK);
    return out;
}

TEST(Lookup, FreshCalibrationIndexesEightBitSamplesDirectly) {
    Cal cal;
    const std::vector<uint8_t> s = {0, 7, 255};
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_U8, s, 3), (std::vector<double>{0, 7, 255}));
    std::vector<float> f(3);
    ASSERT_EQ(ICalLookupEx(cal.p, ICAL_SAMPLE_U8 | ICAL_LOOKUP_FLOAT, s.data(), 3, f.data()), CAL_OK);
    EXPECT_EQ(f, (std::vector<float>{0, 7, 255}));
    // 16-bit samples interpolate on an 8-bit table and clamp above it.
    const std::vector<uint16_t> w = {100, 300};
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_U16, w, 2), (std::vector<double>{100, 255}));
}

TEST(Lookup, InterpolationClampsAtBothEnds) {
    FiveEntries cal;
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_U8, std::vector<uint8_t>{3, 8, 9}, 3), (std::vector<double>{20, 100, 100}));
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_F32, std::vector<float>{-0.5f, NAN, INFINITY, 7.0f}, 4),
              (std::vector<double>{0, 0, 100, 80}));
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_F64, std::vector<double>{-0.5, -INFINITY, 1.0, 8.0}, 4),
              (std::vector<double>{0, 0, 5, 100}));
}

TEST(Lookup, EveryValueOfARunIsConverted) {
    // RGB layouts convert three values per pixel; 16-bit direct tables
    // clamp samples past their end to the last entry.
    Cal cal;
    double hi = 4095.0;
    ICalControl(cal.p, ICAL_SET_RANGE_MAX, 0, 1, &hi);
    CalPoint pts[2] = {{0, 0}, {4095, 8190}};
    ICalControl(cal.p, ICAL_SET_POINTS, 2, 1, pts);
    ICalControl(cal.p, ICAL_SET_TABLE_SIZE, 4096, 0, nullptr);
    ASSERT_EQ(cal.p->direct_mode, 2);
    const std::vector<uint16_t> rgb = {0, 1, 2, 4095, 4096, 65535, 9};
    for (uint32_t code : {8u, 9u}) {
        auto out = run(cal.p, code, rgb, 2);
        EXPECT_EQ(out, (std::vector<double>{0, 2, 4, 8190, 8190, 8190, -7})) << code;
    }
    const std::vector<uint8_t> rgb8 = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_U8_RGB, rgb8, 2), (std::vector<double>{2, 4, 6, 8, 10, 12, -7}));
}

TEST(Lookup, BitsTakeTheEndEntriesOfTheTable) {
    const std::vector<uint8_t> bits = {0xA0, 0x80};
    EXPECT_EQ(run<uint8_t>(nullptr, ICAL_SAMPLE_BITS, bits, 2), (std::vector<double>{1, 0}));
    std::vector<double> out(9);
    ICalLookupEx(nullptr, ICAL_SAMPLE_BITS, bits.data(), 9, out.data());
    EXPECT_EQ(out, (std::vector<double>{1, 0, 1, 0, 0, 0, 0, 0, 1}));
    Cal cal;
    ICalLookupEx(cal.p, ICAL_SAMPLE_BITS, bits.data(), 3, out.data());
    EXPECT_EQ(std::vector<double>(out.begin(), out.begin() + 3), (std::vector<double>{255, 0, 255}));
    // The bit route ignores an empty range but not type 3.
    double hi = 0.0;
    ICalControl(cal.p, ICAL_SET_RANGE_MAX, 0, 1, &hi);
    ICalLookupEx(cal.p, ICAL_SAMPLE_BITS, bits.data(), 1, out.data());
    EXPECT_EQ(out[0], 255.0);
    ICalControl(cal.p, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr);
    ICalLookupEx(cal.p, ICAL_SAMPLE_BITS, bits.data(), 1, out.data());
    EXPECT_EQ(out[0], 1.0);
}

TEST(Lookup, UnusableCalibrationsPassValuesThrough) {
    Cal none, empty;
    ICalControl(none.p, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr);
    double zero = 0.0;
    ICalControl(empty.p, ICAL_SET_RANGE_MAX, 0, 0, &zero);
    for (IntensityCal* cal : {none.p, empty.p, static_cast<IntensityCal*>(nullptr)}) {
        EXPECT_EQ(run(cal, ICAL_SAMPLE_U8, std::vector<uint8_t>{200}, 1)[0], 200.0);
        EXPECT_EQ(run(cal, ICAL_SAMPLE_U16, std::vector<uint16_t>{65535}, 1)[0], 65535.0);
        EXPECT_EQ(run(cal, ICAL_SAMPLE_F32, std::vector<float>{0.1f}, 1)[0], double(0.1f));
    }
    Cal nan_range;
    double nan = NAN;
    ICalControl(nan_range.p, ICAL_SET_RANGE_MIN, 0, 0, &nan);
    EXPECT_EQ(run(nan_range.p, ICAL_SAMPLE_U8, std::vector<uint8_t>{5}, 1)[0], 5.0);
}

TEST(Lookup, UnchangedConversionsAndOutputFlags) {
    const std::vector<double> d = {0.1, -3.5, 1e300};
    std::vector<float> f(3);
    ASSERT_EQ(ICalLookupEx(nullptr, 0x1007, d.data(), 3, f.data()), CAL_OK);
    EXPECT_EQ(f, (std::vector<float>{0.1f, -3.5f, std::numeric_limits<float>::infinity()}));
    // Bit 13 and the other high bits are ignored: 0x2005 is float in, double out.
    const std::vector<float> in = {1.5f, 0.1f};
    EXPECT_EQ(run(nullptr, 0x2005, in, 2), (std::vector<double>{1.5, double(0.1f)}));
    // Codes above 9 read doubles.
    EXPECT_EQ(run(nullptr, 200, d, 3), d);
    // In place with equal widths: nothing to do, values stay.
    std::vector<double> same = d;
    ASSERT_EQ(ICalLookupEx(nullptr, ICAL_SAMPLE_F64, same.data(), 3, same.data()), CAL_OK);
    EXPECT_EQ(same, d);
}

TEST(Lookup, ShortCountReadsOnlyItsLow16Bits) {
    Cal cal;
    std::vector<uint8_t> s(65537, 9);
    std::vector<double> out(65537, -1.0);
    ASSERT_EQ(ICalLookup(cal.p, ICAL_SAMPLE_U8, s.data(), 65537, out.data()), CAL_OK);
    EXPECT_EQ(out[0], 9.0);
    EXPECT_EQ(out[1], -1.0);
    ASSERT_EQ(ICalLookupEx(cal.p, ICAL_SAMPLE_U8, s.data(), 65537, out.data()), CAL_OK);
    EXPECT_EQ(out[65536], 9.0);
}

TEST(Lookup, NullBuffersAreRefusedUnlessNothingIsConverted) {
    Cal cal;
    uint8_t s = 1;
    double out = -1.0;
    EXPECT_EQ(ICalLookupEx(cal.p, ICAL_SAMPLE_U8, nullptr, 1, &out), CAL_ERR_INVALID);
    EXPECT_EQ(ICalLookupEx(cal.p, ICAL_SAMPLE_U8, &s, 1, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(ICalLookup(cal.p, ICAL_SAMPLE_U8, nullptr, 0x10000, nullptr), CAL_OK);  // count 0
    EXPECT_EQ(ICalLookupEx(nullptr, ICAL_SAMPLE_BITS, nullptr, 0, nullptr), CAL_OK);
    EXPECT_EQ(out, -1.0);
}

TEST(Lookup, InterpolationSurvivesDegenerateScales) {
    // A range so narrow that the scale overflows: values at range_min give
    // t = 0 * inf = NaN, which must land on entry 0, never in an integer.
    FiveEntries cal;
    double lo = 5e-324, hi = 1e-323;
    ICalControl(cal.p, ICAL_SET_RANGE_MIN, 0, 0, &lo);
    ICalControl(cal.p, ICAL_SET_RANGE_MAX, 0, 0, &hi);
    EXPECT_EQ(run(cal.p, ICAL_SAMPLE_F64, std::vector<double>{5e-324, 1e-323, 0.0}, 3),
              (std::vector<double>{0, 100, 0}));
}

TEST(Lookup, InterpolatesInPlaceForEqualWidths) {
    FiveEntries cal;
    std::vector<double> v = {1, 2, 3, 7.5};
    calmgr::interpolate_lookup(cal.p, v.data(), v.data(), v.size(), 8, 0);
    EXPECT_EQ(v, (std::vector<double>{5, 10, 20, 90}));
}

}  // namespace
