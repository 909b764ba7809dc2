// Inverse lookups through the C++ layer against ICalInverse: the same
// inputs bit for bit, unresolved values as NaN with their count, in place
// and into a new vector; refusals before the library is reached.
#include "calmgr.hpp"
#include "same_bits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using calmgr::Error;
using calmgr::IntensityCalibration;

// The layer's inverse, checked against ICalInverse's inputs and count.
calmgr::InverseResult checked_inverse(const calmgr::IntensityView& cal, const std::vector<double>& values) {
    std::vector<double> want(values.size());
    uint64_t unresolved = 0;
    EXPECT_EQ(ICalInverse(cal.get(), values.data(), values.size(), want.data(), &unresolved), CAL_OK);
    auto got = cal.inverse(values);
    EXPECT_TRUE(same_bits(got.inputs, want));
    EXPECT_EQ(got.unresolved, unresolved);
    return got;
}

TEST(Inverse, MatchesTheCInterfaceWithUnresolvedValuesVisible) {
    const std::vector<CalPoint> pts{{0.0, 0.0}, {100.0, 1.0}, {255.0, 1.8}};
    const auto cal = IntensityCalibration::from_points(pts, calmgr::Fit::Poly2);
    // Inside the table, at its ends, beyond both ends and NaN.
    const std::vector<double> values{0.25, 0.5, 1.0, 1.5, cal.table().front(), cal.table().back(),
                                     -1.0, 99.0, std::nan("")};
    const auto got = checked_inverse(cal, values);
    EXPECT_EQ(got.unresolved, 3u);
    EXPECT_FALSE(got.all_resolved());
    for (std::size_t i = 6; i < values.size(); ++i) EXPECT_TRUE(std::isnan(got.inputs[i])) << i;
    // Each resolved input looks up to (close to) its value.
    const auto back = cal.lookup(std::vector<double>(got.inputs.begin(), got.inputs.begin() + 6));
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(back[i], values[i], 1e-12) << i;

    // In place, over the values themselves.
    std::vector<double> inout = values;
    EXPECT_EQ(cal.inverse(inout, inout), 3u);
    EXPECT_TRUE(same_bits(inout, got.inputs));
}

TEST(Inverse, ATableThatTurnsLeavesTwiceReachedValuesUnresolved) {
    const std::vector<CalPoint> pts{{0.0, 0.0}, {128.0, 2.0}, {255.0, 0.5}};
    const auto cal = IntensityCalibration::from_points(pts, calmgr::Fit::Interp1);
    const std::vector<double> values{0.25, 1.0, 1.9};  // 0.25 only on the rise; 1.0 and 1.9 on both sides
    const auto got = checked_inverse(cal, values);
    EXPECT_EQ(got.unresolved, 2u);
    EXPECT_FALSE(std::isnan(got.inputs[0]));
}

TEST(Inverse, RefusalsAndEmptyObjects) {
    auto cal = IntensityCalibration();
    const std::vector<double> values{1.0, 2.0};
    std::vector<double> one(1, -7.0);
    EXPECT_THROW((void)cal.inverse(values, one), Error);
    EXPECT_EQ(one[0], -7.0);
    EXPECT_TRUE(cal.inverse(std::vector<double>{}).inputs.empty());

    std::vector<double> out(2);
    EXPECT_THROW((void)calmgr::inverse(nullptr, values, out), Error);

    // No calibration (type none): every value is unresolved.
    cal.set_type(calmgr::CalType::None);
    const auto none = cal.inverse(values);
    EXPECT_EQ(none.unresolved, 2u);

    const IntensityCalibration moved = std::move(cal);
    EXPECT_THROW((void)cal.inverse(values), Error);  // NOLINT: use after move is the point
}

}  // namespace
