// A least-squares fit report (CalFitReport) in words and as JSON, shared by
// `fit --report` and `curve --report`: the coefficients with their
// standard errors, the residual SD, R², SSR and the condition number, and
// the space the statistics belong to.
#pragma once

#include "calmgr.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tool {

// What was fitted: y against x, in words ("calibrated value" against
// "input", "ln(calibrated value)" against "input", ...).
struct FitSpace {
    std::string x, y;
};

// The report as lines of text.
std::string fit_report_text(const CalFitReport& r, const FitSpace& space);

// The report as a JSON object; covariance is the (degree+1)² matrix.
nlohmann::json fit_report_json(const CalFitReport& r, const FitSpace& space);

// Warns where the statistics may mislead: with exactly degree + 1 samples
// the standard errors and residual SD are zeros, not estimates.
void warn_fit_report(const CalFitReport& r);

}  // namespace tool
