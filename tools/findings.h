// What makes a calibration's numbers untrustworthy, as the library finds
// it (IntensityView::diagnose), in words for people and as JSON for
// scripts: each finding is a line naming the point or table entry
// concerned, then the library's text for it.
#pragma once

#include "cal_info.h"
#include "calmgr.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tool {

using Findings = std::vector<calmgr::Finding>;

// Every finding, in the library's order.
Findings diagnose(const calmgr::IntensityView& cal);

// "point 3 (64): another point has this input value but ...".
std::string finding_line(const calmgr::Finding& f, const CalSnapshot& cal);

// "DUPLICATE_INPUT" for ICAL_DIAG_DUPLICATE_INPUT.
std::string finding_name(calmgr::Diag code);

nlohmann::json findings_json(const Findings& findings, const CalSnapshot& cal);

// Prints each finding as a warning; with strict, then refuses the
// calibration (ToolError, exit status 3) when there is any.
void report_findings(const Findings& findings, const CalSnapshot& cal, bool strict);

}  // namespace tool
