// The names the C++ layer shares with Python and the tool: every fit name
// reads back to its fit, the aliases and any case are accepted, and the
// codes the layer calls fit types are exactly those the library stores.
#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using calmgr::Fit;

TEST(FitNames, RoundTripAndAliases) {
    std::set<std::string> seen;
    for (const calmgr::FitName& f : calmgr::fit_names) {
        EXPECT_TRUE(seen.insert(f.name).second) << f.name << " twice";
        EXPECT_EQ(calmgr::fit_name(f.fit), f.name);
        EXPECT_EQ(calmgr::fit_from_name(f.name), f.fit);
        EXPECT_EQ(calmgr::fit_from_code(static_cast<int16_t>(f.fit)), f.fit);
        EXPECT_STRNE(f.description, "");
    }
    EXPECT_EQ(seen.size(), 14u);
    EXPECT_EQ(calmgr::fit_from_name("density"), Fit::Density);
    EXPECT_EQ(calmgr::fit_from_name("od"), Fit::Density);
    EXPECT_EQ(calmgr::fit_from_name("OD"), Fit::Density);
    EXPECT_EQ(calmgr::fit_from_name("Poly2"), Fit::Poly2);
    EXPECT_EQ(calmgr::fit_from_name("default"), Fit::Piecewise);
    EXPECT_EQ(Fit::Default, Fit::Piecewise);
    for (const char* unknown : {"", "poly", "poly4", "poly22", "odd", "2", "density "})
        EXPECT_FALSE(calmgr::fit_from_name(unknown).has_value()) << '"' << unknown << '"';
    EXPECT_EQ(calmgr::fit_name(static_cast<Fit>(8)), "");
}

TEST(FitNames, FitCodesAreThoseTheLibraryStores) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    for (int code = -2; code <= 40; ++code) {
        ASSERT_EQ(ICalControl(cal, ICAL_SET_FIT_TYPE, ICAL_FIT_POLY1, 1, nullptr), CAL_OK);
        ASSERT_EQ(ICalControl(cal, ICAL_SET_FIT_TYPE, code, 1, nullptr), CAL_OK);
        int16_t stored = 0;
        ICalControl(cal, ICAL_GET_FIT_TYPE, 0, 0, &stored);
        const bool library_stores = stored == code || code == ICAL_FIT_POLY1;
        EXPECT_EQ(calmgr::is_fit_code(code), library_stores) << "code " << code;
        EXPECT_EQ(calmgr::fit_from_code(code).has_value(), library_stores) << "code " << code;
    }
    ICalDestroy(cal);
}

}  // namespace
