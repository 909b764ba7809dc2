// The options that describe an intensity calibration on the command line,
// shared by `curve`, `apply`, `check` and `invert`, and the calibration
// they build.
#pragma once

#include "calmgr.hpp"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace tool {

struct CurveOptions {
    std::string cal_file;   // a saved calibration instead of the options below
    std::string points;     // "in:cal,in:cal,..."
    std::string csv;        // file of input,calibrated rows
    std::string fit;        // fit name or number
    std::string density;    // "BLACK:INCIDENT"
    std::string range = "0:255";
    std::string size = "256";
    bool monotonic = false;
    bool clamp_negative = false;
    std::string units;
    std::string name;

    // The files these options read (a saved calibration, a CSV file), so
    // that no output of the command replaces them.
    std::vector<std::string> input_files() const;
};

// Registers the options on a subcommand.
void add_curve_options(CLI::App& cmd, CurveOptions& opts);

// Builds (or loads) the calibration; every problem raises ToolError.
calmgr::IntensityCalibration build_curve(const CurveOptions& opts);

// The fit type for a name (poly1..3, interp1..3, od, exp1..3, log1..3 and
// the other names of calmgr::fit_from_name) or a number the library
// stores (0..13, 21..23).
calmgr::Fit fit_type_from_name(const std::string& name);

}  // namespace tool
