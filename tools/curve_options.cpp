// Turning the curve options into an intensity calibration through the C++
// layer: points or an optical-density pair, a fit, the input range and
// table size, and the options bits. Settings are made with the rebuild
// deferred so that the table is built once, by the last control.
#include "curve_options.h"

#include "calmgr/io.hpp"
#include "output_guard.h"
#include "parse.h"

#include <algorithm>
#include <optional>

namespace tool {
namespace {

std::vector<CalPoint> points_from(const CurveOptions& o) {
    std::vector<CalPoint> pts;
    if (!o.points.empty()) {
        for (const auto& item : split(o.points, ',')) {
            const auto [in, cal] = parse_pair(item, "--points");
            pts.push_back({in, cal});
        }
    } else {
        check_input_path(o.csv);
        for (const auto& row : read_csv(o.csv, 2)) pts.push_back({row[0], row[1]});
        if (pts.empty()) fail(o.csv + ": no points");
    }
    // Piecewise interpolation needs ascending inputs; the library stores
    // points as given, so they are put in order here (least squares does
    // not mind the order).
    std::stable_sort(pts.begin(), pts.end(), [](const CalPoint& a, const CalPoint& b) { return a.input < b.input; });
    if (pts.size() < 2) fail("a curve needs at least two points, got " + std::to_string(pts.size()));
    if (pts.size() > 32767) fail("at most 32767 points, got " + std::to_string(pts.size()));
    return pts;
}

}  // namespace

std::vector<std::string> CurveOptions::input_files() const {
    std::vector<std::string> files;
    if (!cal_file.empty()) files.push_back(cal_file);
    if (!csv.empty()) files.push_back(csv);
    return files;
}

calmgr::Fit fit_type_from_name(const std::string& name) {
    if (const auto fit = calmgr::fit_from_name(name)) return *fit;
    long long code = -1;
    try {
        code = parse_int(name, "--fit", 0, ICAL_FIT_LOG3);
    } catch (const ToolError&) {
        code = -1;
    }
    if (const auto fit = calmgr::fit_from_code(code)) return *fit;
    fail("--fit: unknown fit '" + name + "' (use poly1..3, interp1..3, od, exp1..3, log1..3 or 0..13, 21..23)");
}

void add_curve_options(CLI::App& cmd, CurveOptions& o) {
    auto* cal = cmd.add_option("--cal", o.cal_file, "Saved calibration (JSON) instead of the options below");
    auto* pts = cmd.add_option("--points", o.points, "Calibration points IN:CAL,IN:CAL,... (e.g. 0:0,64:12.5,255:40)");
    auto* csv = cmd.add_option("--csv", o.csv, "CSV file of input,calibrated rows");
    auto* fit = cmd.add_option("--fit", o.fit, "Curve through 3+ points: poly1..3, interp1..3, od, exp1..3, log1..3 or a fit number");
    auto* den = cmd.add_option("--density", o.density, "Optical density from BLACK:INCIDENT levels instead of points");
    auto* rng = cmd.add_option("--range", o.range, "Input range MIN:MAX of the table")->capture_default_str();
    auto* siz = cmd.add_option("--size", o.size, "Table entries (2..32767)")->capture_default_str();
    auto* mon = cmd.add_flag("--monotonic", o.monotonic, "Force the table monotonic in the points' direction");
    auto* clp = cmd.add_flag("--clamp-negative", o.clamp_negative, "Replace negative table values by 0");
    auto* uni = cmd.add_option("--units", o.units, "Name of the calibrated unit");
    auto* nam = cmd.add_option("--name", o.name, "Name of the calibration");
    pts->excludes(csv);
    den->excludes(pts)->excludes(csv)->excludes(fit);
    for (auto* other : {pts, csv, fit, den, rng, siz, mon, clp, uni, nam}) cal->excludes(other);
}

calmgr::IntensityCalibration build_curve(const CurveOptions& o) {
    if (!o.cal_file.empty()) {
        check_input_path(o.cal_file);
        try {
            return calmgr::load_intensity(o.cal_file);
        } catch (const calmgr::Error& e) {
            if (e.status() == CAL_ERR_NOMEM) throw std::bad_alloc();
            fail(e.cause());
        }
    }
    if (o.points.empty() && o.csv.empty() && o.density.empty())
        fail("no curve given: use --points, --csv, --density or --cal");
    const auto [range_min, range_max] = parse_pair(o.range, "--range");
    const calmgr::Range range{range_min, range_max};
    if (!range.usable()) fail("--range: the maximum must be above the minimum");
    long long size = 0;
    try {
        size = parse_int(o.size, "--size", 2, 32767);
    } catch (const ToolError&) {
        fail("--size: table size must be between 2 and 32767, got '" + o.size + "'");
    }
    const auto table_size = static_cast<size_t>(size);
    const calmgr::Fit fit = o.fit.empty() ? calmgr::Fit::Piecewise : fit_type_from_name(o.fit);
    calmgr::Options options = calmgr::Options::None;
    if (o.monotonic) options = options | calmgr::Options::Monotonic;
    if (o.clamp_negative) options = options | calmgr::Options::ClampNegative;

    std::optional<calmgr::IntensityCalibration> cal;
    if (!o.density.empty()) {
        const auto [black, incident] = parse_pair(o.density, "--density");
        if (!(incident > black)) fail("--density: the incident level must be above the black level");
        try {
            cal.emplace(calmgr::IntensityCalibration::from_density(black, incident, range, table_size));
            cal->set_options(options);
            if (o.units.empty()) cal->set_units("OD");
        } catch (const calmgr::Error& e) {
            if (e.status() == CAL_ERR_NOMEM) throw std::bad_alloc();
            fail(std::string("the density curve cannot be built from these levels: ") + e.what());
        }
    } else {
        const auto pts = points_from(o);
        try {
            cal.emplace(calmgr::IntensityCalibration::from_points(pts, fit, range,
                                                                  table_size, options));
        } catch (const calmgr::Error& e) {
            if (e.status() == CAL_ERR_NOMEM) throw std::bad_alloc();
            if (fit >= calmgr::Fit::Exp1 && fit <= calmgr::Fit::Exp3)
                fail("--fit " + o.fit + ": needs at least two points with a positive calibrated value");
            fail(std::string("the curve cannot be built from these settings: ") + e.what());
        }
    }
    if (!o.units.empty()) cal->set_units(o.units);
    if (!o.name.empty()) cal->set_name(o.name);
    return std::move(*cal);
}

}  // namespace tool
