// SVG plot of a calibration curve. Axis limits come from the table and the
// points (non-finite values are left out), ticks fall on 1, 2 or 5 times a
// power of ten, and the curve is broken where the table is not finite.
#include "svg_plot.h"

#include "parse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tool {
namespace {

constexpr double kWidth = 760, kHeight = 500;
constexpr double kLeft = 90, kRight = 30, kTop = 50, kBottom = 70;

struct Axis {
    double lo, hi, step;
    double map(double v, double from, double to) const { return from + (v - lo) / (hi - lo) * (to - from); }
    // Tick positions; computed from a count so that limits far from 0
    // (where adding the step may not advance) cannot loop forever.
    std::vector<double> ticks() const {
        std::vector<double> out;
        const double n = std::round((hi - lo) / step);
        if (!(n >= 1 && n <= 50)) return {lo, hi};
        for (int k = 0; k <= static_cast<int>(n); ++k) out.push_back(lo + k * step);
        return out;
    }
};

// Limits widened to whole ticks, about six of them.
Axis nice_axis(double lo, double hi) {
    if (!(hi > lo)) {
        const double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
        lo -= pad;
        hi += pad;
    }
    const double raw = (hi - lo) / 6.0;
    if (!std::isfinite(raw) || raw <= 0.0) return {lo, hi, hi - lo};
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / mag;
    const double step = (norm < 1.5 ? 1.0 : norm < 3.5 ? 2.0 : norm < 7.5 ? 5.0 : 10.0) * mag;
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step, step};
}

std::string xml_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

std::string tick_label(double v, double step) {
    if (std::fabs(v) < step * 1e-9) v = 0.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

}  // namespace

std::string svg_plot(const CalSnapshot& info) {
    double ylo = INFINITY, yhi = -INFINITY;
    for (double v : info.table)
        if (std::isfinite(v)) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
    for (const auto& p : info.points)
        if (info.type == calmgr::CalType::Standard && std::isfinite(p.calibrated))
            ylo = std::min(ylo, p.calibrated), yhi = std::max(yhi, p.calibrated);
    if (!std::isfinite(ylo)) ylo = 0.0, yhi = 1.0;
    double xlo = info.range.min, xhi = info.range.max;
    for (const auto& p : info.points)
        if (info.type == calmgr::CalType::Standard && std::isfinite(p.input))
            xlo = std::min(xlo, p.input), xhi = std::max(xhi, p.input);
    const Axis ax = nice_axis(xlo, xhi), ay = nice_axis(ylo, yhi);
    const double x0 = kLeft, x1 = kWidth - kRight, y0 = kHeight - kBottom, y1 = kTop;
    auto px = [&](double v) { return num(ax.map(v, x0, x1)); };
    auto py = [&](double v) { return num(ay.map(v, y0, y1)); };

    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kWidth) + "\" height=\"" + num(kHeight) +
                    "\" viewBox=\"0 0 " + num(kWidth) + " " + num(kHeight) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s += "<text x=\"" + num(kWidth / 2) + "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">" + xml_escape(info.name) + "</text>\n";
    // Grid, ticks and tick labels.
    s += "<g stroke=\"#e0e0e0\">\n";
    for (double v : ax.ticks())
        s += "<line x1=\"" + px(v) + "\" y1=\"" + num(y0) + "\" x2=\"" + px(v) + "\" y2=\"" + num(y1) + "\"/>\n";
    for (double v : ay.ticks())
        s += "<line x1=\"" + num(x0) + "\" y1=\"" + py(v) + "\" x2=\"" + num(x1) + "\" y2=\"" + py(v) + "\"/>\n";
    s += "</g>\n<g stroke=\"black\">\n";
    s += "<line x1=\"" + num(x0) + "\" y1=\"" + num(y0) + "\" x2=\"" + num(x1) + "\" y2=\"" + num(y0) + "\"/>\n";
    s += "<line x1=\"" + num(x0) + "\" y1=\"" + num(y0) + "\" x2=\"" + num(x0) + "\" y2=\"" + num(y1) + "\"/>\n";
    for (double v : ax.ticks())
        s += "<line x1=\"" + px(v) + "\" y1=\"" + num(y0) + "\" x2=\"" + px(v) + "\" y2=\"" + num(y0 + 6) + "\"/>\n";
    for (double v : ay.ticks())
        s += "<line x1=\"" + num(x0 - 6) + "\" y1=\"" + py(v) + "\" x2=\"" + num(x0) + "\" y2=\"" + py(v) + "\"/>\n";
    s += "</g>\n<g fill=\"black\">\n";
    for (double v : ax.ticks())
        s += "<text x=\"" + px(v) + "\" y=\"" + num(y0 + 22) + "\" text-anchor=\"middle\">" + tick_label(v, ax.step) + "</text>\n";
    for (double v : ay.ticks())
        s += "<text x=\"" + num(x0 - 10) + "\" y=\"" + py(v) + "\" dy=\"4\" text-anchor=\"end\">" + tick_label(v, ay.step) + "</text>\n";
    s += "<text x=\"" + num((x0 + x1) / 2) + "\" y=\"" + num(kHeight - 20) + "\" text-anchor=\"middle\">Input value</text>\n";
    s += "<text transform=\"translate(22 " + num((y0 + y1) / 2) + ") rotate(-90)\" text-anchor=\"middle\">" +
         xml_escape(info.units.empty() ? "Calibrated value" : "Calibrated value (" + info.units + ")") + "</text>\n</g>\n";
    // The curve, one polyline per finite stretch of the table.
    std::string run;
    auto flush = [&] {
        if (!run.empty()) s += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" points=\"" + run + "\"/>\n";
        run.clear();
    };
    for (size_t k = 0; k < info.table.size(); ++k) {
        const double v = info.table[k];
        if (!std::isfinite(v)) {
            flush();
            continue;
        }
        if (!run.empty()) run += ' ';
        run += px(info.inputs[k]) + "," + py(v);
    }
    flush();
    if (info.type == calmgr::CalType::Standard) {
        s += "<g fill=\"#d62728\" stroke=\"white\">\n";
        for (const auto& p : info.points)
            if (std::isfinite(p.input) && std::isfinite(p.calibrated))
                s += "<circle cx=\"" + px(p.input) + "\" cy=\"" + py(p.calibrated) + "\" r=\"5\"><title>(" + fmt(p.input) +
                     ", " + fmt(p.calibrated) + ")</title></circle>\n";
        s += "</g>\n";
    }
    return s + "</svg>\n";
}

}  // namespace tool
