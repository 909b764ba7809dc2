// Reading a calibration for display: every setting through ICalControl,
// then the summary and table text.
#include "cal_info.h"

#include "curve_options.h"
#include "tool_common.h"

namespace tool {

double CalInfo::grid(size_t i) const {
    if (table.size() < 2) return range_min;
    return range_min + static_cast<double>(i) * (range_max - range_min) / static_cast<double>(table.size() - 1);
}

CalInfo read_cal_info(IntensityCal* cal) {
    CalInfo info;
    char buf[128];
    ICalControl(cal, ICAL_GET_NAME, 0, 0, buf);
    info.name = buf;
    ICalControl(cal, ICAL_GET_UNITS, 0, 0, buf);
    info.units = buf;
    ICalControl(cal, ICAL_GET_TYPE, 0, 0, &info.type);
    int16_t fit = 0;
    ICalControl(cal, ICAL_GET_FIT_TYPE, 0, 0, &fit);
    info.fit_type = fit;
    ICalControl(cal, ICAL_GET_RANGE_MIN, 0, 0, &info.range_min);
    ICalControl(cal, ICAL_GET_RANGE_MAX, 0, 0, &info.range_max);
    ICalControl(cal, ICAL_GET_TABLE_MIN, 0, 0, &info.table_min);
    ICalControl(cal, ICAL_GET_TABLE_MAX, 0, 0, &info.table_max);
    ICalControl(cal, ICAL_GET_BLACK_LEVEL, 0, 0, &info.black_level);
    ICalControl(cal, ICAL_GET_INCIDENT_LEVEL, 0, 0, &info.incident_level);
    uint16_t n = 0;
    ICalControl(cal, ICAL_GET_NUM_POINTS, 0, 0, &n);
    info.points.resize(n);
    if (n != 0) ICalControl(cal, ICAL_GET_POINTS, 0, 0, info.points.data());
    ICalControl(cal, ICAL_GET_TABLE_SIZE, 0, 0, &n);
    info.table.resize(n);
    if (n != 0) ICalControl(cal, ICAL_GET_TABLE, 0, 0, info.table.data());
    return info;
}

std::string summary(const CalInfo& i) {
    static const char* const types[] = {"standard curve", "optical density", "caller-supplied table", "none"};
    std::string s = "name:          " + i.name + "\n";
    s += "type:          " + std::string(i.type < 4 ? types[i.type] : "unknown") + "\n";
    if (i.type == ICAL_TYPE_STANDARD) {
        s += "fit:           " + (i.points.size() == 2 ? std::string("straight line through two points") : describe_fit(i.fit_type)) + "\n";
        s += "points:        " + std::to_string(i.points.size()) + "\n";
    } else if (i.type == ICAL_TYPE_DENSITY) {
        s += "levels:        black " + fmt(i.black_level) + ", incident " + fmt(i.incident_level) + "\n";
    }
    s += "range:         " + fmt(i.range_min) + " .. " + fmt(i.range_max) + "\n";
    s += "table size:    " + std::to_string(i.table.size()) + "\n";
    // Adding 0.0 shows a negative zero as 0.
    s += "table minimum: " + fmt(i.table_min + 0.0) + " " + i.units + "\n";
    s += "table maximum: " + fmt(i.table_max + 0.0) + " " + i.units + "\n";
    return s;
}

std::string table_csv(const CalInfo& info) {
    std::string s = "input,calibrated\n";
    for (size_t k = 0; k < info.table.size(); ++k) s += fmt(info.grid(k)) + "," + fmt(info.table[k]) + "\n";
    return s;
}

}  // namespace tool
