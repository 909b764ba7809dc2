// The intensity calibration's settings and builders against the C interface:
// what is set reads back, the builders give the tables of the equivalent
// controls, refusals arrive as calmgr::Error with the library's status, and
// the table's inputs are the builders' own, bit for bit.
#include "calmgr.hpp"
#include "same_bits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace {

using calmgr::CalType;
using calmgr::Error;
using calmgr::Fit;
using calmgr::IntensityCalibration;
using calmgr::Options;
using calmgr::Range;
using calmgr::Rebuild;

std::vector<double> c_table(IntensityCal* cal) {
    uint16_t n = 0;
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n), CAL_OK);
    std::vector<double> table(n);
    EXPECT_EQ(ICalControl(cal, ICAL_GET_TABLE, 0, 0, table.data()), CAL_OK);
    return table;
}

int32_t expect_error(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.status();
    }
    ADD_FAILURE() << "no calmgr::Error";
    return CAL_OK;
}

TEST(Intensity, ControlsReadBackWhatWasSet) {
    IntensityCalibration cal;
    cal.set_name(std::string(200, 'n'));
    EXPECT_EQ(cal.name(), std::string(127, 'n'));
    cal.set_units("OD");
    EXPECT_EQ(cal.units(), "OD");
    cal.set_attribute(-2);
    EXPECT_EQ(cal.attribute(), -2);
    cal.set_options(Options::Monotonic | Options::ClampNegative, Rebuild::Deferred);
    EXPECT_EQ(cal.options(), Options::Monotonic | Options::ClampNegative);
    EXPECT_TRUE(calmgr::has(cal.options(), Options::ClampNegative));
    cal.set_black_level(5.0, Rebuild::Deferred);
    cal.set_incident_level(250.0, Rebuild::Deferred);
    EXPECT_EQ(cal.black_level(), 5.0);
    EXPECT_EQ(cal.incident_level(), 250.0);
    cal.set_range({0.0, 4095.0}, Rebuild::Deferred);
    cal.set_table_size(4096);
    EXPECT_EQ(cal.range_max(), 4095.0);
    EXPECT_EQ(cal.table_size(), 4096u);
    EXPECT_EQ(cal.table().size(), 4096u);
    EXPECT_EQ(cal.table_max(), 4095.0);

    const std::vector<CalPoint> pts{{1.0, 2.0}, {7.0, 4.0}};
    cal.set_points(pts, Rebuild::Deferred);
    ASSERT_EQ(cal.num_points(), 2u);
    EXPECT_EQ(cal.point(1).input, 7.0);
    EXPECT_EQ(cal.point(1).calibrated, 4.0);
    cal.set_point(0, CalPoint{3.5, 6.0});
    EXPECT_EQ(cal.points()[0].input, 3.5);
    EXPECT_EQ(cal.points()[0].calibrated, 6.0);
    EXPECT_EQ(expect_error([&] { (void)cal.point(2); }), CAL_ERR_INVALID);
    cal.set_fit_type(Fit::Poly1, Rebuild::Deferred);
    EXPECT_EQ(cal.fit_type(), Fit::Poly1);

    const calmgr::IntensitySnapshot s = cal.snapshot();
    EXPECT_EQ(s.name, cal.name());
    EXPECT_EQ(s.units, "OD");
    EXPECT_EQ(s.type, CalType::Standard);
    EXPECT_EQ(s.fit, Fit::Poly1);
    EXPECT_EQ(s.options, cal.options());
    EXPECT_EQ(s.range.max, 4095.0);
    EXPECT_EQ(s.table_max, cal.table_max());
    EXPECT_EQ(s.black_level, 5.0);
    EXPECT_EQ(s.attribute, -2);
    EXPECT_EQ(s.points.size(), 2u);
    EXPECT_TRUE(same_bits(s.table, cal.table()));
    EXPECT_TRUE(same_bits(s.inputs, cal.table_inputs()));

    cal.set_type(CalType::None);
    EXPECT_EQ(cal.type(), CalType::None);
    EXPECT_EQ(cal.num_points(), 0u);
    EXPECT_TRUE(cal.points().empty());
    EXPECT_TRUE(cal.table().empty());
    EXPECT_TRUE(cal.snapshot().inputs.empty());
}

