// `calmgr check CAL.json`: lists what makes a calibration's numbers
// untrustworthy (or says there is nothing); exit status 0 when there is
// nothing, 3 when there is. Takes the curve options as well, so that a
// curve can be checked before it is saved.
#include "commands.h"
#include "console.h"
#include "curve_options.h"
#include "findings.h"
#include "tool_error.h"

#include <memory>

namespace tool {
namespace {

struct CheckCommand {
    CurveOptions curve;
    std::string file;
    bool json = false;
};

void run_check(CheckCommand& c) {
    if (!c.file.empty()) {
        if (!c.curve.cal_file.empty()) fail("give the calibration once: as CAL.json or with --cal", kExitUsage);
        c.curve.cal_file = c.file;
    }
    const calmgr::IntensityCalibration cal = build_curve(c.curve);
    const CalSnapshot snap = cal.snapshot();
    const auto findings = diagnose(cal);
    std::FILE* out = human_out(c.json);
    for (const auto& f : findings) std::fprintf(out, "%s\n", finding_line(f, snap).c_str());
    if (findings.empty()) std::fprintf(out, "no findings: the table can be trusted as far as the library can tell\n");
    if (c.json) print_json({{"calibration", cal_json(snap)}, {"count", findings.size()}, {"findings", findings_json(findings, snap)}});
    if (!findings.empty())
        fail(std::to_string(findings.size()) + " finding" + (findings.size() == 1 ? "" : "s"), kExitFindings);
}

}  // namespace

void add_check_command(CLI::App& app) {
    auto c = std::make_shared<CheckCommand>();
    auto* cmd = app.add_subcommand("check",
                                   "List what makes a calibration's numbers untrustworthy (exit 0: nothing, 3: findings)");
    cmd->add_option("calibration", c->file, "Saved calibration (JSON); or describe one with the options below");
    cmd->add_flag("--json", c->json, "Print one JSON document (the text goes to standard error)");
    add_curve_options(*cmd, c->curve);
    cmd->callback([c] { run_check(*c); });
}

}  // namespace tool
