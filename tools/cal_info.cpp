// The summary, table, JSON and description texts of a calibration.
#include "cal_info.h"

#include "console.h"
#include "parse.h"

namespace tool {

std::string type_name(calmgr::CalType type) {
    switch (type) {
        case calmgr::CalType::Standard: return "standard curve";
        case calmgr::CalType::Density: return "optical density";
        case calmgr::CalType::Table: return "caller-supplied table";
        case calmgr::CalType::None: return "none";
    }
    return "unknown";
}

std::string describe_fit(calmgr::Fit fit) {
    for (const calmgr::FitName& f : calmgr::fit_names)
        if (f.fit == fit) return std::string(f.name) + ": " + f.description;
    return std::to_string(static_cast<int>(fit)) + ": piecewise linear interpolation";
}

std::string describe_method(const CalSnapshot& c) {
    switch (c.type) {
        case calmgr::CalType::Standard:
            return c.points.size() == 2 ? "straight line through two points" : describe_fit(c.fit);
        case calmgr::CalType::Density:
            return "optical density, black " + fmt(c.black_level) + ", incident " + fmt(c.incident_level);
        case calmgr::CalType::Table: return "supplied table";
        case calmgr::CalType::None: return "no calibration";
    }
    return "unknown";
}

std::string summary(const CalSnapshot& c) {
    std::string s = "name:          " + c.name + "\n";
    s += "type:          " + type_name(c.type) + "\n";
    if (c.type == calmgr::CalType::Standard) {
        s += "fit:           " + describe_method(c) + "\n";
        s += "points:        " + std::to_string(c.points.size()) + "\n";
    } else if (c.type == calmgr::CalType::Density) {
        s += "levels:        black " + fmt(c.black_level) + ", incident " + fmt(c.incident_level) + "\n";
    }
    s += "range:         " + fmt(c.range.min) + " .. " + fmt(c.range.max) + "\n";
    s += "table size:    " + std::to_string(c.table.size()) + "\n";
    s += "table minimum: " + fmt(c.table_min) + " " + c.units + "\n";
    s += "table maximum: " + fmt(c.table_max) + " " + c.units + "\n";
    return s;
}

std::string table_csv(const CalSnapshot& c) {
    std::string s = "input,calibrated\n";
    for (size_t k = 0; k < c.table.size(); ++k) s += fmt(c.inputs[k]) + "," + fmt(c.table[k]) + "\n";
    return s;
}

nlohmann::json cal_json(const CalSnapshot& c) {
    nlohmann::json doc = {{"name", c.name},
                          {"units", c.units},
                          {"type", type_name(c.type)},
                          {"method", describe_method(c)},
                          {"fit_type", static_cast<int>(c.fit)},
                          {"range", {json_number(c.range.min), json_number(c.range.max)}},
                          {"table_size", c.table.size()},
                          {"table_min", json_number(c.table_min)},
                          {"table_max", json_number(c.table_max)}};
    if (c.type == calmgr::CalType::Density) {
        doc["black_level"] = json_number(c.black_level);
        doc["incident_level"] = json_number(c.incident_level);
    }
    nlohmann::json points = nlohmann::json::array();
    for (const auto& p : c.points) points.push_back({json_number(p.input), json_number(p.calibrated)});
    doc["points"] = points;
    return doc;
}

std::string one_line_description(const CalSnapshot& c) {
    std::string s = "Calibrated values";
    if (!c.units.empty()) s += " in " + c.units;
    s += " from calibration \"" + c.name + "\" (" + describe_method(c) + ", input range " + fmt(c.range.min) + ".." +
         fmt(c.range.max) + ")";
    for (char& ch : s)
        if (ch == '\n' || ch == '\r') ch = ' ';
    return s;
}

}  // namespace tool
