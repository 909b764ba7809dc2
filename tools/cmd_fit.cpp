// `calmgr fit`: fit a polynomial to CSV samples by least squares and
// evaluate it at given abscissae or over an even grid.
#include "calmgr.h"
#include "commands.h"
#include "tool_common.h"

#include <cstdio>
#include <memory>

namespace tool {
namespace {

struct FitCommand {
    std::string csv, samples, at, grid, output;
    int degree = 1;
};

void run_fit(const FitCommand& c) {
    if (c.degree < 1 || c.degree > 7) fail("--degree: " + std::to_string(c.degree) + " is outside 1..7");
    std::vector<RealPoint> samples;
    if (!c.samples.empty()) {
        for (const auto& item : split(c.samples, ',')) {
            const auto [x, y] = parse_pair(item, "--samples");
            samples.push_back({x, y});
        }
    } else if (!c.csv.empty()) {
        for (const auto& row : read_csv(c.csv, 2)) samples.push_back({row[0], row[1]});
    } else {
        fail("no samples: use --csv or --samples");
    }
    if (samples.empty()) fail(c.csv + ": no samples");
    if (samples.size() > 32767) fail("at most 32767 samples, got " + std::to_string(samples.size()));
    const auto n = static_cast<int16_t>(samples.size());
    const auto degree = static_cast<int16_t>(c.degree);

    std::vector<RealPoint> out;
    int32_t st;
    if (!c.at.empty()) {
        for (const auto& x : split(c.at, ',')) out.push_back({parse_double(x, "--at"), 0.0});
        if (out.size() > 32767) fail("--at: at most 32767 abscissae");
        st = PolynomialFit(samples.data(), n, out.data(), static_cast<int16_t>(out.size()), degree);
    } else {
        const auto parts = split(c.grid.empty() ? std::string("") : c.grid, ':');
        if (c.grid.empty() || parts.size() != 3) fail("give --at X,X,... or --grid START:END:COUNT");
        const double start = parse_double(parts[0], "--grid"), end = parse_double(parts[1], "--grid");
        const auto count = static_cast<int16_t>(parse_int(parts[2], "--grid count", 2, 32767));
        std::vector<double> values(static_cast<size_t>(count));
        st = PolynomialFitRange(samples.data(), n, values.data(), start, end, count, degree);
        // The abscissae of the documented grid: start plus repeated steps.
        const double step = (end - start) / (count - 1);
        double x = start;
        for (int16_t k = 0; k < count; ++k, x += step) out.push_back({x, values[static_cast<size_t>(k)]});
    }
    if (st == CAL_ERR_NOMEM) fail("out of memory");
    if (st != CAL_OK) fail("the fit failed (status " + std::to_string(st) + ")");
    std::string text = "x,y\n";
    for (const auto& p : out) text += fmt(p.x) + "," + fmt(p.y) + "\n";
    if (c.output.empty()) std::fputs(text.c_str(), stdout);
    else write_text_files({{c.output, text}});
}

}  // namespace

void add_fit_command(CLI::App& app) {
    auto c = std::make_shared<FitCommand>();
    auto* cmd = app.add_subcommand("fit", "Fit a least-squares polynomial to samples and evaluate it");
    auto* csv = cmd->add_option("--csv", c->csv, "CSV file of x,y samples");
    auto* smp = cmd->add_option("--samples", c->samples, "Samples X:Y,X:Y,...");
    cmd->add_option("--degree", c->degree, "Degree of the polynomial (1..7)")->capture_default_str();
    auto* at = cmd->add_option("--at", c->at, "Evaluate at these abscissae X,X,...");
    auto* grid = cmd->add_option("--grid", c->grid, "Evaluate on an even grid START:END:COUNT");
    cmd->add_option("--output", c->output, "Write the CSV here instead of standard output");
    csv->excludes(smp);
    at->excludes(grid);
    cmd->callback([c] { run_fit(*c); });
}

}  // namespace tool
