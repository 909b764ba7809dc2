// ICalControl: getters and setters, defer and rebuild rules, refusals, and
// allocate-first resizing under a refusing allocator.
#include "calmgr.h"
#include "intensity/ical.h"
#include "support/failing_allocator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using calmgr_test::FailingAllocator;

std::vector<double> table_of(IntensityCal* cal) {
    uint16_t n = 0;
    ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n);
    std::vector<double> t(n);
    ICalControl(cal, ICAL_GET_TABLE, 0, 0, t.data());
    return t;
}

std::vector<CalPoint> points_of(IntensityCal* cal) {
    uint16_t n = 0;
    ICalControl(cal, ICAL_GET_NUM_POINTS, 0, 0, &n);
    std::vector<CalPoint> p(n);
    ICalControl(cal, ICAL_GET_POINTS, 0, 0, p.data());
    return p;
}

bool same_points(const std::vector<CalPoint>& a, const std::vector<CalPoint>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(CalPoint)) == 0;
}

TEST(Controls, RefusalsChangeNothing) {
    IntensityCal* cal = ICalCreate();
    double d = 1.0;
    CalPoint pts[2] = {{0, 0}, {1, 1}};
    EXPECT_EQ(ICalControl(cal, 32, 0, 0, &d), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, 0xFFFFFFFFu, 0, 0, &d), CAL_ERR_INVALID);
    for (uint32_t code = 0; code <= ICAL_SET_OPTIONS; ++code) {
        if (code == ICAL_GET_NEXT) continue;
        EXPECT_EQ(ICalControl(nullptr, code, 0, 0, &d), CAL_ERR_INVALID) << code;
    }
    for (uint32_t code : {ICAL_GET_NAME, ICAL_SET_NAME, ICAL_GET_TYPE, ICAL_GET_RANGE_MIN, ICAL_SET_RANGE_MIN,
                          ICAL_GET_POINTS, ICAL_SET_POINTS, ICAL_GET_POINT, ICAL_SET_POINT, ICAL_SET_BLACK_LEVEL,
                          ICAL_GET_TABLE, ICAL_SET_TABLE, ICAL_GET_UNITS, ICAL_SET_UNITS})
        EXPECT_EQ(ICalControl(cal, code, 2, 0, nullptr), CAL_ERR_INVALID) << code;
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, 1, 0, pts), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, -2, 0, pts), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 1, 0, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TABLE, 1, 0, &d), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TYPE, 4, 0, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TYPE, -1, 0, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_POINT, 0, 2, &d), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINT, 1, 0x10002, &d), CAL_ERR_INVALID);
    // Nothing changed: still the fresh identity calibration.
    const auto t = table_of(cal);
    ASSERT_EQ(t.size(), 256u);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(t[i], i);
    uint32_t type = 9;
    ICalControl(cal, ICAL_GET_TYPE, 0, 0, &type);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, ValueCountsOnlyItsLow16Bits) {
    IntensityCal* cal = ICalCreate();
    EXPECT_EQ(ICalControl(cal, ICAL_SET_ATTRIBUTE, 0xFFFF, 0, nullptr), CAL_OK);
    EXPECT_EQ(cal->attribute, -1);
    uint16_t attr = 0;
    ICalControl(cal, ICAL_GET_ATTRIBUTE, 0, 0, &attr);
    EXPECT_EQ(attr, 0xFFFF);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_ATTRIBUTE, 0, 0, nullptr), CAL_OK);
    // 0x10003 is type 3 after the reduction.
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TYPE, 0x10003, 0, nullptr), CAL_OK);
    uint32_t type = 0;
    ICalControl(cal, ICAL_GET_TYPE, 0, 0, &type);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, NamesAndUnitsAreTruncatedTo127Characters) {
    IntensityCal* cal = ICalCreate();
    const std::string long_name(200, 'x');
    ASSERT_EQ(ICalControl(cal, ICAL_SET_NAME, 0, 0, const_cast<char*>(long_name.c_str())), CAL_OK);
    char out[128];
    ICalControl(cal, ICAL_GET_NAME, 0, 0, out);
    EXPECT_EQ(std::string(out), long_name.substr(0, 127));
    ASSERT_EQ(ICalControl(cal, ICAL_SET_UNITS, 0, 0, const_cast<char*>("OD")), CAL_OK);
    ICalControl(cal, ICAL_GET_UNITS, 0, 0, out);
    EXPECT_STREQ(out, "OD");
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, PointsAreReadAndWrittenOneByOne) {
    IntensityCal* cal = ICalCreate();
    double v = 0;
    ASSERT_EQ(ICalControl(cal, ICAL_GET_POINT, 1, 1, &v), CAL_OK);
    EXPECT_EQ(v, 255.0);
    v = 127.5;  // calibrated value of point 1: the line halves
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINT, 1, 1, &v), CAL_OK);
    EXPECT_EQ(table_of(cal)[254], 127.0);
    v = 255.0;  // index counts its low 16 bits only
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINT, 7, 0x10001, &v), CAL_OK);
    EXPECT_EQ(table_of(cal)[254], 254.0);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, DeferredSettingsRebuildOnceAtTheEnd) {
    IntensityCal* cal = ICalCreate();
    double lo = 0.0, hi = 4095.0;
    CalPoint pts[2] = {{0, 0}, {4095, 1}};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, &lo), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &hi), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 1, pts), CAL_OK);
    EXPECT_EQ(table_of(cal)[255], 255.0);  // not rebuilt yet
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 4096, 1, nullptr), CAL_OK);
    // A deferred resize leaves a zero-filled table and the old statistics.
    for (double e : table_of(cal)) ASSERT_EQ(e, 0.0);
    EXPECT_EQ(cal->table_max, 255.0);
    EXPECT_EQ(cal->direct_mode, 2);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_OPTIONS, 0, 0, nullptr), CAL_OK);  // rebuilds now
    const auto t = table_of(cal);
    EXPECT_EQ(t[0], 0.0);
    EXPECT_EQ(t[4095], 1.0);
    EXPECT_EQ(cal->table_max, 1.0);
    // Same size again: no rebuild even without deferral.
    cal->table[0] = 42.0;
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 4096, 0, nullptr), CAL_OK);
    EXPECT_EQ(table_of(cal)[0], 42.0);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, FitTypeAdmitsKnownModelsOnly) {
    IntensityCal* cal = ICalCreate();
    int16_t fit = -1;
    for (int32_t t : {13, 21, 23, 5}) {
        ASSERT_EQ(ICalControl(cal, ICAL_SET_FIT_TYPE, t, 0, nullptr), CAL_OK);
        ICalControl(cal, ICAL_GET_FIT_TYPE, 0, 0, &fit);
        EXPECT_EQ(fit, t);
    }
    for (int32_t t : {14, 20, 24, -1, 0x7FFF}) {
        ASSERT_EQ(ICalControl(cal, ICAL_SET_FIT_TYPE, t, 0, nullptr), CAL_OK);
        ICalControl(cal, ICAL_GET_FIT_TYPE, 0, 0, &fit);
        EXPECT_EQ(fit, 5) << t;
    }
    EXPECT_EQ(ICalControl(cal, ICAL_GET_FIT_TYPE, 0, 0, nullptr), CAL_OK);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, TypeNoneReleasesAndLeavingItRestoresDefaults) {
    IntensityCal* cal = ICalCreate();
    CalPoint pts[2] = {{0, 10}, {255, 20}};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 0, pts), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr), CAL_OK);
    uint16_t n = 9;
    ICalControl(cal, ICAL_GET_NUM_POINTS, 0, 0, &n);
    EXPECT_EQ(n, 0);
    ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 0, pts), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 16, 0, nullptr), CAL_ERR_INVALID);
    double d;
    EXPECT_EQ(ICalControl(cal, ICAL_GET_POINT, 0, 0, &d), CAL_ERR_INVALID);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE, 0, 0, &d), CAL_OK);  // nothing to copy
    // Leaving type 3 rebuilds at once even when deferred.
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_STANDARD, 1, nullptr), CAL_OK);
    const auto p = points_of(cal);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].input, 255.0);
    EXPECT_EQ(p[1].calibrated, 255.0);
    const auto t = table_of(cal);
    ASSERT_EQ(t.size(), 256u);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(t[i], i);
    EXPECT_EQ(cal->direct_mode, 1);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, SuppliedTableRefreshesStatisticsAndDirectMode) {
    IntensityCal* cal = ICalCreate();
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr), CAL_OK);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 16, 0, nullptr), CAL_ERR_INVALID);
    const double t[5] = {0, 10, 30, 60, 100};
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE, 5, 0, const_cast<double*>(t)), CAL_OK);
    EXPECT_EQ(table_of(cal), std::vector<double>(t, t + 5));
    EXPECT_EQ(cal->table_min, 0.0);
    EXPECT_EQ(cal->table_max, 100.0);
    EXPECT_EQ(cal->direct_mode, 0);
    // A setting that rebuilds "any type" leaves a type 2 table alone.
    double hi = 8.0;
    ASSERT_EQ(ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 0, &hi), CAL_OK);
    EXPECT_EQ(table_of(cal), std::vector<double>(t, t + 5));
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Controls, DensityRebuildFailureIsReportedAfterStoring) {
    IntensityCal* cal = ICalCreate();
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, nullptr), CAL_OK);
    const auto before = table_of(cal);
    double black = 255.0;
    EXPECT_EQ(ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 0, &black), CAL_ERR_INVALID);
    double stored = 0;
    ICalControl(cal, ICAL_GET_BLACK_LEVEL, 0, 0, &stored);
    EXPECT_EQ(stored, 255.0);
    EXPECT_EQ(table_of(cal), before);
    // On a standard curve the same setting is only stored.
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_STANDARD, 0, nullptr), CAL_OK);
    black = 300.0;
    EXPECT_EQ(ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 0, &black), CAL_OK);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(ControlsOutOfMemory, CreationReleasesEverythingAndLeavesTheRegistry) {
    FailingAllocator alloc;
    IntensityCal* head_before = nullptr;
    ICalControl(nullptr, ICAL_GET_NEXT, 0, 0, &head_before);
    for (uint64_t k = 1; k <= 3; ++k) {
        alloc.fail(FailingAllocator::Mode::Once, k);
        EXPECT_EQ(ICalCreate(), nullptr) << k;
        EXPECT_EQ(alloc.live(), 0) << k;
        IntensityCal* head = nullptr;
        ICalControl(nullptr, ICAL_GET_NEXT, 0, 0, &head);
        EXPECT_EQ(head, head_before);
    }
    alloc.stop_failing();
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(alloc.live(), 3);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
    EXPECT_EQ(alloc.live(), 0);
}

