// `calmgr curve`: build an intensity calibration, print its summary (or,
// with --json, a JSON document) and write, on request, its table (CSV),
// the calibration (JSON) and a plot (SVG).
#include "cal_info.h"
#include "calmgr/io.hpp"
#include "commands.h"
#include "console.h"
#include "curve_options.h"
#include "findings.h"
#include "output_file.h"
#include "parse.h"
#include "svg_plot.h"

#include <memory>

namespace tool {
namespace {

struct CurveCommand {
    CurveOptions curve;
    std::string table_file, save_file, plot_file;
    bool json = false;
    bool strict = false;
};

void run_curve(const CurveCommand& c) {
    const calmgr::IntensityCalibration cal = build_curve(c.curve);
    const CalSnapshot info = cal.snapshot();
    const auto findings = diagnose(cal);
    report_findings(findings, info, c.strict);
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
    for (const auto& f : files) std::fprintf(out, "wrote:         %s\n", f.first.c_str());
    if (c.json) {
        nlohmann::json doc = cal_json(info);
        doc["findings"] = findings_json(findings, info);
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
    cmd->add_flag("--strict", c->strict, "Refuse a calibration with findings (see check): exit 3, nothing written");
    cmd->callback([c] { run_curve(*c); });
}

}  // namespace tool
