// Spatial calibrations: defaults, controls, conversion, registry and the
// behaviour under a refusing or garbage-returning allocator.
#include "calmgr.h"
#include "frame/services.h"
#include "spatial/scal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

double get(SpatialCal* cal, uint32_t code, int32_t axis = 0) {
    double v = -12345.0;
    EXPECT_EQ(SCalControl(cal, code, axis, 0, &v), CAL_OK);
    return v;
}

int32_t set(SpatialCal* cal, uint32_t code, double v, int32_t axis = 0) {
    return SCalControl(cal, code, axis, 0, &v);
}

std::string text(SpatialCal* cal, uint32_t code) {
    char buf[128];
    EXPECT_EQ(SCalControl(cal, code, 0, 0, buf), CAL_OK);
    return buf;
}

SpatialCal* next_of(SpatialCal* cal) {
    SpatialCal* next = reinterpret_cast<SpatialCal*>(1);
    EXPECT_EQ(SCalControl(cal, SCAL_GET_NEXT, 0, 0, &next), CAL_OK);
    return next;
}

TEST(SpatialCal, FreshCalibrationHasTheDefaultsAndNumbersIndependently) {
    // Live intensity calibrations do not take spatial numbers.
    IntensityCal* i0 = ICalCreate();
    IntensityCal* i1 = ICalCreate();
    SpatialCal* cal = SCalCreate();
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(text(cal, SCAL_GET_NAME), "Spatial Cal 0");
    EXPECT_EQ(text(cal, SCAL_GET_UNITS), "Pixels");
    for (int32_t axis : {0, 1}) {
        EXPECT_EQ(get(cal, SCAL_GET_SCALE, axis), 1.0);
        EXPECT_EQ(get(cal, SCAL_GET_ORIGIN, axis), 0.0);
        EXPECT_EQ(get(cal, SCAL_GET_PIXEL_SIZE, axis), 1.0);
    }
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), 1.0);
    EXPECT_EQ(get(cal, SCAL_GET_AUX_VALUE), 0.0);
    const PixelPoint p{3, -4};
    RealPoint r{};
    ASSERT_EQ(SCalPixToCU(cal, &p, &r, 1), CAL_OK);
    EXPECT_EQ(r.x, 3.0);
    EXPECT_EQ(r.y, -4.0);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
    EXPECT_EQ(ICalDestroy(i0), CAL_OK);
    EXPECT_EQ(ICalDestroy(i1), CAL_OK);
}

