// Fit reports in words and JSON. Numbers print as the shortest decimal
// that reads back as the same double, so a script that parses the text
// gets the library's values bit for bit.
#include "fit_report.h"

#include "console.h"
#include "parse.h"

namespace tool {
namespace {

size_t coefficient_count(const CalFitReport& r) {
    return r.degree < 0 ? 0 : static_cast<size_t>(r.degree) + 1;
}

std::string padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

std::string fit_report_text(const CalFitReport& r, const FitSpace& space) {
    std::string s = "fitted:           " + space.y + " against " + space.x + ", degree " + std::to_string(r.degree) +
                    ", " + std::to_string(r.num_samples) + " samples\n";
    s += "coefficients (of " + space.x + "^k, lowest first) and their standard errors:\n";
    for (size_t k = 0; k < coefficient_count(r); ++k)
        s += "  c" + padded(std::to_string(k), 3) + " " + padded(fmt(r.coeffs[k]), 25) + " +/- " + fmt(r.std_errors[k]) +
             "\n";
    s += "residual SD:      " + fmt(r.residual_sd) + "\n";
    s += "R squared:        " + fmt(r.r_squared) + "\n";
    s += "SSR:              " + fmt(r.ssr) + "\n";
    s += "condition number: " + fmt(r.condition) + " (centred, scaled design)\n";
    return s;
}

nlohmann::json fit_report_json(const CalFitReport& r, const FitSpace& space) {
    const size_t n = coefficient_count(r);
    nlohmann::json coeffs = nlohmann::json::array(), errors = nlohmann::json::array(),
                   covariance = nlohmann::json::array();
    for (size_t k = 0; k < n; ++k) {
        coeffs.push_back(json_number(r.coeffs[k]));
        errors.push_back(json_number(r.std_errors[k]));
        nlohmann::json row = nlohmann::json::array();
        for (size_t j = 0; j < n; ++j) row.push_back(json_number(r.covariance[k][j]));
        covariance.push_back(row);
    }
    return {{"x", space.x},
            {"y", space.y},
            {"degree", r.degree},
            {"samples", r.num_samples},
            {"coefficients", coeffs},
            {"std_errors", errors},
            {"covariance", covariance},
            {"residual_sd", json_number(r.residual_sd)},
            {"r_squared", json_number(r.r_squared)},
            {"ssr", json_number(r.ssr)},
            {"condition", json_number(r.condition)}};
}

void warn_fit_report(const CalFitReport& r) {
    if (r.num_samples == r.degree + 1)
        warn("only " + std::to_string(r.num_samples) + " samples for " + std::to_string(r.degree + 1) +
             " coefficients: the polynomial passes through every sample, and the standard errors and residual SD "
             "are 0, not estimates");
}

}  // namespace tool
