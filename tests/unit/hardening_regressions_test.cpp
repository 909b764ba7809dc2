// Regression tests for faults that the allocation-failure sweep and the
// fuzz harnesses found, each named for what went wrong.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<double> table_of(IntensityCal* cal) {
    uint16_t n = 0;
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n), CAL_OK);
    std::vector<double> table(n);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE, 0, 0, table.data()), CAL_OK);
    return table;
}

void expect_stats_bound_numeric_entries(IntensityCal* cal) {
    double lo = 0, hi = 0;
    ASSERT_EQ(ICalControl(cal, ICAL_GET_TABLE_MIN, 0, 0, &lo), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_GET_TABLE_MAX, 0, 0, &hi), CAL_OK);
    EXPECT_FALSE(std::isnan(lo));
    EXPECT_FALSE(std::isnan(hi));
    for (double v : table_of(cal)) {
        if (std::isnan(v)) continue;
        EXPECT_LE(lo, v);
        EXPECT_GE(hi, v);
    }
}

TEST(HardeningRegression, TwoPointStepWithANaNValueGaveANaNStatistic) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    const CalPoint nan_first[2] = {{100, NAN}, {100, 3}};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 0, const_cast<CalPoint*>(nan_first)), CAL_OK);
    expect_stats_bound_numeric_entries(cal);
    const CalPoint nan_second[2] = {{100, 3}, {100, NAN}};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 0, const_cast<CalPoint*>(nan_second)), CAL_OK);
    expect_stats_bound_numeric_entries(cal);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

}  // namespace
