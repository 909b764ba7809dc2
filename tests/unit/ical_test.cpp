// Intensity calibration record: defaults, the two-point builder, statistics
// and the direct-indexing rule.
#include "calmgr.h"
#include "intensity/ical.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Cal {
    IntensityCal* p = ICalCreate();
    ~Cal() { ICalDestroy(p); }
    std::vector<double> table() const {
        std::vector<double> t(p->table_size);
        ICalControl(p, ICAL_GET_TABLE, 0, 0, t.data());
        return t;
    }
    int32_t set_points(std::vector<CalPoint> pts, int32_t defer = 0) {
        return ICalControl(p, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), defer, pts.data());
    }
};

TEST(IntensityCal, FreshCalibrationHasTheIdentityTable) {
    Cal cal;
    ASSERT_NE(cal.p, nullptr);
    const auto t = cal.table();
    ASSERT_EQ(t.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], i);
    EXPECT_EQ(cal.p->table_min, 0.0);
    EXPECT_EQ(cal.p->table_max, 255.0);
    EXPECT_EQ(cal.p->direct_mode, 1);
    EXPECT_EQ(cal.p->attribute, 1);
    char units[128];
    ICalControl(cal.p, ICAL_GET_UNITS, 0, 0, units);
    EXPECT_STREQ(units, "Gray Level");
    uint32_t type = 99;
    ICalControl(cal.p, ICAL_GET_TYPE, 0, 0, &type);
    EXPECT_EQ(type, 0u);
}

TEST(IntensityCal, TwoPointLineIsExtrapolatedOverTheRange) {
    Cal cal;
    ASSERT_EQ(cal.set_points({{10, 0}, {20, 1}}), CAL_OK);
    const auto t = cal.table();
    EXPECT_EQ(t[0], -1.0);
    EXPECT_EQ(t[10], 0.0);
    EXPECT_EQ(t[255], 24.5);
    EXPECT_EQ(cal.p->table_min, -1.0);
    EXPECT_EQ(cal.p->table_max, 24.5);
}

TEST(IntensityCal, EqualInputsGiveAStep) {
    Cal cal;
    ASSERT_EQ(cal.set_points({{100, 7}, {100, 5}}), CAL_OK);
    const auto t = cal.table();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(t[i], 7.0) << i;
    for (int i = 100; i < 256; ++i) ASSERT_EQ(t[i], 5.0) << i;
    EXPECT_EQ(cal.p->table_min, 5.0);
    EXPECT_EQ(cal.p->table_max, 7.0);
}

TEST(IntensityCal, DescendingPointsGiveAFallingTable) {
    Cal cal;
    ASSERT_EQ(cal.set_points({{255, 0}, {0, 255}}), CAL_OK);
    const auto t = cal.table();
    EXPECT_EQ(t[0], 255.0);
    EXPECT_EQ(t[255], 0.0);
    for (int i = 1; i < 256; ++i) ASSERT_LT(t[i], t[i - 1]);
}

TEST(IntensityCal, GridInputsAdvanceByRepeatedAddition) {
    // Range 0..1 over 11 entries: the running input 0.1 + 0.1 + 0.1 ... is
    // not i * 0.1, and the table must follow the running sum.
    Cal cal;
    double one = 1.0;
    ASSERT_EQ(ICalControl(cal.p, ICAL_SET_RANGE_MAX, 0, 1, &one), CAL_OK);
    ASSERT_EQ(ICalControl(cal.p, ICAL_SET_TABLE_SIZE, 11, 1, nullptr), CAL_OK);
    ASSERT_EQ(cal.set_points({{0, 0}, {1, 1}}), CAL_OK);
    const auto t = cal.table();
    double x = 0.0;
    for (int i = 0; i < 11; ++i, x += 0.1) EXPECT_EQ(t[i], x) << i;
}

TEST(IntensityCal, DirectModeFollowsRangeAndSize) {
    Cal cal;
    double v = 4095.0;
    ASSERT_EQ(ICalControl(cal.p, ICAL_SET_RANGE_MAX, 0, 0, &v), CAL_OK);
    EXPECT_EQ(cal.p->direct_mode, 0);
    ASSERT_EQ(ICalControl(cal.p, ICAL_SET_TABLE_SIZE, 4096, 0, nullptr), CAL_OK);
    EXPECT_EQ(cal.p->direct_mode, 2);
    v = 1.0;
    ASSERT_EQ(ICalControl(cal.p, ICAL_SET_RANGE_MIN, 0, 0, &v), CAL_OK);
    EXPECT_EQ(cal.p->direct_mode, 0);

    Cal other;
    double lo = 1.0, hi = 256.0;
    ICalControl(other.p, ICAL_SET_RANGE_MIN, 0, 1, &lo);
    ICalControl(other.p, ICAL_SET_RANGE_MAX, 0, 0, &hi);
    EXPECT_EQ(other.p->direct_mode, 0);
}

TEST(IntensityCal, StatisticsSkipNaNEntries) {
    Cal cal;
    const double table[4] = {NAN, 3.0, -2.0, NAN};
    ASSERT_EQ(ICalControl(cal.p, ICAL_SET_TABLE, 4, 0, const_cast<double*>(table)), CAL_OK);
    EXPECT_EQ(cal.p->table_min, -2.0);
    EXPECT_EQ(cal.p->table_max, 3.0);
}

TEST(IntensityCal, RecomputeRefusesUnknownTypes) {
    Cal cal;
    cal.p->cal_type = 4;
    const auto before = cal.table();
    EXPECT_EQ(calmgr::recompute(cal.p), CAL_ERR_INVALID);
    EXPECT_EQ(cal.table(), before);
    EXPECT_EQ(calmgr::recompute(nullptr), CAL_ERR_INVALID);
    cal.p->cal_type = 0;
}

}  // namespace
