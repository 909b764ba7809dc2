// Ownership in the C++ layer: moves transfer, destruction empties the
// registry, an empty (moved-from or released) object refuses every use,
// raw handles are owned only through adopt_owned, and views own nothing.
#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using calmgr::Error;
using calmgr::IntensityCalibration;
using calmgr::IntensityView;
using calmgr::SpatialCalibration;

// Runs every operation on `cal`, expecting each to throw CAL_ERR_INVALID.
void expect_every_use_refused(IntensityCalibration& cal) {
    std::vector<uint8_t> u8{1, 2, 3};
    std::vector<double> out(3);
    std::vector<float> fout(3);
    const std::vector<CalPoint> pts{{0.0, 0.0}, {9.0, 9.0}};
    const std::vector<std::function<void()>> uses = {
        [&] { cal.lookup(u8, out); },
        [&] { cal.lookup(std::vector<float>{1.0f, 2.0f, 3.0f}, fout); },
        [&] { (void)cal.lookup(u8); },
        [&] { (void)cal.lookup<float>(u8, calmgr::Layout::Rgb); },
        [&] { cal.lookup_bits(u8, 3, out); },
        [&] { (void)cal.name(); },
        [&] { (void)cal.type(); },
        [&] { (void)cal.range(); },
        [&] { (void)cal.points(); },
        [&] { (void)cal.table(); },
        [&] { (void)cal.table_inputs(); },
        [&] { (void)cal.snapshot(); },
        [&] { cal.set_name("x"); },
        [&] { cal.set_points(pts); },
        [&] { cal.set_range({0.0, 1.0}); },
        [&] { cal.set_fit_type(calmgr::Fit::Poly1); },
        [&] { cal.rebuild(); },
    };
    for (std::size_t i = 0; i < uses.size(); ++i) {
        try {
            uses[i]();
            ADD_FAILURE() << "use " << i << " of an empty calibration did not throw";
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), CAL_ERR_INVALID) << "use " << i;
            EXPECT_NE(std::string(e.what()).find("empty"), std::string::npos) << e.what();
        }
    }
    EXPECT_FALSE(cal);
    EXPECT_EQ(cal.get(), nullptr);
}

TEST(Ownership, MovedFromAndReleasedObjectsRefuseEveryUse) {
    IntensityCalibration a;
    IntensityCalibration b(std::move(a));
    expect_every_use_refused(a);
    EXPECT_EQ(b.lookup(std::vector<uint8_t>{7}).at(0), 7.0);

    IntensityCalibration c;
    c = std::move(b);
    expect_every_use_refused(b);

    IntensityCal* raw = c.release();
    expect_every_use_refused(c);
    EXPECT_EQ(ICalDestroy(raw), CAL_OK);

    // reset() empties too, and an emptied object can take a calibration again.
    IntensityCalibration d;
    d.reset();
    expect_every_use_refused(d);
    d = IntensityCalibration();
    EXPECT_EQ(d.table_size(), 256u);
}

TEST(Ownership, MovesTransferAndDestructionEmptiesTheRegistry) {
    const auto before = calmgr::intensity_registry().size();
    {
        IntensityCalibration a;
        IntensityCalibration b(std::move(a));
        IntensityCalibration c;
        c = std::move(b);  // c's first calibration is destroyed here
        EXPECT_EQ(calmgr::intensity_registry().size(), before + 1);
        std::vector<IntensityCalibration> many;
        for (int i = 0; i < 50; ++i) many.emplace_back();
        EXPECT_EQ(calmgr::intensity_registry().size(), before + 51);
    }
    EXPECT_EQ(calmgr::intensity_registry().size(), before);
}

TEST(Ownership, AdoptTakesOwnedHandlesOnlyAndDestroysThem) {
    const auto before = calmgr::intensity_registry().size();
    {
        auto owned = IntensityCalibration::adopt_owned(ICalCreate());
        owned.set_units("adopted");
        EXPECT_EQ(calmgr::intensity_registry().size(), before + 1);
    }
    EXPECT_EQ(calmgr::intensity_registry().size(), before);

    EXPECT_THROW((void)IntensityCalibration::adopt_owned(nullptr), Error);
    IntensityCal* gone = ICalCreate();
    ASSERT_EQ(ICalDestroy(gone), CAL_OK);
    try {
        (void)IntensityCalibration::adopt_owned(gone);
        FAIL() << "a destroyed handle was adopted";
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), CAL_ERR_INVALID);
    }
    EXPECT_EQ(calmgr::intensity_registry().size(), before);

    SpatialCal* raw = SCalCreate();
    {
        auto spatial = SpatialCalibration::adopt_owned(raw);
        EXPECT_EQ(spatial.get(), raw);
    }
    EXPECT_EQ(SCalDestroy(raw), CAL_ERR_INVALID);  // already destroyed by its owner
    EXPECT_THROW((void)SpatialCalibration::adopt_owned(nullptr), Error);
}

TEST(Views, SeeCalibrationsTheyDoNotOwn) {
    IntensityCalibration cal;
    cal.set_name("viewed");
    const std::vector<IntensityView> all = calmgr::intensity_registry();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front().get(), cal.get());  // newest first
    EXPECT_EQ(all.front().name(), "viewed");
    EXPECT_EQ(all.front().lookup(std::vector<uint16_t>{3}).at(0), 3.0);
    {
        const IntensityView copy = all.front();  // views copy; the calibration stays
        EXPECT_EQ(copy.name(), "viewed");
    }
    const IntensityView of_owner = cal;
    EXPECT_EQ(of_owner.table_size(), 256u);
    EXPECT_EQ(cal.name(), "viewed");
    EXPECT_THROW(IntensityView(nullptr), Error);
    EXPECT_THROW(calmgr::SpatialView(nullptr), Error);
}

}  // namespace