TEST(SpatialCal, ScalesPixelSizeAndAreaStayConsistent) {
    SpatialCal* cal = SCalCreate();
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 2.0, 0), CAL_OK);
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 4.0, 1), CAL_OK);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), 0.125);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_SIZE, 0), 0.5);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_SIZE, 1), 0.25);

    ASSERT_EQ(set(cal, SCAL_SET_PIXEL_SIZE, 0.5, 0), CAL_OK);
    ASSERT_EQ(set(cal, SCAL_SET_PIXEL_SIZE, 0.1, 1), CAL_OK);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 0), 2.0);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 1), 10.0);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), 0.05);

    // A negative scale is stored and carried into the area.
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 1.0, 1), CAL_OK);
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, -2.0, 0), CAL_OK);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), -0.5);

    // Infinities follow IEEE arithmetic without an error.
    const double inf = std::numeric_limits<double>::infinity();
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, inf, 0), CAL_OK);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), 0.0);
    ASSERT_EQ(set(cal, SCAL_SET_PIXEL_SIZE, inf, 0), CAL_OK);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 0), 0.0);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), inf);

    ASSERT_EQ(set(cal, SCAL_SET_AUX_VALUE, -7.25), CAL_OK);
    EXPECT_EQ(get(cal, SCAL_GET_AUX_VALUE), -7.25);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialCal, ZeroAndNaNScalesAreRefusedWithoutChange) {
    SpatialCal* cal = SCalCreate();
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 2.0, 0), CAL_OK);
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 4.0, 1), CAL_OK);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (uint32_t code : {SCAL_SET_SCALE, SCAL_SET_PIXEL_SIZE}) {
        for (double bad : {0.0, -0.0, nan, -nan}) {
            for (int32_t axis : {0, 1}) EXPECT_EQ(set(cal, code, bad, axis), CAL_ERR_INVALID) << code;
        }
    }
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 0), 2.0);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 1), 4.0);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), 0.125);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialCal, OnlyTheLow16BitsOfValueSelectTheAxis) {
    SpatialCal* cal = SCalCreate();
    ASSERT_EQ(set(cal, SCAL_SET_ORIGIN, 5.0, 0x10000), CAL_OK);           // x
    ASSERT_EQ(set(cal, SCAL_SET_ORIGIN, 6.0, 0x0001), CAL_OK);            // y
    EXPECT_EQ(get(cal, SCAL_GET_ORIGIN, 0), 5.0);
    EXPECT_EQ(get(cal, SCAL_GET_ORIGIN, 1), 6.0);
    ASSERT_EQ(set(cal, SCAL_SET_ORIGIN, 7.0, 0xFFFF), CAL_OK);            // y
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 8.0, static_cast<int32_t>(0xFFFF0000u)), CAL_OK);  // x
    EXPECT_EQ(get(cal, SCAL_GET_ORIGIN, 0x20000), 5.0);
    EXPECT_EQ(get(cal, SCAL_GET_ORIGIN, -1), 7.0);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 0), 8.0);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 1), 1.0);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialCal, BadCodesAndMissingArgumentsAreRefused) {
    SpatialCal* cal = SCalCreate();
    double v = 3.0;
    EXPECT_EQ(SCalControl(cal, 14, 0, 0, &v), CAL_ERR_INVALID);
    EXPECT_EQ(SCalControl(cal, 0xFFFFFFFFu, 0, 0, &v), CAL_ERR_INVALID);
    for (uint32_t code = 0; code <= SCAL_GET_NEXT; ++code) {
        EXPECT_EQ(SCalControl(cal, code, 0, 0, nullptr), CAL_ERR_INVALID) << code;
        if (code != SCAL_GET_NEXT) {
            EXPECT_EQ(SCalControl(nullptr, code, 0, 0, &v), CAL_ERR_INVALID) << code;
        }
    }
    EXPECT_EQ(SCalControl(nullptr, SCAL_GET_NEXT, 0, 0, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(v, 3.0);
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 0), 1.0);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialCal, NamesAndUnitsAreTruncatedTo127Characters) {
    SpatialCal* cal = SCalCreate();
    const std::string long_name(200, 'n');
    ASSERT_EQ(SCalControl(cal, SCAL_SET_NAME, 0, 0, const_cast<char*>(long_name.c_str())), CAL_OK);
    EXPECT_EQ(text(cal, SCAL_GET_NAME), long_name.substr(0, 127));
    ASSERT_EQ(SCalControl(cal, SCAL_SET_UNITS, 0, 0, const_cast<char*>("micrometre")), CAL_OK);
    EXPECT_EQ(text(cal, SCAL_GET_UNITS), "micrometre");
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialCal, ConversionDividesByTheScaleAfterTheOrigin) {
    SpatialCal* cal = SCalCreate();
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 2.0, 0), CAL_OK);
    ASSERT_EQ(set(cal, SCAL_SET_ORIGIN, 10.0, 0), CAL_OK);
    ASSERT_EQ(set(cal, SCAL_SET_SCALE, 10.0, 1), CAL_OK);
    const PixelPoint px[2] = {{14, 7}, {INT32_MIN, INT32_MAX}};
    RealPoint out[2];
    ASSERT_EQ(SCalPixToCU(cal, px, out, 2), CAL_OK);
    EXPECT_EQ(out[0].x, 2.0);
    EXPECT_EQ(out[0].y, 0.7);  // 7 * (1 / 10.0) would give 0.7000000000000001
    EXPECT_EQ(out[1].x, (-2147483648.0 - 10.0) / 2.0);
    EXPECT_EQ(out[1].y, 214748364.7);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialCal, ConversionCountIsSixteenBitsAndNullArraysAreRefused) {
    SpatialCal* cal = SCalCreate();
    const PixelPoint px[2] = {{1, 2}, {3, 4}};
    RealPoint out[2] = {{-1.0, -1.0}, {-1.0, -1.0}};
    ASSERT_EQ(SCalPixToCU(cal, px, out, 0x10001), CAL_OK);
    EXPECT_EQ(out[0].x, 1.0);
    EXPECT_EQ(out[0].y, 2.0);
    EXPECT_EQ(out[1].x, -1.0);  // only one point converted
    EXPECT_EQ(SCalPixToCU(cal, px, out + 1, 0x10000), CAL_OK);  // count 0
    EXPECT_EQ(out[1].x, -1.0);
    EXPECT_EQ(SCalPixToCU(cal, nullptr, nullptr, 0), CAL_OK);
    EXPECT_EQ(SCalPixToCU(cal, nullptr, out + 1, 1), CAL_ERR_INVALID);
    EXPECT_EQ(SCalPixToCU(cal, px, nullptr, 0x10001), CAL_ERR_INVALID);
    EXPECT_EQ(out[1].x, -1.0);
    EXPECT_EQ(SCalPixToCU(nullptr, px, out, 1), CAL_ERR_INVALID);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
}

