// Diagnostic findings in words. Points are numbered from 1 as users count
// them in their lists; the input value tells which one is meant.
#include "findings.h"

#include "console.h"
#include "parse.h"
#include "tool_error.h"

#include <cmath>

namespace tool {

std::vector<CalFinding> diagnose(const calmgr::IntensityView& cal) {
    uint32_t count = 0;
    if (ICalDiagnose(cal.get(), nullptr, 0, &count) != CAL_OK) fail("the calibration cannot be diagnosed");
    std::vector<CalFinding> findings(count);
    uint32_t again = 0;
    if (count != 0 && ICalDiagnose(cal.get(), findings.data(), count, &again) != CAL_OK)
        fail("the calibration cannot be diagnosed");
    findings.resize(std::min(count, again));
    return findings;
}

std::string finding_name(uint32_t code) {
    static const char* const names[] = {"UNKNOWN",       "EMPTY_RANGE",     "UNSORTED",       "DUPLICATE_INPUT",
                                        "OUTSIDE_RANGE", "DENSE_POINTS",    "NONFINITE",      "NOT_MONOTONIC",
                                        "DENSITY_RISES", "LEVELS_LIMITED",  "FIT_SINGULAR",   "DEGREE_REDUCED",
                                        "POINTS_DROPPED"};
    return code < sizeof names / sizeof names[0] ? names[code] : names[0];
}

std::string finding_line(const CalFinding& f, const CalSnapshot& cal) {
    std::string where;
    if (f.point >= 0) {
        where = "point " + std::to_string(f.point + 1);
        if (static_cast<size_t>(f.point) < cal.points.size())
            where += " (" + fmt(cal.points[static_cast<size_t>(f.point)].input) + ")";
    } else if (f.entry >= 0) {
        const auto e = static_cast<size_t>(f.entry);
        where = "table entry " + std::to_string(e + 1) + " of " + std::to_string(cal.table.size());
        if (e < cal.inputs.size()) where += " (input " + fmt(cal.inputs[e]) + ", value " + fmt(f.value) + ")";
    } else if (f.code == ICAL_DIAG_EMPTY_RANGE) {
        where = "range " + fmt(cal.range.min) + ".." + fmt(cal.range.max);
    } else if (f.code == ICAL_DIAG_DEGREE_REDUCED && std::isfinite(f.value)) {
        where = "degree " + fmt(f.value) + " fitted";
    } else if (f.code == ICAL_DIAG_LEVELS_LIMITED && std::isfinite(f.value)) {
        where = "level " + fmt(f.value);
    }
    const std::string text = CalDiagText(f.code);
    return where.empty() ? text : where + ": " + text;
}

nlohmann::json findings_json(const std::vector<CalFinding>& findings, const CalSnapshot& cal) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& f : findings)
        out.push_back({{"code", finding_name(f.code)},
                       {"code_number", f.code},
                       {"point", f.point >= 0 ? nlohmann::json(f.point) : nlohmann::json(nullptr)},
                       {"entry", f.entry >= 0 ? nlohmann::json(f.entry) : nlohmann::json(nullptr)},
                       {"value", json_number(f.value)},
                       {"text", CalDiagText(f.code)},
                       {"message", finding_line(f, cal)}});
    return out;
}

void report_findings(const std::vector<CalFinding>& findings, const CalSnapshot& cal, bool strict) {
    for (const auto& f : findings) warn(finding_line(f, cal));
    if (strict && !findings.empty())
        fail("the calibration has " + std::to_string(findings.size()) + " finding" + (findings.size() == 1 ? "" : "s") +
                 "; refused (--strict)",
             kExitFindings);
}

}  // namespace tool
