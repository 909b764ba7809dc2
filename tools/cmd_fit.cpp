// `calmgr fit`: fit a polynomial to samples by least squares and evaluate
// it at given abscissae or over an even grid; CSV on standard output (or
// --output), or one JSON document with --json.
#include "calmgr.hpp"
#include "commands.h"
#include "console.h"
#include "output_file.h"
#include "output_guard.h"
#include "parse.h"

#include <memory>

namespace tool {
namespace {

struct FitCommand {
    std::string csv, samples, at, grid, output;
    int degree = 1;
    bool json = false;
};

std::vector<RealPoint> read_samples(const FitCommand& c) {
    std::vector<RealPoint> samples;
    if (!c.samples.empty()) {
        for (const auto& item : split(c.samples, ',')) {
            const auto [x, y] = parse_pair(item, "--samples");
            samples.push_back({x, y});
        }
    } else if (!c.csv.empty()) {
        check_input_path(c.csv);
        for (const auto& row : read_csv(c.csv, 2)) samples.push_back({row[0], row[1]});
        if (samples.empty()) fail(c.csv + ": no samples");
    } else {
        fail("no samples: use --csv or --samples");
    }
    return samples;
}

// The fitted polynomial's values at the requested abscissae.
std::vector<RealPoint> evaluate(const FitCommand& c, const std::vector<RealPoint>& samples) {
    if (samples.size() > 32767) fail("at most 32767 samples, got " + std::to_string(samples.size()));
    std::vector<RealPoint> out;
    try {
        if (!c.at.empty()) {
            std::vector<double> xs;
            for (const auto& x : split(c.at, ',')) xs.push_back(parse_double(x, "--at"));
            if (xs.size() > 32767) fail("--at: at most 32767 abscissae");
            const auto ys = calmgr::polynomial_fit(samples, xs, c.degree);
            for (size_t k = 0; k < xs.size(); ++k) out.push_back({xs[k], ys[k]});
            return out;
        }
        const auto parts = split(c.grid, ':');
        if (c.grid.empty() || parts.size() != 3) fail("give --at X,X,... or --grid START:END:COUNT");
        const double start = parse_double(parts[0], "--grid"), end = parse_double(parts[1], "--grid");
        const auto count = static_cast<size_t>(parse_int(parts[2], "--grid count", 2, 32767));
        const auto ys = calmgr::polynomial_fit_range(samples, start, end, count, c.degree);
        // The abscissae of the documented grid: start plus repeated steps.
        const double step = (end - start) / static_cast<double>(count - 1);
        double x = start;
        for (size_t k = 0; k < count; ++k, x += step) out.push_back({x, ys[k]});
        return out;
    } catch (const calmgr::Error& e) {
        if (e.status() == CAL_ERR_NOMEM) throw std::bad_alloc();
        fail("the fit failed: it needs more samples than the degree, with distinct x values (" +
             std::string(e.status_name()) + ")");
    }
}

void run_fit(const FitCommand& c) {
    if (c.degree < 1 || c.degree > 7) fail("--degree: " + std::to_string(c.degree) + " is outside 1..7");
    const auto samples = read_samples(c);
    const auto out = evaluate(c, samples);
    std::string text = "x,y\n";
    for (const auto& p : out) text += fmt(p.x) + "," + fmt(p.y) + "\n";
    if (!c.output.empty()) write_text_files({{c.output, text}}, c.csv.empty() ? std::vector<std::string>{} : std::vector{c.csv});
    if (c.json) {
        nlohmann::json values = nlohmann::json::array();
        for (const auto& p : out) values.push_back({json_number(p.x), json_number(p.y)});
        print_json({{"degree", c.degree}, {"samples", samples.size()}, {"values", values}});
    } else if (c.output.empty()) {
        std::fputs(text.c_str(), stdout);
    }
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
    cmd->add_flag("--json", c->json, "Print the values as one JSON document");
    csv->excludes(smp);
    at->excludes(grid);
    cmd->callback([c] { run_fit(*c); });
}

}  // namespace tool
