// The C++ layer's spatial calibrations against the C interface: same numbers
// bit for bit, statuses as calmgr::Error, split calls for runs beyond the
// 16-bit count, no leftover calibrations.
#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using calmgr::Axis;
using calmgr::Error;
using calmgr::SpatialCalibration;

TEST(SpatialOwnership, MovesTransferAndDestructionEmptiesTheRegistry) {
    const auto before = calmgr::spatial_registry().size();
    {
        SpatialCalibration s;
        SpatialCalibration t = std::move(s);
        EXPECT_FALSE(s);
        EXPECT_THROW((void)s.units(), Error);
        EXPECT_THROW((void)s.to_units(PixelPoint{1, 1}), Error);
        EXPECT_THROW(s.set_origin(Axis::X, 1.0), Error);
        SpatialCalibration u;
        u = std::move(t);
        EXPECT_EQ(calmgr::spatial_registry().size(), before + 1);
        SpatialCal* raw = u.release();
        EXPECT_EQ(SCalDestroy(raw), CAL_OK);
        SpatialCalibration v;
        EXPECT_EQ(calmgr::spatial_registry().size(), before + 1);
    }
    EXPECT_EQ(calmgr::spatial_registry().size(), before);
}

TEST(Spatial, ControlsAndConversionMatchTheCInterface) {
    SpatialCalibration cal;
    cal.set_scale(Axis::X, 2.0);
    cal.set_pixel_size(Axis::Y, 0.25);
    cal.set_origin(Axis::X, 10.0);
    cal.set_origin(Axis::Y, -3.0);
    cal.set_aux_value(1.5);
    cal.set_units("mm");
    EXPECT_EQ(cal.scale(Axis::Y), 4.0);
    EXPECT_EQ(cal.pixel_size(Axis::X), 0.5);
    EXPECT_EQ(cal.pixel_area(), 0.125);
    EXPECT_EQ(cal.aux_value(), 1.5);
    EXPECT_EQ(cal.units(), "mm");
    EXPECT_EQ(cal.origin(Axis::Y), -3.0);
    try {
        cal.set_scale(Axis::X, 0.0);
        FAIL() << "zero scale accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), CAL_ERR_INVALID);
    }
    EXPECT_EQ(cal.scale(Axis::X), 2.0);

    // More points than one 16-bit call takes: split calls, same values.
    std::vector<PixelPoint> pix(70000);
    for (std::size_t i = 0; i < pix.size(); ++i)
        pix[i] = PixelPoint{static_cast<int32_t>(i) - 30000, static_cast<int32_t>(i % 977) * -3};
    const auto got = cal.to_units(pix);
    std::vector<RealPoint> ref(pix.size());
    ASSERT_EQ(SCalPixToCU(cal.get(), pix.data(), ref.data(), 65535), CAL_OK);
    ASSERT_EQ(SCalPixToCU(cal.get(), pix.data() + 65535, ref.data() + 65535, 70000 - 65535), CAL_OK);
    ASSERT_EQ(got.size(), ref.size());
    EXPECT_EQ(std::memcmp(got.data(), ref.data(), ref.size() * sizeof(RealPoint)), 0);
    const RealPoint one = cal.to_units(PixelPoint{14, 1});
    EXPECT_EQ(one.x, 2.0);
    EXPECT_EQ(one.y, 1.0);
    std::vector<RealPoint> small(3);
    EXPECT_THROW(cal.to_units(pix, small), Error);
}

}  // namespace
