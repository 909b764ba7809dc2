// Turning the curve options into an intensity calibration through the
// public interface: points or an optical-density pair, a fit, the input
// range and table size, and the options bits. Settings are made with the
// rebuild deferred so that the table is built once, by the last control.
#include "curve_options.h"

#include "calmgr_io.h"

#include <algorithm>
#include <map>

namespace tool {
namespace {

const std::map<std::string, int>& fit_names() {
    static const std::map<std::string, int> names = {
        {"poly1", 1},  {"poly2", 2},  {"poly3", 3},  {"interp1", 4}, {"interp2", 5}, {"interp3", 6},
        {"od", 10},    {"exp1", 11},  {"exp2", 12},  {"exp3", 13},   {"log1", 21},   {"log2", 22},
        {"log3", 23}};
    return names;
}

std::vector<CalPoint> points_from(const CurveOptions& o) {
    std::vector<CalPoint> pts;
    if (!o.points.empty()) {
        for (const auto& item : split(o.points, ',')) {
            const auto [in, cal] = parse_pair(item, "--points");
            pts.push_back({in, cal});
        }
    } else {
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

void control(IntensityCal* cal, uint32_t code, int32_t value, int32_t index, const void* data, const char* what) {
    const int32_t st = ICalControl(cal, code, value, index, const_cast<void*>(data));
    if (st == CAL_ERR_NOMEM) fail("out of memory");
    if (st != CAL_OK) fail(std::string("the calibration refused ") + what + " (status " + std::to_string(st) + ")");
}

}  // namespace

int fit_type_from_name(const std::string& name) {
    const auto it = fit_names().find(name);
    if (it != fit_names().end()) return it->second;
    long long n = -1;
    try {
        n = parse_int(name, "--fit", 0, 23);
    } catch (const ToolError&) {
        n = -1;
    }
    if ((n >= 0 && n <= 13) || (n >= 21 && n <= 23)) return static_cast<int>(n);
    fail("--fit: unknown fit '" + name + "' (use poly1..3, interp1..3, od, exp1..3, log1..3 or 0..13, 21..23)");
}

std::string describe_fit(int t) {
    if (t >= 1 && t <= 3) return "poly" + std::to_string(t) + ": least-squares polynomial of degree " + std::to_string(t);
    if (t >= 4 && t <= 6) return "interp" + std::to_string(t - 3) + ": piecewise interpolation of order " + std::to_string(t - 3);
    if (t == 10) return "od: optical density fitted to the points";
    if (t >= 11 && t <= 13) return "exp" + std::to_string(t - 10) + ": exponential of a polynomial of degree " + std::to_string(t - 10);
    if (t >= 21 && t <= 23) return "log" + std::to_string(t - 20) + ": -ln of a polynomial of degree " + std::to_string(t - 20) + " in e^-value";
    return std::to_string(t) + ": piecewise linear interpolation";
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

IcalPtr build_curve(const CurveOptions& o) {
    if (!o.cal_file.empty()) {
        char err[512];
        IcalPtr cal(CalLoadIntensity(o.cal_file.c_str(), err, sizeof err));
        if (!cal) fail(err);
        return cal;
    }
    if (o.points.empty() && o.csv.empty() && o.density.empty())
        fail("no curve given: use --points, --csv, --density or --cal");
    const auto [range_min, range_max] = parse_pair(o.range, "--range");
    if (!(range_max > range_min)) fail("--range: the maximum must be above the minimum");
    if (o.size < 2 || o.size > 32767) fail("--size: " + std::to_string(o.size) + " is outside 2..32767");
    const int fit = o.fit.empty() ? -1 : fit_type_from_name(o.fit);

    IcalPtr cal(ICalCreate());
    if (!cal) fail("out of memory");
    IntensityCal* c = cal.get();
    const int32_t defer = 1;
    control(c, ICAL_SET_RANGE_MIN, 0, defer, &range_min, "the range");
    control(c, ICAL_SET_RANGE_MAX, 0, defer, &range_max, "the range");
    control(c, ICAL_SET_TABLE_SIZE, o.size, defer, nullptr, "the table size");
    const int options = (o.monotonic ? ICAL_OPT_MONOTONIC : 0) | (o.clamp_negative ? ICAL_OPT_CLAMP_NEGATIVE : 0);
    control(c, ICAL_SET_OPTIONS, options, defer, nullptr, "the options");
    if (!o.units.empty()) control(c, ICAL_SET_UNITS, 0, 0, o.units.c_str(), "the units");
    if (!o.name.empty()) control(c, ICAL_SET_NAME, 0, 0, o.name.c_str(), "the name");

    int32_t st;
    if (!o.density.empty()) {
        const auto [black, incident] = parse_pair(o.density, "--density");
        if (!(incident > black)) fail("--density: the incident level must be above the black level");
        control(c, ICAL_SET_BLACK_LEVEL, 0, defer, &black, "the black level");
        control(c, ICAL_SET_INCIDENT_LEVEL, 0, defer, &incident, "the incident level");
        if (o.units.empty()) control(c, ICAL_SET_UNITS, 0, 0, "OD", "the units");
        st = ICalControl(c, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, nullptr);
    } else {
        const auto pts = points_from(o);
        if (fit >= 0) control(c, ICAL_SET_FIT_TYPE, fit, defer, nullptr, "the fit");
        st = ICalControl(c, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), 0, const_cast<CalPoint*>(pts.data()));
        if (st != CAL_OK && fit >= 11 && fit <= 13)
            fail("--fit " + o.fit + ": needs at least two points with a positive calibrated value");
    }
    if (st == CAL_ERR_NOMEM) fail("out of memory");
    if (st != CAL_OK) fail("the curve cannot be built from these settings (status " + std::to_string(st) + ")");
    return cal;
}

}  // namespace tool
