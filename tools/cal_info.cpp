// Reading a calibration for display, then the summary, table and
// description texts.
#include "cal_info.h"

#include "curve_options.h"
#include "parse.h"

namespace tool {

CalInfo read_cal_info(const calmgr::IntensityCalibration& cal) {
    CalInfo info;
    info.name = cal.name();
    info.units = cal.units();
    info.type = cal.type();
    info.fit_type = static_cast<int>(cal.fit_type());
    info.range_min = cal.range_min();
    info.range_max = cal.range_max();
    info.table_min = cal.table_min();
    info.table_max = cal.table_max();
    info.black_level = cal.black_level();
    info.incident_level = cal.incident_level();
    info.points = cal.points();
    info.table = cal.table();
    // The grid as the table builders step through it: from the range
    // minimum, adding one step per entry.
    const size_t n = info.table.size();
    info.grid.resize(n);
    const double step = n > 1 ? (info.range_max - info.range_min) / static_cast<double>(n - 1) : 0.0;
    double x = info.range_min;
    for (size_t i = 0; i < n; ++i, x += step) info.grid[i] = x;
    return info;
}

std::string type_name(calmgr::CalType type) {
    switch (type) {
        case calmgr::CalType::Standard: return "standard curve";
        case calmgr::CalType::Density: return "optical density";
        case calmgr::CalType::Table: return "caller-supplied table";
        case calmgr::CalType::None: return "none";
    }
    return "unknown";
}

std::string describe_method(const CalInfo& i) {
    switch (i.type) {
        case calmgr::CalType::Standard:
            return i.points.size() == 2 ? "straight line through two points" : describe_fit(i.fit_type);
        case calmgr::CalType::Density:
            return "optical density, black " + fmt(i.black_level) + ", incident " + fmt(i.incident_level);
        case calmgr::CalType::Table: return "supplied table";
        case calmgr::CalType::None: return "no calibration";
    }
    return "unknown";
}

std::string summary(const CalInfo& i) {
    std::string s = "name:          " + i.name + "\n";
    s += "type:          " + type_name(i.type) + "\n";
    if (i.type == calmgr::CalType::Standard) {
        s += "fit:           " + describe_method(i) + "\n";
        s += "points:        " + std::to_string(i.points.size()) + "\n";
    } else if (i.type == calmgr::CalType::Density) {
        s += "levels:        black " + fmt(i.black_level) + ", incident " + fmt(i.incident_level) + "\n";
    }
    s += "range:         " + fmt(i.range_min) + " .. " + fmt(i.range_max) + "\n";
    s += "table size:    " + std::to_string(i.table.size()) + "\n";
    s += "table minimum: " + fmt(i.table_min) + " " + i.units + "\n";
    s += "table maximum: " + fmt(i.table_max) + " " + i.units + "\n";
    return s;
}

std::string table_csv(const CalInfo& info) {
    std::string s = "input,calibrated\n";
    for (size_t k = 0; k < info.table.size(); ++k) s += fmt(info.grid[k]) + "," + fmt(info.table[k]) + "\n";
    return s;
}

std::string one_line_description(const CalInfo& i) {
    std::string s = "Calibrated values";
    if (!i.units.empty()) s += " in " + i.units;
    s += " from calibration \"" + i.name + "\" (" + describe_method(i) + ", input range " + fmt(i.range_min) + ".." +
         fmt(i.range_max) + ")";
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

}  // namespace tool
