// `calmgr apply`: convert a TIFF image through a calibration into a
// floating-point TIFF.
#include "commands.h"
#include "curve_options.h"
#include "tiff_apply.h"

#include <cstdio>
#include <memory>

namespace tool {
namespace {

struct ApplyCommand {
    CurveOptions curve;
    std::string input, output;
    bool double_output = false;
};

void run_apply(const ApplyCommand& c) {
    IcalPtr cal = build_curve(c.curve);
    const ApplyResult r = apply_to_tiff(cal.get(), c.input, c.output, c.double_output);
    std::printf("%s: %u x %u %s -> %s: %u-bit float, %u sample%s per pixel\n", c.input.c_str(), r.width, r.height,
                r.input_kind.c_str(), c.output.c_str(), c.double_output ? 64u : 32u, r.samples, r.samples == 1 ? "" : "s");
}

}  // namespace

void add_apply_command(CLI::App& app) {
    auto c = std::make_shared<ApplyCommand>();
    auto* cmd = app.add_subcommand(
        "apply", "Convert a TIFF image (bilevel, 8/16-bit grey or RGB, 32/64-bit float) through a calibration "
                 "into a floating-point TIFF");
    cmd->add_option("input", c->input, "Input TIFF")->required();
    cmd->add_option("output", c->output, "Output TIFF (32-bit float samples)")->required();
    cmd->add_flag("--double", c->double_output, "Write 64-bit float samples");
    add_curve_options(*cmd, c->curve);
    cmd->callback([c] { run_apply(*c); });
}

}  // namespace tool
