// Optical-density tables: the documented values on the default grid, and
// levels or ranges that leave nothing to compute staying inside the table.
#include "calmgr.h"
#include "intensity/ical.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The library calls log10 at run time; a constant folded by the compiler can
// differ from the C library's result in the last bit.
double od(double ratio) {
    volatile double r = ratio;
    return -std::log10(r);
}

struct Density {
    IntensityCal* cal = ICalCreate();
    Density() { ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 1, nullptr); }
    ~Density() { ICalDestroy(cal); }
    int32_t levels(double black, double incident) {
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
        return ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 0, &incident);
    }
    double at(int i) const { return cal->table[i]; }
    // Statistics bound every entry and are attained.
    void expect_consistent_stats() const {
        bool min_seen = false, max_seen = false;
        for (int i = 0; i < cal->table_size; ++i) {
            ASSERT_FALSE(std::isnan(at(i))) << i;
            ASSERT_LE(cal->table_min, at(i)) << i;
            ASSERT_GE(cal->table_max, at(i)) << i;
            min_seen |= at(i) == cal->table_min;
            max_seen |= at(i) == cal->table_max;
        }
        EXPECT_TRUE(min_seen && max_seen);
    }
};

TEST(Density, FullRangeFromZero) {
    Density d;
    ASSERT_EQ(d.levels(0, 255), CAL_OK);
    EXPECT_EQ(d.at(0), od(1.0 / 255.0));
    EXPECT_EQ(d.at(1), d.at(0));
    for (int i = 1; i < 256; ++i) ASSERT_EQ(d.at(i), od(i / 255.0)) << i;
    EXPECT_EQ(d.at(255), 0.0);
    EXPECT_EQ(d.cal->table_min, 0.0);
    EXPECT_EQ(d.cal->table_max, d.at(0));
    EXPECT_NEAR(d.cal->table_max, 2.40654, 1e-5);
}

TEST(Density, FlatBeyondBothLevels) {
    Density d;
    ASSERT_EQ(d.levels(10, 200), CAL_OK);
    for (int i = 0; i <= 11; ++i) ASSERT_EQ(d.at(i), od(1.0 / 190.0)) << i;
    EXPECT_NEAR(d.at(20), od(1.0 / 19.0), 1e-12);
    for (int i = 200; i < 256; ++i) ASSERT_EQ(d.at(i), 0.0) << i;
    d.expect_consistent_stats();
}

TEST(Density, BlackLevelBetweenGridInputsShiftsTheEvaluation) {
    Density d;
    ASSERT_EQ(d.levels(10.5, 200), CAL_OK);
    // Entry 11 is evaluated at 10.5 itself, entry 200 at 199.5.
    EXPECT_EQ(d.at(11), od(1.0 / 189.5));
    EXPECT_EQ(d.at(10), d.at(11));
    EXPECT_EQ(d.at(200), od(189.0 / 189.5));
    for (int i = 201; i < 256; ++i) ASSERT_EQ(d.at(i), d.at(200));
    EXPECT_EQ(d.cal->table_min, d.at(200));
    EXPECT_NEAR(d.cal->table_min, 0.0011474, 1e-7);
}

TEST(Density, IncidentBeyondTheRangeEndsAtAPositiveDensity) {
    Density d;
    ASSERT_EQ(d.levels(0, 510), CAL_OK);
    EXPECT_NEAR(d.at(255), od(0.5), 1e-12);
    EXPECT_EQ(d.cal->table_min, d.at(255));
}

TEST(Density, BlackBelowTheRangeNeedsNoSubstitution) {
    Density d;
    ASSERT_EQ(d.levels(-10, 245), CAL_OK);
    EXPECT_EQ(d.at(0), od(10.0 / 255.0));
    EXPECT_EQ(d.at(245), 0.0);
    for (int i = 246; i < 256; ++i) ASSERT_EQ(d.at(i), 0.0);
}

TEST(Density, IncidentNotAboveBlackIsRefusedAndChangesNothing) {
    Density d;
    ASSERT_EQ(d.levels(0, 255), CAL_OK);
    const std::vector<double> before(d.cal->table, d.cal->table + 256);
    const double lo = d.cal->table_min, hi = d.cal->table_max;
    EXPECT_EQ(d.levels(100, 100), CAL_ERR_INVALID);
    EXPECT_EQ(d.levels(100, 50), CAL_ERR_INVALID);
    EXPECT_EQ(d.levels(NAN, 50), CAL_ERR_INVALID);
    EXPECT_EQ(d.levels(-INFINITY, 50), CAL_ERR_INVALID);
    EXPECT_EQ(d.levels(-1e308, 1e308), CAL_ERR_INVALID);  // the span overflows
    EXPECT_EQ(std::vector<double>(d.cal->table, d.cal->table + 256), before);
    EXPECT_EQ(d.cal->table_min, lo);
    EXPECT_EQ(d.cal->table_max, hi);
}

TEST(Density, LevelsLeavingNothingToComputeStayInsideTheTable) {
    struct Case {
        double black, incident;
        double first_value, last_value;  // entry 0 and entry 255
    };
    const double densest = od(1.0 / 10.0);  // step 1, span 10
    for (const Case& c : {Case{300, 310, densest, densest},   // black above the range
                          Case{-20, -10, 0.0, 0.0},           // incident below the range
                          Case{100.2, 100.7, 0, 0}}) {        // both between 100 and 101
        Density d;
        ASSERT_EQ(d.levels(c.black, c.incident), CAL_OK) << c.black;
        if (c.black == 100.2) {
            const double dense = od(1.0 / 0.5);
            for (int i = 0; i <= 100; ++i) ASSERT_EQ(d.at(i), dense) << i;
            for (int i = 101; i < 256; ++i) ASSERT_EQ(d.at(i), 0.0) << i;
        } else {
            EXPECT_EQ(d.at(0), c.first_value);
            EXPECT_EQ(d.at(255), c.last_value);
        }
        d.expect_consistent_stats();
    }
}

TEST(Density, EmptyOrInvertedRangesStayInsideTheTable) {
    for (double hi : {0.0, -100.0, double(INFINITY), double(NAN)}) {
        Density d;
        ICalControl(d.cal, ICAL_SET_RANGE_MAX, 0, 1, &hi);
        ASSERT_EQ(d.levels(10, 200), CAL_OK) << hi;
        d.expect_consistent_stats();
    }
}

TEST(Density, SmallTablesAndHugeRanges) {
    Density d;
    double lo = -1e300, hi = 1e300;
    ICalControl(d.cal, ICAL_SET_RANGE_MIN, 0, 1, &lo);
    ICalControl(d.cal, ICAL_SET_RANGE_MAX, 0, 1, &hi);
    ICalControl(d.cal, ICAL_SET_TABLE_SIZE, 2, 1, nullptr);
    ASSERT_EQ(d.levels(-5e299, 5e299), CAL_OK);
    d.expect_consistent_stats();
}

}  // namespace
