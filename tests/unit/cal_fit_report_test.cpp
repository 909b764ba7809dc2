// ICalFitReport: the report of each least-squares fit type on exactly the
// samples its table builder fits, and the refusals where no least-squares
// fit lies behind the table.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

CalFitReport marked() {
    CalFitReport r;
    std::memset(&r, 0x5a, sizeof r);
    return r;
}

struct Cal {
    IntensityCal* p = ICalCreate();
    ~Cal() { ICalDestroy(p); }
    int32_t curve(const std::vector<CalPoint>& pts, int16_t fit_type) {
        ICalControl(p, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), 1, const_cast<CalPoint*>(pts.data()));
        return ICalControl(p, ICAL_SET_FIT_TYPE, fit_type, 0, nullptr);
    }
};

TEST(CalFitReport, EachFitTypeReportsTheSamplesItsBuilderFits) {
    const std::vector<CalPoint> pts = {{0, 0.05}, {40, 0.3}, {90, -0.2}, {150, 1.2}, {200, 1.6}, {255, 2.4}};
    for (int16_t type : {1, 2, 3, 10, 11, 12, 13, 21, 22, 23}) {
        SCOPED_TRACE(testing::Message() << "fit type " << type);
        Cal cal;
        ASSERT_EQ(cal.curve(pts, type), CAL_OK);
        std::vector<RealPoint> samples;
        for (const CalPoint& p : pts) {
            if (type >= 11 && type <= 13) {
                if (p.calibrated > 0.0) samples.push_back({p.input, std::log(p.calibrated)});
            } else if (type >= 21) {
                samples.push_back({p.input, std::exp(-p.calibrated)});
            } else if (type == 10) {
                samples.push_back({p.input, std::pow(10.0, -p.calibrated)});
            } else {
                samples.push_back({p.input, p.calibrated});
            }
        }
        const int16_t degree = static_cast<int16_t>(type == 10 ? 1 : type % 10);
        CalFitReport want, got;
        ASSERT_EQ(PolynomialFitReport(samples.data(), static_cast<int32_t>(samples.size()), degree, &want), CAL_OK);
        ASSERT_EQ(ICalFitReport(cal.p, &got), CAL_OK);
        EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0);
        EXPECT_EQ(got.num_samples, type >= 11 && type <= 13 ? 5 : 6);

        if (type > 3) continue;
        // The table is that polynomial on the grid (the builder's normal
        // equations in double agree to many digits on these points).
        double table[256];
        ASSERT_EQ(ICalControl(cal.p, ICAL_GET_TABLE, 0, 0, table), CAL_OK);
        for (int i = 0; i < 256; i += 15) {
            double v = 0.0;
            for (int k = degree; k >= 0; --k) v = v * i + got.coeffs[k];
            EXPECT_NEAR(table[i], v, 1e-9) << "entry " << i;
        }
    }
}

TEST(CalFitReport, NoLeastSquaresFitMeansInvalid) {
    CalFitReport r = marked();
    EXPECT_EQ(ICalFitReport(nullptr, &r), CAL_ERR_INVALID);
    Cal fresh;  // two points: the table is the line through both
    EXPECT_EQ(ICalFitReport(fresh.p, &r), CAL_ERR_INVALID);
    EXPECT_EQ(ICalFitReport(fresh.p, nullptr), CAL_ERR_INVALID);
    const std::vector<CalPoint> pts = {{0, 1}, {100, 2}, {255, 0.5}};
    for (int16_t type : {0, 4, 5, 6, 7}) {
        Cal cal;
        ASSERT_EQ(cal.curve(pts, type), CAL_OK);
        EXPECT_EQ(ICalFitReport(cal.p, &r), CAL_ERR_INVALID) << "fit type " << type;
    }
    for (uint32_t cal_type : {ICAL_TYPE_DENSITY, ICAL_TYPE_TABLE, ICAL_TYPE_NONE}) {
        Cal cal;
        ASSERT_EQ(cal.curve(pts, 2), CAL_OK);
        ASSERT_EQ(ICalControl(cal.p, ICAL_SET_TYPE, static_cast<int32_t>(cal_type), 0, nullptr), CAL_OK);
        EXPECT_EQ(ICalFitReport(cal.p, &r), CAL_ERR_INVALID) << "type " << cal_type;
    }
    // Not determined: a cubic through three points; a quadratic through
    // two distinct inputs; one positive value for the exponential fit; a
    // transmittance that overflows.
    Cal cubic, twice, exponential, overflow;
    ASSERT_EQ(cubic.curve(pts, 3), CAL_OK);
    EXPECT_EQ(ICalFitReport(cubic.p, &r), CAL_ERR_INVALID);
    twice.curve({{0, 1}, {0, 2}, {255, 3}}, 2);
    EXPECT_EQ(ICalFitReport(twice.p, &r), CAL_ERR_INVALID);
    exponential.curve({{0, 0}, {100, 5}, {255, -1}}, 12);
    EXPECT_EQ(ICalFitReport(exponential.p, &r), CAL_ERR_INVALID);
    overflow.curve({{0, -800}, {100, 1}, {255, 2}}, 21);
    EXPECT_EQ(ICalFitReport(overflow.p, &r), CAL_ERR_INVALID);
    const CalFitReport m = marked();
    EXPECT_EQ(std::memcmp(&r, &m, sizeof r), 0);
}

}  // namespace
