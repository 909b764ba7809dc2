// Registries, default naming and the built-in image library.
#include "calmgr.h"
#include "frame/services.h"
#include "intensity/ical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string name_of(IntensityCal* cal) {
    char name[128];
    EXPECT_EQ(ICalControl(cal, ICAL_GET_NAME, 0, 0, name), CAL_OK);
    return name;
}

TEST(Registry, DefaultNamesReuseTheSmallestFreeNumber) {
    IntensityCal* a = ICalCreate();
    IntensityCal* b = ICalCreate();
    IntensityCal* c = ICalCreate();
    EXPECT_EQ(name_of(a), "Intensity Cal 0");
    EXPECT_EQ(name_of(b), "Intensity Cal 1");
    EXPECT_EQ(name_of(c), "Intensity Cal 2");
    ASSERT_EQ(ICalDestroy(b), CAL_OK);
    IntensityCal* d = ICalCreate();
    EXPECT_EQ(name_of(d), "Intensity Cal 1");
    ASSERT_EQ(ICalControl(a, ICAL_SET_NAME, 0, 0, const_cast<char*>("renamed")), CAL_OK);
    IntensityCal* e = ICalCreate();
    EXPECT_EQ(name_of(e), "Intensity Cal 0");
    for (IntensityCal* cal : {a, c, d, e}) EXPECT_EQ(ICalDestroy(cal), CAL_OK);
}

TEST(Registry, WalkRunsFromNewestToOldest) {
    IntensityCal* a = ICalCreate();
    IntensityCal* b = ICalCreate();
    IntensityCal* next = nullptr;
    ASSERT_EQ(ICalControl(nullptr, ICAL_GET_NEXT, 0, 0, &next), CAL_OK);
    EXPECT_EQ(next, b);
    ASSERT_EQ(ICalControl(b, ICAL_GET_NEXT, 0, 0, &next), CAL_OK);
    EXPECT_EQ(next, a);
    ASSERT_EQ(ICalControl(a, ICAL_GET_NEXT, 0, 0, &next), CAL_OK);
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(ICalControl(nullptr, ICAL_GET_NEXT, 0, 0, nullptr), CAL_ERR_INVALID);
    EXPECT_EQ(ICalDestroy(a), CAL_OK);
    EXPECT_EQ(ICalDestroy(b), CAL_OK);
}

TEST(Registry, DestroyRefusesNullUnknownAndDead) {
    EXPECT_EQ(ICalDestroy(nullptr), CAL_ERR_INVALID);
    IntensityCal stranger{};
    EXPECT_EQ(ICalDestroy(&stranger), CAL_ERR_INVALID);
    IntensityCal* a = ICalCreate();
    IntensityCal* b = ICalCreate();
    EXPECT_EQ(ICalDestroy(a), CAL_OK);
    EXPECT_EQ(ICalDestroy(a), CAL_ERR_INVALID);  // a is not in the list any more
    IntensityCal* head = nullptr;
    ICalControl(nullptr, ICAL_GET_NEXT, 0, 0, &head);
    EXPECT_EQ(head, b);
    EXPECT_EQ(b->next, nullptr);
    EXPECT_EQ(ICalDestroy(b), CAL_OK);
}

TEST(BuiltinImageLibrary, PropertiesAreKeptPerTargetAndTag) {
    const CalImageServices& s = calmgr::builtin_services();
    const uint64_t value = 0x0123456789abcdefULL;
    ASSERT_EQ(s.prop_set(7, &value, sizeof value, -948), 0);
    uint64_t read = 0;
    s.prop_get(7, -948, &read, sizeof read);
    EXPECT_EQ(read, value);
    uint64_t untouched = 42;
    s.prop_get(7, -947, &untouched, sizeof untouched);  // other tag
    s.prop_get(8, -948, &untouched, sizeof untouched);  // other target
    EXPECT_EQ(untouched, 42u);
    EXPECT_EQ(s.prop_remove(7, -948), 0);
    EXPECT_EQ(s.prop_remove(7, -948), 0);  // nothing stored: still 0
    s.prop_get(7, -948, &untouched, sizeof untouched);
    EXPECT_EQ(untouched, 42u);

    int32_t answer = 5;
    s.image_query(0, 1, 0, 0, &answer);
    EXPECT_EQ(answer, 0);
    s.image_instance_query(9, 1, 0, 0, &answer);
    EXPECT_NE(answer, 0);
    EXPECT_EQ(s.image_get_instance(9), 9u);

    auto* zeroed = static_cast<unsigned char*>(s.mem_alloc(CAL_MEM_ZERO, 64));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(zeroed[i], 0);
    s.mem_free(zeroed);
}

// The store once kept each value in a one-byte array member and copied the
// rest past it; values of every length must come back whole, and a
// replacement of another length must not keep bytes of the old one.
TEST(BuiltinImageLibrary, PropertyValuesOfEveryLengthAreKeptWhole) {
    const CalImageServices& s = calmgr::builtin_services();
    for (uint32_t size : {0u, 1u, 7u, 8u, 33u, 4096u}) {
        std::vector<unsigned char> value(size);
        for (uint32_t i = 0; i < size; ++i) value[i] = static_cast<unsigned char>(i * 37 + size);
        ASSERT_EQ(s.prop_set(11, value.data(), size, -5), 0) << size;
        std::vector<unsigned char> read(size + 8, 0xEE);
        EXPECT_EQ(s.prop_get(11, -5, read.data(), size + 8), 0);
        EXPECT_TRUE(std::equal(value.begin(), value.end(), read.begin())) << size;
        for (uint32_t i = size; i < size + 8; ++i) EXPECT_EQ(read[i], 0xEE) << "written past the value";
    }
    const unsigned char two[2] = {9, 10};
    ASSERT_EQ(s.prop_set(11, two, 2, -5), 0);  // shorter than the 4096 bytes before
    unsigned char read[4] = {0, 0, 0, 0};
    s.prop_get(11, -5, read, sizeof read);
    EXPECT_EQ(read[0], 9);
    EXPECT_EQ(read[1], 10);
    EXPECT_EQ(read[2], 0);
    unsigned char one = 0;
    s.prop_get(11, -5, &one, 1);  // a shorter result takes the value's start
    EXPECT_EQ(one, 9);
    EXPECT_EQ(s.prop_remove(11, -5), 0);
}

TEST(ImageServices, IncompleteTablesAreRefused) {
    CalImageServices s = calmgr::builtin_services();
    s.prop_remove = nullptr;
    EXPECT_EQ(CalSetImageServices(&s), CAL_ERR_INVALID);
    EXPECT_EQ(&calmgr::services().mem_alloc, &calmgr::services().mem_alloc);
    EXPECT_EQ(calmgr::services().prop_remove, calmgr::builtin_services().prop_remove);
    EXPECT_EQ(CalSetImageServices(nullptr), CAL_OK);
}

}  // namespace
