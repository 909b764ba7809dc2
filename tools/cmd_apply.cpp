// `calmgr apply`: convert TIFF images through a calibration into
// floating-point TIFF images, one (IN OUT) or a batch (--out-dir, --suffix)
// that carries on past a failed file and reports at the end.
#include "apply_batch.h"
#include "cal_info.h"
#include "commands.h"
#include "curve_options.h"
#include "findings.h"
#include "parse.h"

#include <map>
#include <memory>

namespace tool {
namespace {

struct ApplyCommand {
    CurveOptions curve;
    BatchOptions batch;
    std::vector<std::string> files;
    bool strict = false;
    std::string compress = "deflate", bigtiff = "auto", outside = "clamp", nan = "keep";
};

template <class T>
T choose(const std::string& value, const std::string& option, const std::map<std::string, T>& choices) {
    const auto it = choices.find(value);
    if (it != choices.end()) return it->second;
    std::string names;
    for (const auto& [name, v] : choices) names += (names.empty() ? "" : ", ") + name;
    fail(option + ": unknown value '" + value + "' (use " + names + ")", kExitUsage);
}

void run_apply(ApplyCommand& c) {
    BatchOptions& b = c.batch;
    b.settings.format.compression = choose<Compression>(
        c.compress, "--compress",
        {{"none", Compression::None}, {"lzw", Compression::Lzw}, {"deflate", Compression::Deflate}, {"zstd", Compression::Zstd}});
    b.settings.format.bigtiff = choose<BigTiff>(c.bigtiff, "--bigtiff", {{"auto", BigTiff::Auto}, {"yes", BigTiff::Yes}, {"no", BigTiff::No}});
    const uint32_t outside = choose<uint32_t>(c.outside, "--outside", {{"clamp", 0u}, {"nan", ICAL_POLICY_OUTSIDE_NAN}});
    const uint32_t nan = choose<uint32_t>(c.nan, "--nan", {{"keep", ICAL_POLICY_NAN_PROPAGATE}, {"first-entry", 0u}});
    b.settings.convert.policy = outside | nan;
    b.settings.convert.double_output = b.settings.format.double_output;
    check_compression_available(b.settings.format.compression);

    const calmgr::IntensityCalibration cal = build_curve(c.curve);
    const CalSnapshot info = cal.snapshot();
    report_findings(diagnose(cal), info, c.strict);
    b.settings.software = "calmgr " + std::string(CalVersion());
    b.settings.description = one_line_description(info);
    b.calibration_files = c.curve.input_files();
    run_batch(cal.get(), info, c.files, b);
}

}  // namespace

void add_apply_command(CLI::App& app) {
    auto c = std::make_shared<ApplyCommand>();
    auto* cmd = app.add_subcommand(
        "apply",
        "Convert TIFF images through a calibration into floating-point TIFF images.\n"
        "Reads bilevel, 8/16-bit grey and RGB (also with alpha), colour JPEG (YCbCr, read as RGB) and\n"
        "32/64-bit float images, every page of a multi-page file, strips or tiles. Colour samples are\n"
        "calibrated; alpha and other extra samples are carried over scaled to 0..1. Min-is-white images\n"
        "are calibrated on their stored values (0 = white); give --invert to calibrate max - value.\n"
        "Usage: apply [options] IN OUT, or apply [options] --out-dir DIR [--suffix S] IN...");
    cmd->add_option("files", c->files, "Input TIFF and output TIFF; or, with --out-dir or --suffix, input TIFFs")->required();
    cmd->add_option("--out-dir", c->batch.out_dir, "Write each input's output into this directory");
    cmd->add_option("--suffix", c->batch.suffix, "Output name: the input's name with this before the extension (e.g. _cal)");
    cmd->add_flag("--double", c->batch.settings.format.double_output, "Write 64-bit float samples (default 32-bit)");
    cmd->add_option("--compress", c->compress, "Output compression: none, lzw, deflate or zstd (with the floating-point predictor)")
        ->capture_default_str();
    cmd->add_option("--bigtiff", c->bigtiff, "Write BigTIFF: auto (when over 4 GiB), yes or no")->capture_default_str();
    cmd->add_flag("--invert", c->batch.settings.convert.invert, "Calibrate max - value instead of the stored value (integer images)");
    cmd->add_option("--outside", c->outside, "Values outside the calibrated range: clamp (take the table's end) or nan")
        ->capture_default_str();
    cmd->add_option("--nan", c->nan, "NaN samples (no data): keep (stay NaN) or first-entry (take the first table entry)")
        ->capture_default_str();
    cmd->add_flag("--strict", c->strict, "Refuse a calibration with findings (see check): exit 3, nothing written");
    add_curve_options(*cmd, c->curve);
    cmd->callback([c] { run_apply(*c); });
}

}  // namespace tool