TEST(SpatialRegistry, WalkNamingAndDestroy) {
    SpatialCal* a = SCalCreate();
    SpatialCal* b = SCalCreate();
    EXPECT_EQ(next_of(nullptr), b);
    EXPECT_EQ(next_of(b), a);
    EXPECT_EQ(next_of(a), nullptr);
    EXPECT_EQ(text(b, SCAL_GET_NAME), "Spatial Cal 1");

    EXPECT_EQ(SCalDestroy(nullptr), CAL_ERR_INVALID);
    SpatialCal stranger{};
    EXPECT_EQ(SCalDestroy(&stranger), CAL_ERR_INVALID);
    EXPECT_EQ(SCalDestroy(a), CAL_OK);
    EXPECT_EQ(SCalDestroy(a), CAL_ERR_INVALID);
    EXPECT_EQ(next_of(nullptr), b);
    EXPECT_EQ(next_of(b), nullptr);

    SpatialCal* c = SCalCreate();  // takes the number a gave up
    EXPECT_EQ(text(c, SCAL_GET_NAME), "Spatial Cal 0");
    EXPECT_EQ(SCalDestroy(b), CAL_OK);
    EXPECT_EQ(SCalDestroy(c), CAL_OK);
    EXPECT_EQ(calmgr::g_scal_head, nullptr);
}

// Allocators installed in front of the built-in image library.
int g_allocs, g_frees;
uint32_t g_last_flags;
std::size_t g_last_size;
void* g_last_block;

void* refuse(uint32_t, std::size_t) { return nullptr; }

void* garbage(uint32_t flags, std::size_t size) {
    ++g_allocs;
    g_last_flags = flags;
    g_last_size = size;
    g_last_block = std::malloc(size);
    if (g_last_block != nullptr) std::memset(g_last_block, 0xA5, size);
    return g_last_block;
}

void counted_free(void* block) {
    ++g_frees;
    EXPECT_EQ(block, g_last_block);
    std::free(block);
}

TEST(SpatialMemory, RefusedAllocationLeavesTheRegistryAlone) {
    SpatialCal* a = SCalCreate();
    CalImageServices s = calmgr::builtin_services();
    s.mem_alloc = refuse;
    ASSERT_EQ(CalSetImageServices(&s), CAL_OK);
    EXPECT_EQ(SCalCreate(), nullptr);
    ASSERT_EQ(CalSetImageServices(nullptr), CAL_OK);
    EXPECT_EQ(calmgr::g_scal_head, a);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(SCalDestroy(a), CAL_OK);
}

TEST(SpatialMemory, RecordIsOnePlainBlockWithEveryFieldWritten) {
    CalImageServices s = calmgr::builtin_services();
    s.mem_alloc = garbage;
    s.mem_free = counted_free;
    g_allocs = g_frees = 0;
    ASSERT_EQ(CalSetImageServices(&s), CAL_OK);
    SpatialCal* cal = SCalCreate();
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(g_allocs, 1);
    EXPECT_EQ(g_last_flags, CAL_MEM_PLAIN);
    EXPECT_GE(g_last_size, sizeof(SpatialCal));
    EXPECT_EQ(text(cal, SCAL_GET_NAME), "Spatial Cal 0");
    EXPECT_EQ(text(cal, SCAL_GET_UNITS), "Pixels");
    EXPECT_EQ(get(cal, SCAL_GET_SCALE, 1), 1.0);
    EXPECT_EQ(get(cal, SCAL_GET_ORIGIN, 1), 0.0);
    EXPECT_EQ(get(cal, SCAL_GET_PIXEL_AREA), 1.0);
    EXPECT_EQ(get(cal, SCAL_GET_AUX_VALUE), 0.0);
    EXPECT_EQ(next_of(cal), nullptr);
    SpatialCal stranger{};
    EXPECT_EQ(SCalDestroy(&stranger), CAL_ERR_INVALID);
    EXPECT_EQ(g_frees, 0);
    EXPECT_EQ(SCalDestroy(cal), CAL_OK);
    EXPECT_EQ(g_frees, 1);
    EXPECT_EQ(CalSetImageServices(nullptr), CAL_OK);
}

}  // namespace