TEST(Intensity, BuildersGiveTheTablesOfTheEquivalentControls) {
    const std::vector<CalPoint> pts{{10.0, 0.2}, {100.0, 1.4}, {300.0, 2.2}, {900.0, 2.6}};
    auto fitted = IntensityCalibration::from_points(pts, Fit::Poly2, Range{-5.0, 1000.0}, 513,
                                                    Options::Monotonic);
    IntensityCal* ref = ICalCreate();
    const double lo = -5.0, hi = 1000.0;
    ICalControl(ref, ICAL_SET_RANGE_MIN, 0, 1, const_cast<double*>(&lo));
    ICalControl(ref, ICAL_SET_RANGE_MAX, 0, 1, const_cast<double*>(&hi));
    ICalControl(ref, ICAL_SET_TABLE_SIZE, 513, 1, nullptr);
    ICalControl(ref, ICAL_SET_POINTS, 4, 1, const_cast<CalPoint*>(pts.data()));
    ICalControl(ref, ICAL_SET_OPTIONS, ICAL_OPT_MONOTONIC, 1, nullptr);
    ASSERT_EQ(ICalControl(ref, ICAL_SET_FIT_TYPE, ICAL_FIT_POLY2, 0, nullptr), CAL_OK);
    EXPECT_TRUE(same_bits(fitted.table(), c_table(ref)));
    EXPECT_EQ(fitted.options(), Options::Monotonic);

    auto density = IntensityCalibration::from_density(5.0, 250.0);
    EXPECT_EQ(density.type(), CalType::Density);
    double black = 5.0, incident = 250.0, zero = 0.0, max255 = 255.0;
    ICalControl(ref, ICAL_SET_RANGE_MIN, 0, 1, &zero);
    ICalControl(ref, ICAL_SET_RANGE_MAX, 0, 1, &max255);
    ICalControl(ref, ICAL_SET_TABLE_SIZE, 256, 1, nullptr);
    ICalControl(ref, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
    ICalControl(ref, ICAL_SET_INCIDENT_LEVEL, 0, 1, &incident);
    ASSERT_EQ(ICalControl(ref, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, nullptr), CAL_OK);
    EXPECT_TRUE(same_bits(density.table(), c_table(ref)));
    ICalDestroy(ref);

    const std::vector<double> table{0.0, 10.0, 30.0, 60.0, 100.0};
    auto given = IntensityCalibration::from_table(table, Range{0.0, 8.0});
    EXPECT_EQ(given.type(), CalType::Table);
    EXPECT_EQ(given.table(), table);
    EXPECT_EQ(given.lookup(std::vector<double>{3.0, 9.0}), (std::vector<double>{20.0, 100.0}));
}

TEST(Intensity, RefusalsBecomeErrorsAndLeaveNothingBehind) {
    const auto before = calmgr::intensity_registry().size();
    IntensityCalibration cal;
    const std::vector<CalPoint> one{{1.0, 1.0}};
    try {
        cal.set_points(one);
        FAIL() << "one point accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), CAL_ERR_INVALID);
        EXPECT_STREQ(e.what(), "set_points: fewer than 2 points: CAL_ERR_INVALID (-985)");
    }
    EXPECT_EQ(cal.num_points(), 2u);
    EXPECT_EQ(expect_error([&] { cal.set_type(static_cast<CalType>(4)); }), CAL_ERR_INVALID);
    // Counts the 16-bit control fields would wrap are refused here.
    std::vector<CalPoint> many(65538, CalPoint{1.0, 1.0});
    EXPECT_EQ(expect_error([&] { cal.set_points(many); }), CAL_ERR_INVALID);
    EXPECT_EQ(cal.num_points(), 2u);
    EXPECT_EQ(expect_error([&] { cal.set_table_size(65536 + 256); }), CAL_ERR_INVALID);
    EXPECT_EQ(cal.table_size(), 256u);
    // A fit type the control would ignore without a word.
    EXPECT_EQ(expect_error([&] { cal.set_fit_type(static_cast<Fit>(15)); }), CAL_ERR_INVALID);
    EXPECT_EQ(cal.fit_type(), Fit::Piecewise);
    // Ranges on which every lookup would pass values through.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Range bad : {Range{255.0, 0.0}, Range{7.0, 7.0}, Range{0.0, nan},
                      Range{-std::numeric_limits<double>::infinity(), 1.0}}) {
        EXPECT_EQ(expect_error([&] { cal.set_range(bad); }), CAL_ERR_INVALID);
        EXPECT_EQ(expect_error([&] { (void)IntensityCalibration::from_points(one, Fit::Poly1, bad); }),
                  CAL_ERR_INVALID);
        EXPECT_EQ(expect_error([&] { (void)IntensityCalibration::from_table(std::vector<double>{1, 2}, bad); }),
                  CAL_ERR_INVALID);
    }
    EXPECT_EQ(cal.range().max, 255.0);
    // Density with incident level not above black level is the rebuild's refusal.
    cal.set_black_level(100.0, Rebuild::Deferred);
    cal.set_incident_level(50.0, Rebuild::Deferred);
    EXPECT_EQ(expect_error([&] { cal.set_type(CalType::Density); }), CAL_ERR_INVALID);
    // A builder whose table cannot be built destroys what it made.
    const std::vector<CalPoint> one_positive{{0.0, 0.0}, {100.0, 5.0}, {255.0, -1.0}};
    EXPECT_EQ(expect_error([&] { (void)IntensityCalibration::from_points(one_positive, Fit::Exp2); }),
              CAL_ERR_INVALID);
    EXPECT_EQ(expect_error([&] { (void)IntensityCalibration::from_density(9.0, 9.0); }),
              CAL_ERR_INVALID);
    EXPECT_EQ(calmgr::intensity_registry().size(), before + 1);
}

