// Saved calibrations read back bit for bit: awkward doubles, every
// calibration type, the file functions and a stable second save.
#include "io_support.h"

#include <cfloat>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

using namespace iotest;

namespace {

const double kAwkward[] = {0.1, 1.0 / 3.0, 5e-324, DBL_MIN / 3.0, -0.0, 0.0, DBL_MAX, -DBL_MAX,
                           DBL_MIN, 2.0 / 3.0, 1e-300, 123456789.123456789};

// Serialises, loads into a new calibration and checks the copy.
IntensityCal* reload(IntensityCal* cal) {
    char err[256];
    char* text = CalIntensityToJson(cal, err, sizeof err);
    EXPECT_NE(text, nullptr) << err;
    if (text == nullptr) return nullptr;
    IntensityCal* copy = CalIntensityFromJson(text, err, sizeof err);
    EXPECT_NE(copy, nullptr) << err << "\n" << text;
    CalFreeJson(text);
    return copy;
}

}  // namespace

TEST(IntensityRoundTrip, CallerTableKeepsEveryAwkwardDouble) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    std::vector<double> table(std::begin(kAwkward), std::end(kAwkward));
    table.push_back(std::numeric_limits<double>::infinity());
    table.push_back(-std::numeric_limits<double>::infinity());
    table.push_back(std::numeric_limits<double>::quiet_NaN());
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr), CAL_OK);
    ASSERT_EQ(ICalControl(cal, ICAL_SET_TABLE, static_cast<int32_t>(table.size()), 0, table.data()), CAL_OK);
    const double lo = 1.0 / 3.0, hi = 1e300;
    ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, const_cast<double*>(&lo));
    ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, const_cast<double*>(&hi));
    ICalControl(cal, ICAL_SET_ATTRIBUTE, -7, 0, nullptr);
    ICalControl(cal, ICAL_SET_NAME, 0, 0, const_cast<char*>("Wedge \"A\" \\ tab\t µm"));
    IntensityCal* copy = reload(cal);
    ASSERT_NE(copy, nullptr);
    expect_same_intensity(cal, copy);
    EXPECT_EQ(iget<int16_t>(copy, ICAL_GET_ATTRIBUTE), -7);
    ICalDestroy(copy);
    ICalDestroy(cal);
}

TEST(IntensityRoundTrip, PointsLevelsAndRangeOfEveryBuiltType) {
    for (uint32_t type : {ICAL_TYPE_STANDARD, ICAL_TYPE_DENSITY, ICAL_TYPE_NONE}) {
        SCOPED_TRACE(type);
        IntensityCal* cal = ICalCreate();
        ASSERT_NE(cal, nullptr);
        const CalPoint pts[2] = {{0.1, 1.0 / 3.0}, {4095.0 / 7.0, -0.0}};
        ASSERT_EQ(ICalControl(cal, ICAL_SET_POINTS, 2, 1, const_cast<CalPoint*>(pts)), CAL_OK);
        const double black = 5e-324, incident = 4000.0 / 3.0, range_max = 4095.0;
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, const_cast<double*>(&black));
        ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, const_cast<double*>(&incident));
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, const_cast<double*>(&range_max));
        ICalControl(cal, ICAL_SET_TABLE_SIZE, 1000, 1, nullptr);
        ICalControl(cal, ICAL_SET_OPTIONS, ICAL_OPT_CLAMP_NEGATIVE, 1, nullptr);
        ICalControl(cal, ICAL_SET_UNITS, 0, 0, const_cast<char*>("OD"));
        ASSERT_EQ(ICalControl(cal, ICAL_SET_TYPE, static_cast<int32_t>(type), 0, nullptr), CAL_OK);
        IntensityCal* copy = reload(cal);
        ASSERT_NE(copy, nullptr);
        expect_same_intensity(cal, copy);
        ICalDestroy(copy);
        ICalDestroy(cal);
    }
}

TEST(IntensityRoundTrip, FittedCurveIsRebuiltIdentically) {
    IntensityCal* cal = ICalCreate();
    ASSERT_NE(cal, nullptr);
    const CalPoint pts[5] = {{0, 0.05}, {40, 0.4}, {100, 1.1}, {180, 2.0}, {255, 2.9}};
    ICalControl(cal, ICAL_SET_POINTS, 5, 1, const_cast<CalPoint*>(pts));
    ICalControl(cal, ICAL_SET_OPTIONS, ICAL_OPT_MONOTONIC, 1, nullptr);
    for (int fit : {2, 5, 10, 12, 22}) {
        SCOPED_TRACE(fit);
        ASSERT_EQ(ICalControl(cal, ICAL_SET_FIT_TYPE, fit, 0, nullptr), CAL_OK);
        IntensityCal* copy = reload(cal);
        ASSERT_NE(copy, nullptr);
        expect_same_intensity(cal, copy);
        ICalDestroy(copy);
    }
    ICalDestroy(cal);
}

