// `calmgr invert`: calibrated values back to the input values that give
// them (`calmgr invert --cal CAL.json 0.5 1.0 1.5`, or --csv FILE for the
// values in the first column of a file). A value the table never takes, or
// takes at more than one input, has no answer: NaN, and a warning counting
// them. The calibration's findings are warnings too (--strict: refused).
#include "commands.h"
#include "console.h"
#include "curve_options.h"
#include "findings.h"
#include "output_guard.h"
#include "parse.h"

#include <memory>

namespace tool {
namespace {

struct InvertCommand {
    CurveOptions curve;
    std::vector<std::string> values;
    std::string values_csv;
    bool json = false;
    bool strict = false;
};

void run_invert(const InvertCommand& c) {
    std::vector<double> values;
    for (const auto& v : c.values) values.push_back(parse_double(v, "value"));
    if (!c.values_csv.empty()) {
        check_input_path(c.values_csv);
        const auto more = read_csv_column(c.values_csv);
        values.insert(values.end(), more.begin(), more.end());
    }
    if (values.empty()) fail("no values to invert: give them as arguments or with --csv", kExitUsage);
    const calmgr::IntensityCalibration cal = build_curve(c.curve);
    report_findings(diagnose(cal), cal.snapshot(), c.strict);
    std::vector<double> inputs(values.size());
    uint64_t unresolved = 0;
    const int32_t status = ICalInverse(cal.get(), values.data(), values.size(), inputs.data(), &unresolved);
    if (status != CAL_OK) fail("the calibration cannot be inverted (" + std::string(calmgr::status_name(status)) + ")");

    std::string text = "calibrated,input\n";
    nlohmann::json rows = nlohmann::json::array();
    for (size_t i = 0; i < values.size(); ++i) {
        text += fmt(values[i]) + "," + fmt(inputs[i]) + "\n";
        rows.push_back({{"calibrated", json_number(values[i])}, {"input", json_number(inputs[i])}});
    }
    std::fputs(text.c_str(), human_out(c.json));
    if (unresolved > 0)
        warn(std::to_string(unresolved) + " of " + std::to_string(values.size()) +
             " values have no input (NaN): the table never takes them, or takes them at more than one input");
    if (c.json) print_json({{"values", rows}, {"unresolved", unresolved}});
}

}  // namespace

void add_invert_command(CLI::App& app) {
    auto c = std::make_shared<InvertCommand>();
    auto* cmd = app.add_subcommand("invert", "Find the input values that give calibrated values (the inverse lookup)");
    cmd->add_option("values", c->values, "Calibrated values");
    cmd->add_option("--cal", c->curve.cal_file, "Saved calibration (JSON)")->required();
    cmd->add_option("--csv", c->values_csv, "CSV file whose first column holds calibrated values");
    cmd->add_flag("--json", c->json, "Print one JSON document (the CSV goes to standard error)");
    cmd->add_flag("--strict", c->strict, "Refuse a calibration with findings (see check): exit 3");
    cmd->callback([c] { run_invert(*c); });
}

}  // namespace tool
