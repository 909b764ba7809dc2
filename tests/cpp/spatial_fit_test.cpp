// The C++ layer's spatial calibrations and polynomial fits against the C
// interface: same numbers bit for bit, statuses as calmgr::Error, split calls
// for runs beyond the 16-bit counts, no leftover calibrations.
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
        EXPECT_THROW(s.units(), Error);
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

TEST(PolynomialFit, ValuesMatchTheCEntryPoints) {
    const std::vector<RealPoint> samples{{0, 1.1}, {1, 2.9}, {2, 5.2}, {3, 6.8}, {4, 9.3}};
    const std::vector<double> xs{-1.0, 0.5, 10.0};
    const auto at = calmgr::polynomial_fit(samples, xs, 2);
    std::vector<RealPoint> ref{{-1.0, 0}, {0.5, 0}, {10.0, 0}};
    ASSERT_EQ(PolynomialFit(samples.data(), 5, ref.data(), 3, 2), CAL_OK);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(std::memcmp(&at[i], &ref[i].y, 8), 0);

    const auto grid = calmgr::polynomial_fit_range(samples, 0.0, 255.0, 256, 3);
    std::vector<double> ref_grid(256);
    ASSERT_EQ(PolynomialFitRange(samples.data(), 5, ref_grid.data(), 0.0, 255.0, 256, 3), CAL_OK);
    EXPECT_EQ(std::memcmp(grid.data(), ref_grid.data(), 256 * sizeof(double)), 0);

    for (int degree : {0, 8, 65537}) {
        try {
            calmgr::polynomial_fit(samples, xs, degree);
            FAIL() << "degree " << degree << " accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), FIT_ERR_ARGS);
            EXPECT_STREQ(e.status_name(), "FIT_ERR_ARGS");
        }
    }
    EXPECT_THROW(calmgr::polynomial_fit_range(samples, 0.0, 1.0, 1, 1), Error);
    EXPECT_TRUE(calmgr::polynomial_fit(samples, std::vector<double>{}, 1).empty());
}

}  // namespace
