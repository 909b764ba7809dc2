// Fit reports on the command line: `fit --report` (degrees up to 15, the
// certified NIST StRD values reached through CSV input and JSON output)
// and `curve --report` (the fit behind a calibration's table, in the space
// it was fitted in; refused for tables no least-squares fit made).
#include "tool_support.h"

#include "calmgr.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

// Significant digits on which a and b agree (15 when equal).
double digits(double a, double b) {
    if (a == b) return 15.0;
    return -std::log10(std::fabs(a - b) / std::fabs(b));
}

// An StRD .xy file as the CSV the tool reads; the certified values.
std::string strd_csv(const std::string& set) {
    std::ifstream in(std::string(CALMGR_STRD_DIR) + "/" + set + ".xy");
    std::string csv = "x,y\n", line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        std::string x, y;
        f >> x >> y;
        csv += x + "," + y + "\n";
    }
    return csv;
}

struct Certified {
    std::vector<double> coeffs, errors;
    double residual_sd = 0, r_squared = 0;
};

Certified certified(const std::string& set) {
    std::ifstream in(std::string(CALMGR_STRD_DIR) + "/" + set + ".cert");
    Certified c;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        std::string name;
        double a = 0, b = 0;
        f >> name >> a;
        if (name == "residual_sd") c.residual_sd = a;
        else if (name == "r_squared") c.r_squared = a;
        else if (f >> b) c.coeffs.push_back(a), c.errors.push_back(b);
    }
    return c;
}

nlohmann::json report_of(const std::vector<std::string>& args) {
    const ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? nlohmann::json::parse(r.out) : nlohmann::json();
}

}  // namespace

TEST(FitReport, CertifiedValuesThroughTheCommandLine) {
    const auto dir = scratch("strd");
    for (const auto& [set, degree] : {std::pair{"Pontius", 2}, std::pair{"Wampler4", 5}, std::pair{"Filip", 10}}) {
        SCOPED_TRACE(set);
        const Certified cert = certified(set);
        ASSERT_EQ(cert.coeffs.size(), static_cast<size_t>(degree) + 1);
        write_text(dir / "s.csv", strd_csv(set));
        const auto doc = report_of({"fit", "--csv", (dir / "s.csv").string(), "--degree", std::to_string(degree),
                                    "--report", "--json"});
        ASSERT_TRUE(doc.contains("fit_report"));
        const auto& rep = doc["fit_report"];
        EXPECT_EQ(rep["degree"], degree);
        EXPECT_FALSE(doc.contains("values"));
        for (int k = 0; k <= degree; ++k) {
            EXPECT_GE(digits(rep["coefficients"][k].get<double>(), cert.coeffs[k]), 12.0) << "B" << k;
            EXPECT_GE(digits(rep["std_errors"][k].get<double>(), cert.errors[k]), 12.0) << "B" << k;
        }
        EXPECT_GE(digits(rep["residual_sd"].get<double>(), cert.residual_sd), 12.0);
        EXPECT_GE(digits(rep["r_squared"].get<double>(), cert.r_squared), 12.0);
        ASSERT_EQ(rep["covariance"].size(), static_cast<size_t>(degree) + 1);
        // The variance of each coefficient is its standard error squared.
        const double se = rep["std_errors"][1].get<double>();
        EXPECT_NEAR(rep["covariance"][1][1].get<double>(), se * se, se * se * 1e-12);
    }

    // Degrees above 7 need --report; the fixed fit cannot evaluate them.
    const ToolRun r = run_tool({"fit", "--csv", (dir / "s.csv").string(), "--degree", "10", "--grid", "0:1:3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--degree: 10 is outside 1..7 (1..15 with --report)"), std::string::npos) << r.err;
    fs::remove_all(dir);
}

TEST(FitReport, TextAndWarningForAnExactFit) {
    const ToolRun r = run_tool({"fit", "--samples", "0:1,1:3.5,2:4", "--degree", "2", "--report"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("fitted:           y against x, degree 2, 3 samples"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("R squared:        1\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err,
              "calmgr: warning: only 3 samples for 3 coefficients: the polynomial passes through every sample, and "
              "the standard errors and residual SD are 0, not estimates\n");
    // Samples that share one x cannot determine a line.
    const ToolRun bad = run_tool({"fit", "--samples", "1:1,1:2,1:3,1:4", "--report"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("do not determine a polynomial of degree 1"), std::string::npos) << bad.err;
}

TEST(CurveReport, TheFitBehindTheTableInItsOwnSpace) {
    const auto dir = scratch("curvereport");
    const std::vector<RealPoint> pts = {{0, 0.2}, {60, 0.9}, {130, 2.5}, {200, 7.0}, {255, 12.0}};
    std::string points_arg;
    for (const auto& p : pts) points_arg += (points_arg.empty() ? "" : ",") + std::to_string(p.x) + ":" + std::to_string(p.y);
    for (const auto& [fit, y_space] :
         {std::pair{"poly2", "calibrated value"}, std::pair{"exp1", "ln(calibrated value)"}}) {
        SCOPED_TRACE(fit);
        const auto doc = report_of({"curve", "--points", points_arg, "--fit", fit, "--report", "--json"});
        ASSERT_TRUE(doc.contains("fit_report"));
        const auto& rep = doc["fit_report"];
        EXPECT_EQ(rep["y"], y_space);
        // The same fit, made here in the space the curve was fitted in.
        const bool exp = std::string(fit) == "exp1";
        std::vector<RealPoint> space = pts;
        if (exp)
            for (auto& p : space) p.y = std::log(p.y);
        CalFitReport want{};
        ASSERT_EQ(PolynomialFitReport(space.data(), 5, exp ? 1 : 2, &want), CAL_OK);
        ASSERT_EQ(rep["coefficients"].size(), static_cast<size_t>(want.degree) + 1);
        for (int k = 0; k <= want.degree; ++k)
            EXPECT_DOUBLE_EQ(rep["coefficients"][k].get<double>(), want.coeffs[k]) << k;
        EXPECT_DOUBLE_EQ(rep["r_squared"].get<double>(), want.r_squared);
    }
    // Text: the report follows the summary.
    ToolRun r = run_tool({"curve", "--points", points_arg, "--fit", "log2", "--report"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("fitted:           e^-(calibrated value) against input, degree 2, 5 samples"),
              std::string::npos)
        << r.out;

    // A piecewise table has no fit behind it: refused, nothing written.
    r = run_tool({"curve", "--points", points_arg, "--report", "--save", (dir / "c.json").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--report: no least-squares fit made this table"), std::string::npos) << r.err;
    EXPECT_TRUE(entries(dir).empty());
    fs::remove_all(dir);
}
