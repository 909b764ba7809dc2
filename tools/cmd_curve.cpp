// `calmgr curve`: build an intensity calibration, print its summary and
// write, on request, its table (CSV), the calibration (JSON) and a plot
// (SVG).
#include "cal_info.h"
#include "calmgr_io.h"
#include "commands.h"
#include "curve_options.h"
#include "svg_plot.h"

#include <cstdio>
#include <memory>

namespace tool {
namespace {

struct CurveCommand {
    CurveOptions curve;
    std::string table_file, save_file, plot_file;
};

void run_curve(const CurveCommand& c) {
    IcalPtr cal = build_curve(c.curve);
    const CalInfo info = read_cal_info(cal.get());
    std::vector<std::pair<std::string, std::string>> files;
    if (!c.table_file.empty()) files.emplace_back(c.table_file, table_csv(info));
    if (!c.save_file.empty()) {
        char err[512];
        char* json = CalIntensityToJson(cal.get(), err, sizeof err);
        if (json == nullptr) fail(err);
        files.emplace_back(c.save_file, json);
        CalFreeJson(json);
    }
    if (!c.plot_file.empty()) files.emplace_back(c.plot_file, svg_plot(info));
    write_text_files(files);
    std::fputs(summary(info).c_str(), stdout);
    for (const auto& f : files) std::printf("wrote:         %s\n", f.first.c_str());
}

}  // namespace

void add_curve_command(CLI::App& app) {
    auto c = std::make_shared<CurveCommand>();
    auto* cmd = app.add_subcommand("curve", "Build an intensity calibration; print, save, tabulate or plot it");
    add_curve_options(*cmd, c->curve);
    cmd->add_option("--table", c->table_file, "Write the lookup table as CSV (input,calibrated)");
    cmd->add_option("--save", c->save_file, "Save the calibration as JSON");
    cmd->add_option("--plot", c->plot_file, "Plot the curve and its points as SVG");
    cmd->callback([c] { run_curve(*c); });
}

}  // namespace tool
