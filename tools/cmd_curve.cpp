// `calmgr curve`: build an intensity calibration, print its summary (or,
// with --json, a JSON document) and write, on request, its table (CSV),
// the calibration (JSON) and a plot (SVG). --report adds the report of the
// least-squares fit behind the table.
#include "cal_info.h"
#include "calmgr/io.hpp"
#include "commands.h"
#include "console.h"
#include "curve_options.h"
#include "findings.h"
#include "fit_report.h"
#include "output_file.h"
#include "parse.h"
#include "svg_plot.h"

#include <memory>
#include <optional>

namespace tool {
namespace {

struct CurveCommand {
    CurveOptions curve;
    std::string table_file, save_file, plot_file;
    bool json = false;
    bool strict = false;
    bool report = false;
};

// What the fit behind a table of this fit type relates, or nothing for a
// table that no least-squares fit made.
std::optional<FitSpace> fitted_space(calmgr::Fit fit) {
    switch (fit) {
        case calmgr::Fit::Poly1: case calmgr::Fit::Poly2: case calmgr::Fit::Poly3:
            return FitSpace{"input", "calibrated value"};
        case calmgr::Fit::Exp1: case calmgr::Fit::Exp2: case calmgr::Fit::Exp3:
            return FitSpace{"input", "ln(calibrated value)"};
        case calmgr::Fit::Log1: case calmgr::Fit::Log2: case calmgr::Fit::Log3:
            return FitSpace{"input", "e^-(calibrated value)"};
        case calmgr::Fit::Density: return FitSpace{"input", "transmittance 10^-(calibrated value)"};
        default: return std::nullopt;
    }
}

// The report of the fit behind the calibration's table; refuses one
// whose table no least-squares fit made.
std::pair<CalFitReport, FitSpace> curve_report(const calmgr::IntensityView& cal, const CalSnapshot& info) {
    const std::optional<FitSpace> space = fitted_space(info.fit);
    if (info.type != calmgr::CalType::Standard || info.points.size() < 3 || !space)
        fail("--report: no least-squares fit made this table (" + describe_method(info) +
             "); reports exist for poly1..3, exp1..3, log1..3 and od through three or more points");
    CalFitReport r{};
    const int32_t status = ICalFitReport(cal.get(), &r);
    if (status == CAL_ERR_INVALID)
        fail("--report: the points do not determine the fit (" + describe_fit(info.fit) +
             "): too few distinct inputs for its degree, or a point the fit cannot use");
    if (status != CAL_OK) fail("--report: " + std::string(calmgr::status_name(status)));
    return {r, *space};
}

void run_curve(const CurveCommand& c) {
    const calmgr::IntensityCalibration cal = build_curve(c.curve);
    const CalSnapshot info = cal.snapshot();
    const auto findings = diagnose(cal);
    report_findings(findings, info, c.strict);
    std::optional<std::pair<CalFitReport, FitSpace>> report;
    if (c.report) report = curve_report(cal, info);
    std::vector<std::pair<std::string, std::string>> files;
    if (!c.table_file.empty()) files.emplace_back(c.table_file, table_csv(info));
    if (!c.save_file.empty()) {
        try {
            files.emplace_back(c.save_file, calmgr::to_json(cal));
        } catch (const calmgr::Error& e) {
            fail(e.cause());
        }
    }
    if (!c.plot_file.empty()) files.emplace_back(c.plot_file, svg_plot(info));
    write_text_files(files, c.curve.input_files());

    std::FILE* out = human_out(c.json);
    std::fputs(summary(info).c_str(), out);
    if (report) {
        std::fputs(fit_report_text(report->first, report->second).c_str(), out);
        warn_fit_report(report->first);
    }
    for (const auto& f : files) std::fprintf(out, "wrote:         %s\n", f.first.c_str());
    if (c.json) {
        nlohmann::json doc = cal_json(info);
        doc["findings"] = findings_json(findings, info);
        if (report) doc["fit_report"] = fit_report_json(report->first, report->second);
        doc["written"] = nlohmann::json::array();
        for (const auto& f : files) doc["written"].push_back(f.first);
        print_json(doc);
    }
}

}  // namespace

void add_curve_command(CLI::App& app) {
    auto c = std::make_shared<CurveCommand>();
    auto* cmd = app.add_subcommand("curve", "Build an intensity calibration; print, save, tabulate or plot it");
    add_curve_options(*cmd, c->curve);
    cmd->add_option("--table", c->table_file, "Write the lookup table as CSV (input,calibrated)");
    cmd->add_option("--save", c->save_file, "Save the calibration as JSON");
    cmd->add_option("--plot", c->plot_file, "Plot the curve and its points as SVG");
    cmd->add_flag("--json", c->json, "Print the calibration as one JSON document (the summary goes to standard error)");
    cmd->add_flag("--report", c->report,
                  "Print the report of the least-squares fit behind the table (poly, exp, log, od fits): "
                  "coefficients, standard errors, R squared");
    cmd->add_flag("--strict", c->strict, "Refuse a calibration with findings (see check): exit 3, nothing written");
    cmd->callback([c] { run_curve(*c); });
}

}  // namespace tool