// A calibration whose table the test can recompute: the inputs of every
// entry must be the very abscissae the library evaluated.
TEST(TableInputs, AreTheAbscissaeTheBuildersEvaluated) {
    const Range range{0.1, 1000.3};
    const std::size_t n = 301;
    const auto sum = calmgr::grid_inputs(range, n, calmgr::GridRule::RunningSum);
    const auto product = calmgr::grid_inputs(range, n, calmgr::GridRule::Product);
    ASSERT_EQ(sum.size(), n);
    EXPECT_FALSE(same_bits(sum, product)) << "the range must tell the two rules apart";
    EXPECT_EQ(sum.front(), range.min);
    EXPECT_EQ(product.front(), range.min);

    // The two-point line: slope * x + intercept at each input.
    const std::vector<CalPoint> two{{3.0, 0.5}, {700.0, 2.75}};
    auto line = IntensityCalibration::from_points(two, Fit::Piecewise, range, n);
    ASSERT_EQ(line.grid_rule(), calmgr::GridRule::RunningSum);
    const auto inputs = line.table_inputs();
    const auto table = line.table();
    const double slope = (2.75 - 0.5) / (700.0 - 3.0), intercept = 0.5 - 3.0 * slope;
    for (std::size_t i = 0; i < n; ++i)
        ASSERT_EQ(table[i], slope * inputs[i] + intercept) << "entry " << i;

    // A least-squares fit: PolynomialFit at those inputs gives the table.
    const std::vector<CalPoint> pts{{10.0, 0.2}, {100.0, 1.4}, {300.0, 2.2}, {900.0, 2.6}};
    auto poly = IntensityCalibration::from_points(pts, Fit::Poly3, range, n);
    ASSERT_EQ(poly.grid_rule(), calmgr::GridRule::RunningSum);
    std::vector<RealPoint> at(n), samples;
    const auto poly_inputs = poly.table_inputs();
    for (std::size_t i = 0; i < n; ++i) at[i] = RealPoint{poly_inputs[i], 0.0};
    for (const CalPoint& p : pts) samples.push_back(RealPoint{p.input, p.calibrated});
    ASSERT_EQ(PolynomialFit(samples.data(), 4, at.data(), static_cast<int16_t>(n), 3), CAL_OK);
    const auto poly_table = poly.table();
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(poly_table[i], at[i].y) << "entry " << i;

    // Piecewise tables and supplied tables sit on the multiplied grid.
    EXPECT_EQ(IntensityCalibration::from_points(pts, Fit::Interp2, range, n).grid_rule(),
              calmgr::GridRule::Product);
    EXPECT_EQ(IntensityCalibration::from_points(pts, Fit::Exp1, range, n).grid_rule(),
              calmgr::GridRule::RunningSum);
    auto given = IntensityCalibration::from_table(std::vector<double>(n, 1.0), range);
    EXPECT_TRUE(same_bits(given.table_inputs(), product));
    EXPECT_TRUE(calmgr::grid_inputs(range, 0).empty());
}

}  // namespace
