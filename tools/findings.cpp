// Diagnostic findings in words. Points are numbered from 1 as users count
// them in their lists; the input value tells which one is meant.
#include "findings.h"

#include "console.h"
#include "parse.h"
#include "tool_error.h"

#include <cctype>
#include <cmath>

namespace tool {

Findings diagnose(const calmgr::IntensityView& cal) {
    try {
        return cal.diagnose();
    } catch (const calmgr::Error& e) {
        fail(std::string("the calibration cannot be diagnosed: ") + e.what());
    }
}

std::string finding_name(calmgr::Diag code) {
    std::string name(calmgr::diag_name(code));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name.empty() ? "UNKNOWN" : name;
}

std::string finding_line(const calmgr::Finding& f, const CalSnapshot& cal) {
    std::string where;
    if (f.point >= 0) {
        where = "point " + std::to_string(f.point + 1);
        if (static_cast<size_t>(f.point) < cal.points.size())
            where += " (" + fmt(cal.points[static_cast<size_t>(f.point)].input) + ")";
    } else if (f.entry >= 0) {
        const auto e = static_cast<size_t>(f.entry);
        where = "table entry " + std::to_string(e + 1) + " of " + std::to_string(cal.table.size());
        if (e < cal.inputs.size()) where += " (input " + fmt(cal.inputs[e]) + ", value " + fmt(f.value) + ")";
    } else if (f.code == calmgr::Diag::EmptyRange) {
        where = "range " + fmt(cal.range.min) + ".." + fmt(cal.range.max);
    } else if (f.code == calmgr::Diag::DegreeReduced && std::isfinite(f.value)) {
        where = "degree " + fmt(f.value) + " fitted";
    } else if (f.code == calmgr::Diag::LevelsLimited && std::isfinite(f.value)) {
        where = "level " + fmt(f.value);
    }
    const std::string text = f.text;
    return where.empty() ? text : where + ": " + text;
}

nlohmann::json findings_json(const Findings& findings, const CalSnapshot& cal) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& f : findings)
        out.push_back({{"code", finding_name(f.code)},
                       {"code_number", static_cast<uint32_t>(f.code)},
                       {"point", f.point >= 0 ? nlohmann::json(f.point) : nlohmann::json(nullptr)},
                       {"entry", f.entry >= 0 ? nlohmann::json(f.entry) : nlohmann::json(nullptr)},
                       {"value", json_number(f.value)},
                       {"text", f.text},
                       {"message", finding_line(f, cal)}});
    return out;
}

void report_findings(const Findings& findings, const CalSnapshot& cal, bool strict) {
    for (const auto& f : findings) warn(finding_line(f, cal));
    if (strict && !findings.empty())
        fail("the calibration has " + std::to_string(findings.size()) + " finding" + (findings.size() == 1 ? "" : "s") +
                 "; refused (--strict)",
             kExitFindings);
}

}  // namespace tool
