// A calibration's settings read through the C++ layer into plain values,
// for the summary, the table CSV, the plot, JSON output and the one-line
// description written into calibrated images.
#pragma once

#include "calmgr.hpp"

#include <string>
#include <vector>

namespace tool {

struct CalInfo {
    std::string name, units;
    calmgr::CalType type = calmgr::CalType::Standard;
    int fit_type = 0;
    double range_min = 0, range_max = 0, table_min = 0, table_max = 0;
    double black_level = 0, incident_level = 0;
    std::vector<CalPoint> points;
    std::vector<double> table;
    std::vector<double> grid;  // the input value of each table entry
};

CalInfo read_cal_info(const calmgr::IntensityCalibration& cal);

// "standard curve", "optical density", ...
std::string type_name(calmgr::CalType type);
// How the table was made: "poly2: least-squares polynomial of degree 2",
// "straight line through two points", "black 10, incident 250", ...
std::string describe_method(const CalInfo& info);

// Multi-line summary: type, fit, range, size, table minimum and maximum.
std::string summary(const CalInfo& info);

// "input,calibrated" per table entry.
std::string table_csv(const CalInfo& info);

// One line naming the calibration (name, units, method, range), for the
// description of an image it produced.
std::string one_line_description(const CalInfo& info);

}  // namespace tool
