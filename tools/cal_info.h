// A calibration's settings read through the public interface into plain
// values, for the summary, the table CSV and the plot.
#pragma once

#include "calmgr.h"

#include <string>
#include <vector>

namespace tool {

struct CalInfo {
    std::string name, units;
    uint32_t type = 0;
    int fit_type = 0;
    double range_min = 0, range_max = 0, table_min = 0, table_max = 0;
    double black_level = 0, incident_level = 0;
    std::vector<CalPoint> points;
    std::vector<double> table;

    // Input value of table entry i: the grid of the lookup table.
    double grid(size_t i) const;
};

CalInfo read_cal_info(IntensityCal* cal);

// Multi-line summary: type, fit, range, size, table minimum and maximum.
std::string summary(const CalInfo& info);

// "input,calibrated" per table entry.
std::string table_csv(const CalInfo& info);

}  // namespace tool
