// Shared by the fuzz harnesses that hold calibrations: everything a caller
// can read back from an intensity calibration as one byte string (for
// "nothing changed" and "loads to the same calibration" checks), the
// layout of each lookup sample type, and fuzzed calibration points.
#pragma once

#include "calmgr.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace fuzz {

template <class T>
T read_control(IntensityCal* cal, uint32_t code) {
    T v{};
    CHECK(ICalControl(cal, code, 0, 0, &v) == CAL_OK);
    return v;
}

// Every setting ICalControl reads back, with the points and the table, in
// one byte string compared bit for bit.
inline std::vector<unsigned char> intensity_bytes(IntensityCal* cal) {
    std::vector<unsigned char> s;
    auto add = [&s](const void* p, size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        s.insert(s.end(), b, b + n);
    };
    auto add_value = [&add](const auto& v) { add(&v, sizeof v); };
    char text[128];
    for (uint32_t code : {ICAL_GET_NAME, ICAL_GET_UNITS}) {
        std::memset(text, 0, sizeof text);
        CHECK(ICalControl(cal, code, 0, 0, text) == CAL_OK);
        add(text, sizeof text);
    }
    add_value(read_control<uint32_t>(cal, ICAL_GET_TYPE));
    for (uint32_t code : {ICAL_GET_RANGE_MIN, ICAL_GET_RANGE_MAX, ICAL_GET_BLACK_LEVEL, ICAL_GET_INCIDENT_LEVEL,
                          ICAL_GET_TABLE_MIN, ICAL_GET_TABLE_MAX})
        add_value(read_control<double>(cal, code));
    for (uint32_t code : {ICAL_GET_FIT_TYPE, ICAL_GET_ATTRIBUTE, ICAL_GET_OPTIONS})
        add_value(read_control<uint16_t>(cal, code));
    const auto num_points = read_control<uint16_t>(cal, ICAL_GET_NUM_POINTS);
    const auto table_size = read_control<uint16_t>(cal, ICAL_GET_TABLE_SIZE);
    add_value(num_points);
    add_value(table_size);
    std::vector<CalPoint> points(num_points);
    std::vector<double> table(table_size);
    // Empty arrays are read too (into a spare buffer): that must succeed.
    CHECK(ICalControl(cal, ICAL_GET_POINTS, 0, 0, points.empty() ? static_cast<void*>(text) : points.data()) == CAL_OK);
    CHECK(ICalControl(cal, ICAL_GET_TABLE, 0, 0, table.empty() ? static_cast<void*>(text) : table.data()) == CAL_OK);
    add(points.data(), points.size() * sizeof(CalPoint));
    add(table.data(), table.size() * sizeof(double));
    return s;
}

// Bytes per input element (0 for bits, eight per byte) and values per pixel
// of a sample type code (bits 0-7 of a lookup's type).
inline void sample_layout(uint32_t code, size_t& width, size_t& per_pixel) {
    per_pixel = (code == 3 || code == 8 || code == 9) ? 3 : 1;
    switch (code) {
        case 0: width = 0; break;  // bits
        case 1: case 2: case 3: width = 1; break;
        case 4: case 6: case 8: case 9: width = 2; break;
        case 5: width = 4; break;
        default: width = 8; break;
    }
}

// n points: tame ones on the default grid or arbitrary doubles, with
// repeated points and vertical steps, sometimes sorted by input.
inline std::vector<CalPoint> fuzz_points(Input& in, uint16_t n) {
    std::vector<CalPoint> points(n);
    const uint8_t shape = in.u8();
    for (uint16_t i = 0; i < n; ++i) {
        if (shape % 4 == 0) {
            points[i] = {static_cast<double>(in.u8()), static_cast<double>(static_cast<int8_t>(in.u8())) / 8.0};
        } else {
            points[i] = {in.real(), in.real()};
        }
        if (i > 0) {
            const uint8_t repeat = in.below(8);
            if (repeat == 0) points[i] = points[i - 1];              // consecutive repeat
            if (repeat == 1) points[i].input = points[i - 1].input;  // vertical step
        }
    }
    if (shape & 0x10) {
        std::stable_sort(points.begin(), points.end(),
                         [](const CalPoint& a, const CalPoint& b) { return a.input < b.input; });
    }
    return points;
}

}  // namespace fuzz
