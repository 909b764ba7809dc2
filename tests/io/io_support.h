// Helpers shared by the saved-calibration tests: registry counts, scratch
// directories and bitwise comparison of every readable setting.
#pragma once

#include "calmgr.h"
#include "calmgr_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

namespace iotest {

inline int count_intensity() {
    int n = 0;
    IntensityCal* c = nullptr;
    while (ICalControl(c, ICAL_GET_NEXT, 0, 0, &c) == CAL_OK && c != nullptr) ++n;
    return n;
}

inline int count_spatial() {
    int n = 0;
    SpatialCal* c = nullptr;
    while (SCalControl(c, SCAL_GET_NEXT, 0, 0, &c) == CAL_OK && c != nullptr) ++n;
    return n;
}

inline uint64_t bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// A fresh empty directory under the system temporary directory.
inline std::filesystem::path scratch_dir(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("calmgr_test_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::vector<std::string> dir_entries(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    return out;
}

template <typename T>
T iget(IntensityCal* cal, uint32_t code) {
    T v{};
    EXPECT_EQ(ICalControl(cal, code, 0, 0, &v), CAL_OK) << "control " << code;
    return v;
}

// Every setting readable through ICalControl, compared bit for bit (NaN
// table entries only by being NaN: the file keeps no NaN payload).
inline void expect_same_intensity(IntensityCal* a, IntensityCal* b) {
    char sa[128], sb[128];
    ICalControl(a, ICAL_GET_NAME, 0, 0, sa);
    ICalControl(b, ICAL_GET_NAME, 0, 0, sb);
    EXPECT_STREQ(sa, sb);
    ICalControl(a, ICAL_GET_UNITS, 0, 0, sa);
    ICalControl(b, ICAL_GET_UNITS, 0, 0, sb);
    EXPECT_STREQ(sa, sb);
    EXPECT_EQ(iget<uint32_t>(a, ICAL_GET_TYPE), iget<uint32_t>(b, ICAL_GET_TYPE));
    for (uint32_t code : {ICAL_GET_RANGE_MIN, ICAL_GET_RANGE_MAX, ICAL_GET_BLACK_LEVEL, ICAL_GET_INCIDENT_LEVEL,
                          ICAL_GET_TABLE_MIN, ICAL_GET_TABLE_MAX})
        EXPECT_EQ(bits(iget<double>(a, code)), bits(iget<double>(b, code))) << "control " << code;
    EXPECT_EQ(iget<int16_t>(a, ICAL_GET_FIT_TYPE), iget<int16_t>(b, ICAL_GET_FIT_TYPE));
    EXPECT_EQ(iget<uint16_t>(a, ICAL_GET_OPTIONS), iget<uint16_t>(b, ICAL_GET_OPTIONS));
    EXPECT_EQ(iget<uint16_t>(a, ICAL_GET_ATTRIBUTE), iget<uint16_t>(b, ICAL_GET_ATTRIBUTE));
    const auto np = iget<uint16_t>(a, ICAL_GET_NUM_POINTS);
    ASSERT_EQ(np, iget<uint16_t>(b, ICAL_GET_NUM_POINTS));
    std::vector<CalPoint> pa(np), pb(np);
    if (np != 0) {
        ICalControl(a, ICAL_GET_POINTS, 0, 0, pa.data());
        ICalControl(b, ICAL_GET_POINTS, 0, 0, pb.data());
        EXPECT_EQ(std::memcmp(pa.data(), pb.data(), np * sizeof(CalPoint)), 0);
    }
    const auto nt = iget<uint16_t>(a, ICAL_GET_TABLE_SIZE);
    ASSERT_EQ(nt, iget<uint16_t>(b, ICAL_GET_TABLE_SIZE));
    std::vector<double> ta(nt), tb(nt);
    if (nt != 0) {
        ICalControl(a, ICAL_GET_TABLE, 0, 0, ta.data());
        ICalControl(b, ICAL_GET_TABLE, 0, 0, tb.data());
    }
    for (size_t i = 0; i < nt; ++i) {
        if (std::isnan(ta[i])) EXPECT_TRUE(std::isnan(tb[i])) << "table[" << i << "]";
        else EXPECT_EQ(bits(ta[i]), bits(tb[i])) << "table[" << i << "] " << ta[i] << " vs " << tb[i];
    }
}

}  // namespace iotest