TEST(SpatialRoundTrip, AwkwardScalesOriginsAndAux) {
    const double aux_values[] = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity(),
                                 5e-324, -0.0};
    for (size_t i = 0; i + 1 < std::size(kAwkward); ++i) {
        if (kAwkward[i] == 0.0) continue;  // not a scale
        SpatialCal* cal = SCalCreate();
        ASSERT_NE(cal, nullptr);
        ASSERT_EQ(SCalControl(cal, SCAL_SET_SCALE, 0, 0, const_cast<double*>(&kAwkward[i])), CAL_OK);
        ASSERT_EQ(SCalControl(cal, SCAL_SET_PIXEL_SIZE, 1, 0, const_cast<double*>(&kAwkward[i + 1])),
                  kAwkward[i + 1] == 0.0 ? CAL_ERR_INVALID : CAL_OK);
        SCalControl(cal, SCAL_SET_ORIGIN, 0, 0, const_cast<double*>(&kAwkward[(i + 3) % std::size(kAwkward)]));
        SCalControl(cal, SCAL_SET_ORIGIN, 1, 0, const_cast<double*>(&kAwkward[(i + 5) % std::size(kAwkward)]));
        SCalControl(cal, SCAL_SET_AUX_VALUE, 0, 0, const_cast<double*>(&aux_values[i % 4]));
        SCalControl(cal, SCAL_SET_UNITS, 0, 0, const_cast<char*>("µm"));
        char err[256];
        char* text = CalSpatialToJson(cal, err, sizeof err);
        ASSERT_NE(text, nullptr) << err;
        SpatialCal* copy = CalSpatialFromJson(text, err, sizeof err);
        ASSERT_NE(copy, nullptr) << err << "\n" << text;
        for (uint32_t code : {SCAL_GET_SCALE, SCAL_GET_ORIGIN, SCAL_GET_PIXEL_AREA, SCAL_GET_PIXEL_SIZE})
            for (int axis : {0, 1}) {
                double a, b;
                SCalControl(cal, code, axis, 0, &a);
                SCalControl(copy, code, axis, 0, &b);
                EXPECT_EQ(bits(a), bits(b)) << text;
            }
        double a, b;
        SCalControl(cal, SCAL_GET_AUX_VALUE, 0, 0, &a);
        SCalControl(copy, SCAL_GET_AUX_VALUE, 0, 0, &b);
        if (std::isnan(a)) EXPECT_TRUE(std::isnan(b));
        else EXPECT_EQ(bits(a), bits(b));
        char na[128], nb[128];
        SCalControl(cal, SCAL_GET_NAME, 0, 0, na);
        SCalControl(copy, SCAL_GET_NAME, 0, 0, nb);
        EXPECT_STREQ(na, nb);
        SCalControl(copy, SCAL_GET_UNITS, 0, 0, nb);
        EXPECT_STREQ(nb, "µm");
        CalFreeJson(text);
        SCalDestroy(copy);
        SCalDestroy(cal);
    }
}

TEST(SavedFiles, SaveLoadSaveGivesTheSameBytes) {
    const auto dir = scratch_dir("saveload");
    IntensityCal* cal = ICalCreate();
    const CalPoint pts[2] = {{10.0, 0.1}, {250.0, 3.0 / 7.0}};
    ICalControl(cal, ICAL_SET_POINTS, 2, 0, const_cast<CalPoint*>(pts));
    char err[256];
    const std::string first = (dir / "a.json").string(), second = (dir / "b.json").string();
    ASSERT_EQ(CalSaveIntensity(cal, first.c_str(), err, sizeof err), CAL_OK) << err;
    EXPECT_STREQ(err, "");
    IntensityCal* copy = CalLoadIntensity(first.c_str(), err, sizeof err);
    ASSERT_NE(copy, nullptr) << err;
    expect_same_intensity(cal, copy);
    ASSERT_EQ(CalSaveIntensity(copy, second.c_str(), err, sizeof err), CAL_OK) << err;
    auto slurp = [](const std::string& p) { std::ifstream f(p); std::stringstream s; s << f.rdbuf(); return s.str(); };
    std::string a = slurp(first), b = slurp(second);
    EXPECT_EQ(a, b);
    EXPECT_EQ(dir_entries(dir).size(), 2u);  // no temporary files left

    SpatialCal* sp = SCalCreate();
    const double scale = 1.0 / 3.0;
    SCalControl(sp, SCAL_SET_SCALE, 1, 0, const_cast<double*>(&scale));
    const std::string sfile = (dir / "s.json").string();
    ASSERT_EQ(CalSaveSpatial(sp, sfile.c_str(), err, sizeof err), CAL_OK) << err;
    SpatialCal* sc = CalLoadSpatial(sfile.c_str(), err, sizeof err);
    ASSERT_NE(sc, nullptr) << err;
    double y;
    SCalControl(sc, SCAL_GET_SCALE, 1, 0, &y);
    EXPECT_EQ(bits(y), bits(scale));
    SCalDestroy(sc);
    SCalDestroy(sp);
    ICalDestroy(copy);
    ICalDestroy(cal);
    std::filesystem::remove_all(dir);
}