TEST(ControlsOutOfMemory, ResizingControlsKeepTheOldBlocks) {
    FailingAllocator alloc;
    IntensityCal* cal = ICalCreate();
    const auto table_before = table_of(cal);
    const auto points_before = points_of(cal);
    alloc.fail_all();
    CalPoint pts[3] = {{0, 0}, {1, 1}, {2, 2}};
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, 3, 0, pts), CAL_ERR_NOMEM);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TABLE_SIZE, 100, 0, nullptr), CAL_ERR_NOMEM);
    double t[4] = {1, 2, 3, 4};
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TABLE, 4, 0, t), CAL_ERR_NOMEM);
    EXPECT_EQ(table_of(cal), table_before);
    EXPECT_TRUE(same_points(points_of(cal), points_before));
    EXPECT_EQ(cal->table_max, 255.0);
    EXPECT_EQ(cal->direct_mode, 1);
    // Same-sized replacements need no memory.
    CalPoint two[2] = {{0, 255}, {255, 0}};
    EXPECT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 0, two), CAL_OK);
    EXPECT_EQ(table_of(cal)[0], 255.0);
    alloc.stop_failing();
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
    EXPECT_EQ(alloc.live(), 0);
}

TEST(ControlsOutOfMemory, LeavingTypeNoneIsAllOrNothing) {
    FailingAllocator alloc;
    IntensityCal* cal = ICalCreate();
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr), CAL_OK);
    EXPECT_EQ(alloc.live(), 1);
    for (uint64_t k = 1; k <= 2; ++k) {
        alloc.fail(FailingAllocator::Mode::Once, k);
        EXPECT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, nullptr), CAL_ERR_NOMEM) << k;
        uint32_t type = 0;
        uint16_t n = 1;
        ICalControl(cal, ICAL_GET_TYPE, 0, 0, &type);
        EXPECT_EQ(type, 3u);
        ICalControl(cal, ICAL_GET_NUM_POINTS, 0, 0, &n);
        EXPECT_EQ(n, 0);
        ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(alloc.live(), 1);
        const uint8_t px = 200;
        double out = 0;
        ICalLookupEx(cal, ICAL_SAMPLE_U8, &px, 1, &out);
        EXPECT_EQ(out, 200.0);
    }
    alloc.stop_failing();
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, nullptr), CAL_OK);
    EXPECT_NEAR(table_of(cal)[0], std::log10(255.0), 1e-12);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
    EXPECT_EQ(alloc.live(), 0);
}

TEST(ControlsOutOfMemory, LeavingTypeNoneReturnsTheRebuildStatus) {
    IntensityCal* cal = ICalCreate();
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr), CAL_OK);
    double black = 300.0;
    ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
    EXPECT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 1, nullptr), CAL_ERR_INVALID);
    // The new table exists and is zero-filled, never uninitialised.
    for (double e : table_of(cal)) ASSERT_EQ(e, 0.0);
    EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

}  // namespace
