// Regression tests for faults that the allocation-failure sweep and the
// fuzz harnesses found, each named for what went wrong.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
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

std::pair<double, double> stats_of(IntensityCal* cal) {
    double lo = NAN, hi = NAN;
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE_MIN, 0, 0, &lo), CAL_OK);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE_MAX, 0, 0, &hi), CAL_OK);
    return {lo, hi};
}

// A table that reaches type 2 through ICAL_SET_TYPE has no builder: its
// statistics must come from the table itself, not from the one it replaced.
TEST(HardeningRegression, SuppliedTypeKeptTheStatisticsOfAFreedTable) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    double lo = 1875.25;  // a line over an inverted range: statistics 255 .. 1875.25
    ASSERT_EQ(ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 0, &lo), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr), CAL_OK);
    const std::vector<double> table = table_of(cal);
    ASSERT_EQ(table.size(), 256u);
    for (double v : table) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(stats_of(cal), std::make_pair(0.0, 0.0));
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(HardeningRegression, SuppliedTypeKeptTheStatisticsOfATableReplacedByADeferredResize) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    const CalPoint points[2] = {{0, 10}, {255, 500}};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 0, const_cast<CalPoint*>(points)), CAL_OK);
    ASSERT_EQ(stats_of(cal), std::make_pair(10.0, 500.0));

    // The deferred resize keeps the old statistics until the next rebuild,
    // and so does a deferred change of type ...
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 300, 1, nullptr), CAL_OK);
    EXPECT_EQ(stats_of(cal), std::make_pair(10.0, 500.0));
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 1, nullptr), CAL_OK);
    EXPECT_EQ(stats_of(cal), std::make_pair(10.0, 500.0));
    // ... and the rebuild of the supplied table reads the zero-filled block.
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr), CAL_OK);
    EXPECT_EQ(table_of(cal).size(), 300u);
    EXPECT_EQ(stats_of(cal), std::make_pair(0.0, 0.0));
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

// For a table the caller supplied, a rebuild (here by a range change) gives
// the statistics that supplying it gave: NaN entries skipped.
TEST(HardeningRegression, SuppliedTableRebuildKeepsItsOwnStatistics) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr), CAL_OK);
    const double table[4] = {NAN, 7.5, -2.0, 3.0};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE, 4, 0, const_cast<double*>(table)), CAL_OK);
    EXPECT_EQ(stats_of(cal), std::make_pair(-2.0, 7.5));
    double hi = 1000.0;
    ASSERT_EQ(ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 0, &hi), CAL_OK);
    EXPECT_EQ(stats_of(cal), std::make_pair(-2.0, 7.5));
    expect_stats_bound_numeric_entries(cal);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

}  // namespace
