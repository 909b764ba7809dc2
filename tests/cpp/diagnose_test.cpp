// Findings through the C++ layer: the same findings as ICalDiagnose in the
// same order, however many there are, with their names and texts; and a
// table the library refuses to build is explained by them.
#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using calmgr::Diag;
using calmgr::Fit;
using calmgr::IntensityCalibration;

std::vector<CalFinding> c_findings(const IntensityCal* cal) {
    uint32_t count = 0;
    EXPECT_EQ(ICalDiagnose(cal, nullptr, 0, &count), CAL_OK);
    std::vector<CalFinding> out(count);
    EXPECT_EQ(ICalDiagnose(cal, out.data(), count, &count), CAL_OK);
    return out;
}

void expect_same(const std::vector<calmgr::Finding>& got, const std::vector<CalFinding>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(static_cast<uint32_t>(got[i].code), want[i].code) << i;
        EXPECT_EQ(got[i].point, want[i].point) << i;
        EXPECT_EQ(got[i].entry, want[i].entry) << i;
        if (std::isnan(want[i].value)) EXPECT_TRUE(std::isnan(got[i].value)) << i;
        else EXPECT_EQ(got[i].value, want[i].value) << i;
        EXPECT_STREQ(got[i].text, CalDiagText(want[i].code)) << i;
    }
}

TEST(Diagnose, GivesTheLibrarysFindingsInItsOrder) {
    // Two points with the same input and different calibrated values.
    const std::vector<CalPoint> spike{{0, 0}, {64, 1}, {64, 2}, {255, 3}};
    auto cal = IntensityCalibration::from_points(spike);
    const auto findings = cal.diagnose();
    expect_same(findings, c_findings(cal.get()));
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings.front().code, Diag::DuplicateInput);
    EXPECT_EQ(findings.front().point, 2);
    EXPECT_EQ(calmgr::diag_name(findings.front().code), "duplicate_input");
    EXPECT_EQ(findings.front().describe(), std::string("point 2 (64): ") + CalDiagText(ICAL_DIAG_DUPLICATE_INPUT));

    // A thousand points denser than the grid: many findings, all of them.
    std::vector<CalPoint> dense;
    for (int i = 0; i < 1000; ++i) dense.push_back(CalPoint{i * 0.25, i * 0.001 + (i % 2) * 0.01});
    cal.set_points(dense);
    const auto many = cal.diagnose();
    EXPECT_GT(many.size(), 500u);
    expect_same(many, c_findings(cal.get()));

    // A clean calibration of every kind has none.
    EXPECT_TRUE(IntensityCalibration().diagnose().empty());
    const std::vector<CalPoint> rising{{0, 0.1}, {100, 0.9}, {200, 2.1}, {255, 2.9}};
    for (Fit fit : {Fit::Piecewise, Fit::Poly1, Fit::Interp2})
        EXPECT_TRUE(IntensityCalibration::from_points(rising, fit).diagnose().empty())
            << calmgr::fit_name(fit);
    const auto clean = IntensityCalibration::from_points(rising, Fit::Poly3);
    const auto newest = calmgr::intensity_registry().front();  // a view of `clean`
    EXPECT_EQ(newest.get(), clean.get());
    EXPECT_TRUE(newest.diagnose().empty());
}

TEST(Diagnose, NamesAreDistinctAndKnownCodesHaveText) {
    for (uint32_t code = ICAL_DIAG_EMPTY_RANGE; code <= ICAL_DIAG_POINTS_DROPPED; ++code) {
        const auto name = calmgr::diag_name(static_cast<Diag>(code));
        EXPECT_FALSE(name.empty()) << code;
        for (uint32_t other = ICAL_DIAG_EMPTY_RANGE; other < code; ++other)
            EXPECT_NE(name, calmgr::diag_name(static_cast<Diag>(other)));
        EXPECT_STRNE(CalDiagText(code), CalDiagText(0)) << code;
    }
    EXPECT_TRUE(calmgr::diag_name(static_cast<Diag>(0)).empty());
}

TEST(Diagnose, RefusedBuildsSayWhyInWords) {
    // Exponential fit with one positive calibrated value: the fit has too few points.
    const std::vector<CalPoint> one_positive{{0.0, 0.0}, {100.0, 5.0}, {255.0, -1.0}};
    try {
        (void)IntensityCalibration::from_points(one_positive, Fit::Exp2);
        FAIL() << "built";
    } catch (const calmgr::Error& e) {
        EXPECT_EQ(e.status(), CAL_ERR_INVALID);
        const std::string what = e.what();
        EXPECT_NE(what.find("the table cannot be built: point 0 (0): "), std::string::npos) << what;
        EXPECT_NE(what.find(CalDiagText(ICAL_DIAG_POINTS_DROPPED)), std::string::npos) << what;
    }
}

}  // namespace
