// `calmgr spatial`: convert pixel positions into calibrated units with a
// scale (or pixel size) and origin per axis, or a saved spatial
// calibration; optionally save the calibration.
#include "calmgr.hpp"
#include "calmgr/io.hpp"
#include "commands.h"
#include "output_file.h"
#include "output_guard.h"
#include "parse.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

namespace tool {
namespace {

struct SpatialCommand {
    std::string cal_file, scale, pixel_size, origin, units, name, csv, save_file, output;
    std::vector<std::string> pixels;
};

// "V" for both axes or "X:Y".
std::pair<double, double> per_axis(const std::string& text, const std::string& what) {
    if (text.find(':') == std::string::npos) {
        const double v = parse_double(text, what);
        return {v, v};
    }
    return parse_pair(text, what);
}

using calmgr::Axis;
using Setter = void (calmgr::SpatialCalibration::*)(Axis, double);

// Sets both axes, naming the option when the library refuses a value.
void set_axes(calmgr::SpatialCalibration& cal, Setter setter, std::pair<double, double> xy, const std::string& what) {
    for (const auto& [axis, v] : {std::pair{Axis::X, xy.first}, std::pair{Axis::Y, xy.second}}) {
        try {
            (cal.*setter)(axis, v);
        } catch (const calmgr::Error&) {
            fail(what + ": " + fmt(v) + " is not allowed (0 or NaN)");
        }
    }
}

calmgr::SpatialCalibration build(const SpatialCommand& c) {
    if (!c.cal_file.empty()) {
        check_input_path(c.cal_file);
        try {
            return calmgr::load_spatial(c.cal_file);
        } catch (const calmgr::Error& e) {
            if (e.status() == CAL_ERR_NOMEM) throw std::bad_alloc();
            fail(e.cause());
        }
    }
    calmgr::SpatialCalibration cal;
    if (!c.scale.empty()) set_axes(cal, &calmgr::SpatialCalibration::set_scale, per_axis(c.scale, "--scale"), "--scale");
    if (!c.pixel_size.empty())
        set_axes(cal, &calmgr::SpatialCalibration::set_pixel_size, per_axis(c.pixel_size, "--pixel-size"), "--pixel-size");
    if (!c.origin.empty())
        set_axes(cal, &calmgr::SpatialCalibration::set_origin, parse_pair(c.origin, "--origin"), "--origin");
    if (!c.units.empty()) cal.set_units(c.units);
    if (!c.name.empty()) cal.set_name(c.name);
    return cal;
}

PixelPoint pixel(const std::string& x, const std::string& y, const std::string& what) {
    constexpr long long lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    return {static_cast<int32_t>(parse_int(x, what, lo, hi)), static_cast<int32_t>(parse_int(y, what, lo, hi))};
}

void run_spatial(const SpatialCommand& c) {
    const calmgr::SpatialCalibration cal = build(c);
    std::vector<PixelPoint> pts;
    for (const auto& p : c.pixels) {
        const auto xy = split(p, ',');
        if (xy.size() != 2) fail("pixel '" + p + "': expected X,Y");
        pts.push_back(pixel(xy[0], xy[1], "pixel '" + p + "'"));
    }
    if (!c.csv.empty()) {
        check_input_path(c.csv);
        // Positions are whole 32-bit numbers; the range is checked before
        // any conversion to an integer.
        const auto whole = [](double v) { return v >= -2147483648.0 && v <= 2147483647.0 && v == std::floor(v); };
        for (const auto& row : read_csv(c.csv, 2)) {
            if (!whole(row[0]) || !whole(row[1]))
                fail(c.csv + ": pixel positions must be 32-bit integers, found " + fmt(row[0]) + "," + fmt(row[1]));
            pts.push_back({static_cast<int32_t>(row[0]), static_cast<int32_t>(row[1])});
        }
    }
    const std::vector<RealPoint> out = cal.to_units(pts);
    const std::string units = cal.units();
    std::string text = std::string("pixel_x,pixel_y,x (") + units + "),y (" + units + ")\n";
    for (size_t i = 0; i < pts.size(); ++i)
        text += std::to_string(pts[i].x) + "," + std::to_string(pts[i].y) + "," + fmt(out[i].x) + "," + fmt(out[i].y) + "\n";
    std::vector<std::pair<std::string, std::string>> files;
    if (!c.save_file.empty()) {
        try {
            files.emplace_back(c.save_file, calmgr::to_json(cal));
        } catch (const calmgr::Error& e) {
            fail(e.cause());
        }
    }
    if (!c.output.empty()) files.emplace_back(c.output, text);
    std::vector<std::string> inputs;
    for (const auto& f : {c.cal_file, c.csv})
        if (!f.empty()) inputs.push_back(f);
    write_text_files(files, inputs);
    if (c.output.empty()) std::fputs(text.c_str(), stdout);
}

}  // namespace

void add_spatial_command(CLI::App& app) {
    auto c = std::make_shared<SpatialCommand>();
    auto* cmd = app.add_subcommand("spatial", "Convert pixel positions into calibrated units");
    auto* cal = cmd->add_option("--cal", c->cal_file, "Saved spatial calibration (JSON)");
    auto* sc = cmd->add_option("--scale", c->scale, "Pixels per unit, S or SX:SY");
    auto* ps = cmd->add_option("--pixel-size", c->pixel_size, "Units per pixel, P or PX:PY");
    auto* org = cmd->add_option("--origin", c->origin, "Pixel position of the zero point, X:Y");
    auto* uni = cmd->add_option("--units", c->units, "Name of the unit");
    auto* nam = cmd->add_option("--name", c->name, "Name of the calibration");
    cmd->add_option("--csv", c->csv, "CSV file of pixel positions x,y");
    cmd->add_option("--save", c->save_file, "Save the spatial calibration as JSON");
    cmd->add_option("--output", c->output, "Write the converted positions (CSV) here instead of standard output");
    cmd->add_option("pixels", c->pixels, "Pixel positions X,Y");
    sc->excludes(ps);
    for (auto* o : {sc, ps, org, uni, nam}) cal->excludes(o);
    cmd->callback([c] { run_spatial(*c); });
}

}  // namespace tool
