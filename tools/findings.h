// What makes a calibration's numbers untrustworthy, as the library finds
// it (ICalDiagnose), in words for people and as JSON for scripts: each
// finding is a line naming the point or table entry concerned, then the
// library's text for it.
#pragma once

#include "cal_info.h"
#include "calmgr.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tool {

// Every finding, in the library's order.
std::vector<CalFinding> diagnose(const calmgr::IntensityView& cal);

// "point 3 (64): another point has this input value but ...".
std::string finding_line(const CalFinding& f, const CalSnapshot& cal);

// "DUPLICATE_INPUT" for ICAL_DIAG_DUPLICATE_INPUT.
std::string finding_name(uint32_t code);

nlohmann::json findings_json(const std::vector<CalFinding>& findings, const CalSnapshot& cal);

// Prints each finding as a warning; with strict, then refuses the
// calibration (ToolError, exit status 3) when there is any.
void report_findings(const std::vector<CalFinding>& findings, const CalSnapshot& cal, bool strict);

}  // namespace tool
