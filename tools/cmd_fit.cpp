// `calmgr fit`: fit a polynomial to samples by least squares and evaluate
// it at given abscissae or over an even grid; CSV on standard output (or
// --output), or one JSON document with --json. --report prints the fit's
// coefficients and statistics (degrees 1..15, computed stably); the
// values at --at or --grid stay those of the fixed fit (degrees 1..7).
#include "calmgr.hpp"
#include "commands.h"
#include "console.h"
#include "fit_report.h"
#include "output_file.h"
#include "output_guard.h"
#include "parse.h"

#include <climits>
#include <memory>
#include <optional>

namespace tool {
namespace {

struct FitCommand {
    std::string csv, samples, at, grid, output;
    int degree = 1;
    bool json = false;
    bool report = false;
};

constexpr int kMaxFixedDegree = 7, kMaxReportDegree = 15;

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
        // The abscissae the fit evaluated at: start plus repeated steps.
        const auto xs = calmgr::grid_inputs(calmgr::Range{start, end}, count, calmgr::GridRule::RunningSum);
        for (size_t k = 0; k < count; ++k) out.push_back({xs[k], ys[k]});
        return out;
    } catch (const calmgr::Error& e) {
        if (e.status() == CAL_ERR_NOMEM) throw std::bad_alloc();
        fail("the fit failed: it needs more samples than the degree, with distinct x values (" +
             std::string(e.status_name()) + ")");
    }
}

// The stable least-squares report of the samples.
CalFitReport fit_report(const FitCommand& c, const std::vector<RealPoint>& samples) {
    if (samples.size() > static_cast<size_t>(INT32_MAX))
        fail("at most " + std::to_string(INT32_MAX) + " samples, got " + std::to_string(samples.size()));
    if (samples.size() < static_cast<size_t>(c.degree) + 1)
        fail("a fit of degree " + std::to_string(c.degree) + " needs at least " + std::to_string(c.degree + 1) +
             " samples, got " + std::to_string(samples.size()));
    CalFitReport r{};
    const int32_t status =
        PolynomialFitReport(samples.data(), static_cast<int32_t>(samples.size()), static_cast<int16_t>(c.degree), &r);
    if (status == CAL_ERR_NOMEM) throw std::bad_alloc();
    if (status == CAL_ERR_INVALID)
        fail("the samples do not determine a polynomial of degree " + std::to_string(c.degree) + ": fewer than " +
             std::to_string(c.degree + 1) + " distinct x values, or too close together to tell apart");
    if (status != CAL_OK) fail("the fit failed (" + std::string(calmgr::status_name(status)) + ")");
    return r;
}

void run_fit(const FitCommand& c) {
    const int max_degree = c.report ? kMaxReportDegree : kMaxFixedDegree;
    if (c.degree < 1 || c.degree > max_degree)
        fail("--degree: " + std::to_string(c.degree) + " is outside 1.." + std::to_string(max_degree) +
             (c.report ? "" : " (1..15 with --report)"));
    const bool evaluating = !c.at.empty() || !c.grid.empty() || !c.report;
    if (evaluating && c.degree > kMaxFixedDegree)
        fail("--at and --grid evaluate the fit of degree 1..7; give --report alone for degree " +
             std::to_string(c.degree));
    if (!evaluating && !c.output.empty()) fail("--output writes the values at --at or --grid; give one of them", kExitUsage);
    const auto samples = read_samples(c);
    const FitSpace space{"x", "y"};
    std::optional<CalFitReport> report;
    if (c.report) report = fit_report(c, samples);
    const auto out = evaluating ? evaluate(c, samples) : std::vector<RealPoint>{};

    if (report) {
        std::fputs(fit_report_text(*report, space).c_str(), human_out(c.json));
        warn_fit_report(*report);
    }
    std::string text = "x,y\n";
    for (const auto& p : out) text += fmt(p.x) + "," + fmt(p.y) + "\n";
    if (evaluating && !c.output.empty())
        write_text_files({{c.output, text}}, c.csv.empty() ? std::vector<std::string>{} : std::vector{c.csv});
    if (c.json) {
        nlohmann::json doc = {{"degree", c.degree}, {"samples", samples.size()}};
        if (report) doc["fit_report"] = fit_report_json(*report, space);
        if (evaluating) {
            nlohmann::json values = nlohmann::json::array();
            for (const auto& p : out) values.push_back({json_number(p.x), json_number(p.y)});
            doc["values"] = values;
        }
        print_json(doc);
    } else if (evaluating && c.output.empty()) {
        std::fputs(text.c_str(), stdout);
    }
}

}  // namespace

void add_fit_command(CLI::App& app) {
    auto c = std::make_shared<FitCommand>();
    auto* cmd = app.add_subcommand("fit", "Fit a least-squares polynomial to samples and evaluate it");
    auto* csv = cmd->add_option("--csv", c->csv, "CSV file of x,y samples");
    auto* smp = cmd->add_option("--samples", c->samples, "Samples X:Y,X:Y,...");
    cmd->add_option("--degree", c->degree, "Degree of the polynomial (1..7; 1..15 with --report)")->capture_default_str();
    auto* at = cmd->add_option("--at", c->at, "Evaluate at these abscissae X,X,...");
    auto* grid = cmd->add_option("--grid", c->grid, "Evaluate on an even grid START:END:COUNT");
    cmd->add_option("--output", c->output, "Write the CSV here instead of standard output");
    cmd->add_flag("--report", c->report,
                  "Print the coefficients with their standard errors, residual SD, R squared, SSR and condition number");
    cmd->add_flag("--json", c->json, "Print the values (and the report) as one JSON document");
    csv->excludes(smp);
    at->excludes(grid);
    cmd->callback([c] { run_fit(*c); });
}

}  // namespace tool
