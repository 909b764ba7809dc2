// Texts about an intensity calibration, from a snapshot of its settings
// (calmgr::IntensitySnapshot: points, table and the table's grid inputs
// as the library computed them): the summary, the table CSV, JSON, and the
// one-line description written into calibrated images.
#pragma once

#include "calmgr.hpp"

#include <nlohmann/json.hpp>

#include <string>

namespace tool {

using CalSnapshot = calmgr::IntensitySnapshot;

// "standard curve", "optical density", ...
std::string type_name(calmgr::CalType type);
// "poly2: least-squares polynomial of degree 2"; the code number for the
// unnamed codes 7..9.
std::string describe_fit(calmgr::Fit fit);
// How the table was made: a fit, "straight line through two points",
// "optical density, black 10, incident 250", ...
std::string describe_method(const CalSnapshot& cal);

// Multi-line summary: type, fit, range, size, table minimum and maximum.
std::string summary(const CalSnapshot& cal);

// "input,calibrated" per table entry.
std::string table_csv(const CalSnapshot& cal);

// The settings as a JSON object (the points, not the table).
nlohmann::json cal_json(const CalSnapshot& cal);

// One line naming the calibration (name, units, method, range), for the
// description of an image it produced.
std::string one_line_description(const CalSnapshot& cal);

}  // namespace tool
