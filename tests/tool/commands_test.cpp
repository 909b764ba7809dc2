// The curve, spatial and fit subcommands: their outputs, and one clear line
// with a non-zero exit and no file left for every kind of bad input.
#include "tool_support.h"

#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

using namespace tooltest;

namespace {

// A refusal: status 1 or 2, exactly one line on stderr, prefixed.
void expect_refused(const ToolRun& r, const std::string& needle) {
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err.rfind("calmgr: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(needle), std::string::npos) << r.err;
}

}  // namespace

TEST(CurveCommand, SummaryTablePlotAndSave) {
    const auto dir = scratch("curve");
    const ToolRun r = run_tool({"curve", "--points", "0:0.05,40:0.4,100:1.1,180:2.0,255:2.9", "--fit", "poly2",
                                "--units", "OD", "--size", "300", "--table", (dir / "t.csv").string(), "--plot",
                                (dir / "p.svg").string(), "--save", (dir / "c.json").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("fit:           poly2: least-squares polynomial of degree 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("table size:    300"), std::string::npos) << r.out;
    const auto table = lines(slurp(dir / "t.csv"));
    ASSERT_EQ(table.size(), 301u);
    EXPECT_EQ(table[0], "input,calibrated");
    EXPECT_EQ(table[2].rfind("0.852", 0), 0u) << table[2];
    EXPECT_NEAR(std::stod(table[300]), 255.0, 1e-9) << table[300];
    const std::string svg = slurp(dir / "p.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    size_t circles = 0;
    for (size_t p = svg.find("<circle"); p != std::string::npos; p = svg.find("<circle", p + 1)) ++circles;
    EXPECT_EQ(circles, 5u);
    EXPECT_NE(svg.find(">Calibrated value (OD)</text>"), std::string::npos);  // the y axis names the units
    EXPECT_NE(svg.find("<polyline"), std::string::npos);
    EXPECT_NE(slurp(dir / "c.json").find("\"fit_type\": 2"), std::string::npos);

    // Loading the saved file prints the same summary.
    const ToolRun again = run_tool({"curve", "--cal", (dir / "c.json").string()});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, r.out.substr(0, r.out.find("wrote:")));
    std::filesystem::remove_all(dir);
}

// The CSV's input column once came from min + i * step while the fitted
// builders step by running sums: it must be the grid the table was built on.
TEST(CurveCommand, TableInputColumnIsTheGridTheLibraryUsed) {
    const auto dir = scratch("grid");
    const calmgr::Range range{-3.7, 1234.9};
    for (const auto& [fit, rule] : {std::pair{"poly2", calmgr::GridRule::RunningSum},
                                    std::pair{"interp1", calmgr::GridRule::Product}}) {
        SCOPED_TRACE(fit);
        const auto file = (dir / (std::string(fit) + ".csv")).string();
        ASSERT_EQ(run_tool({"curve", "--points", "0:0,300:1,900:5,1200:6", "--fit", fit, "--range", "-3.7:1234.9",
                            "--size", "997", "--table", file}).status, 0);
        const auto rows = lines(slurp(file));
        // The builders' own rules, written out: least squares runs a sum,
        // piecewise interpolation multiplies.
        std::vector<double> grid(997);
        const double step = (range.max - range.min) / 996.0;
        double x = range.min;
        for (size_t i = 0; i < grid.size(); ++i) {
            volatile double product = static_cast<double>(i) * step;
            grid[i] = rule == calmgr::GridRule::RunningSum ? x : range.min + product;
            x += step;
        }
        EXPECT_EQ(grid, calmgr::grid_inputs(range, 997, rule));
        ASSERT_EQ(rows.size(), grid.size() + 1);
        size_t differ = 0;
        for (size_t i = 0; i < grid.size(); ++i) differ += std::stod(rows[i + 1]) != grid[i];
        EXPECT_EQ(differ, 0u);
    }
    std::filesystem::remove_all(dir);
}

TEST(CurveCommand, FitNamesMapToFitTypes) {
    const std::pair<const char*, int> names[] = {{"poly1", 1}, {"poly3", 3}, {"interp1", 4}, {"interp3", 6},
                                                 {"od", 10},   {"exp2", 12}, {"log1", 21},   {"log3", 23},
                                                 {"7", 7},     {"0", 0}};
    const auto dir = scratch("fitnames");
    for (const auto& [name, type] : names) {
        SCOPED_TRACE(name);
        const auto file = (dir / (std::string(name) + ".json")).string();
        const ToolRun r = run_tool({"curve", "--points", "0:0.1,50:0.5,120:1.2,255:2.5", "--fit", name, "--save", file});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(slurp(file).find("\"fit_type\": " + std::to_string(type) + ","), std::string::npos);
    }
    // Two points give the straight line whatever the fit.
    const ToolRun two = run_tool({"curve", "--points", "0:0,255:1", "--fit", "poly3"});
    EXPECT_NE(two.out.find("straight line through two points"), std::string::npos) << two.out;
    std::filesystem::remove_all(dir);
}

TEST(CurveCommand, BadInputIsOneLineAndLeavesNoFile) {
    const auto dir = scratch("badcurve");
    write_text(dir / "bad.csv", "input,calibrated\n0,0\n10,abc\n");
    write_text(dir / "wide.csv", "0,0\n10,1,2\n");
    write_text(dir / "empty.csv", "# nothing\n");
    const std::string save = (dir / "out.json").string(), plot = (dir / "out.svg").string();
    expect_refused(run_tool({"curve", "--csv", (dir / "bad.csv").string(), "--save", save}), "bad.csv:3: 'abc' is not a finite number");
    expect_refused(run_tool({"curve", "--csv", (dir / "wide.csv").string(), "--save", save}), "wide.csv:2: expected 2 comma-separated values, found 3");
    expect_refused(run_tool({"curve", "--csv", (dir / "empty.csv").string(), "--save", save}), "no points");
    expect_refused(run_tool({"curve", "--csv", (dir / "none.csv").string(), "--save", save}), "cannot open");
    expect_refused(run_tool({"curve", "--points", "0:0,1:x", "--save", save}), "'x' is not a finite number");
    expect_refused(run_tool({"curve", "--points", "0:0,nan:1", "--save", save}), "'nan' is not a finite number");
    expect_refused(run_tool({"curve", "--points", "0:0;1:1", "--save", save}), "--points: expected A:B");
    expect_refused(run_tool({"curve", "--points", "0:0", "--save", save}), "at least two points");
    expect_refused(run_tool({"curve", "--points", "0:0,9:1,20:3", "--fit", "spline", "--save", save}), "unknown fit 'spline'");
    expect_refused(run_tool({"curve", "--points", "0:0,9:1,20:3", "--fit", "15", "--save", save}), "unknown fit '15'");
    expect_refused(run_tool({"curve", "--points", "0:-1,9:0,20:3", "--fit", "exp1", "--save", save}), "positive calibrated value");
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--range", "5:5", "--save", save}), "--range: the maximum must be above");
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--size", "40000", "--save", save}), "--size: table size must be between 2 and 32767");
    expect_refused(run_tool({"curve", "--density", "200:100", "--save", save}), "incident level must be above");
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--density", "1:2"}), "excludes");
    expect_refused(run_tool({"curve", "--bogus"}), "unknown option --bogus");
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--compress", "lzw"}), "unknown option --compress");
    expect_refused(run_tool({"curve"}), "no curve given");
    // A good curve with one unwritable output writes none of them.
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--save", save, "--plot", (dir / "no" / "p.svg").string()}),
                   "No such file or directory");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"bad.csv", "empty.csv", "wide.csv"}));
    std::filesystem::remove_all(dir);
}

TEST(CurveCommand, LaterVersionAndDamagedSavedFiles) {
    const auto dir = scratch("version");
    const auto file = (dir / "c.json").string();
    ASSERT_EQ(run_tool({"curve", "--points", "0:0,255:2", "--save", file}).status, 0);
    std::string text = slurp(file);
    const auto pos = text.find("\"version\": 1");
    ASSERT_NE(pos, std::string::npos);
    write_text(dir / "later.json", text.substr(0, pos) + "\"version\": 2" + text.substr(pos + 12));
    write_text(dir / "cut.json", text.substr(0, text.size() / 2));
    const auto out = (dir / "out.tif").string();
    expect_refused(run_tool({"curve", "--cal", (dir / "later.json").string()}), "written by a later calmgr");
    expect_refused(run_tool({"apply", "x.tif", out, "--cal", (dir / "later.json").string()}), "later.json: version");
    expect_refused(run_tool({"curve", "--cal", (dir / "cut.json").string()}), "malformed JSON");
    expect_refused(run_tool({"spatial", "--cal", file, "1,1"}), "format: expected \"calmgr.spatial\"");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"c.json", "cut.json", "later.json"}));
    std::filesystem::remove_all(dir);
}

TEST(SpatialCommand, ConvertsArgumentsAndCsvAndSaves) {
    const auto dir = scratch("spatial");
    write_text(dir / "px.csv", "x,y\n14,0\n3,-4\n");
    const auto cal = (dir / "s.json").string();
    ToolRun r = run_tool({"spatial", "--scale", "2:4", "--origin", "10:0", "--units", "mm", "--csv",
                          (dir / "px.csv").string(), "--save", cal, "20,8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "pixel_x,pixel_y,x (mm),y (mm)\n20,8,5,2\n14,0,2,0\n3,-4,-3.5,-1\n");
    r = run_tool({"spatial", "--cal", cal, "12,2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "pixel_x,pixel_y,x (mm),y (mm)\n12,2,1,0.5\n");
    r = run_tool({"spatial", "--pixel-size", "0.5", "4,6"});
    EXPECT_EQ(r.out, "pixel_x,pixel_y,x (Pixels),y (Pixels)\n4,6,2,3\n");
    expect_refused(run_tool({"spatial", "--scale", "0", "1,1"}), "--scale: 0 is not allowed");
    expect_refused(run_tool({"spatial", "1.5,2"}), "'1.5' is not an integer");
    expect_refused(run_tool({"spatial", "3000000000,2"}), "outside");
    write_text(dir / "frac.csv", "1.5,2\n");
    expect_refused(run_tool({"spatial", "--csv", (dir / "frac.csv").string()}), "must be 32-bit integers");
    write_text(dir / "huge.csv", "1e300,2\n");
    expect_refused(run_tool({"spatial", "--csv", (dir / "huge.csv").string()}), "must be 32-bit integers");
    std::filesystem::remove_all(dir);
}

TEST(FitCommand, EvaluatesAtPointsAndOnAGrid) {
    ToolRun r = run_tool({"fit", "--samples", "0:1,1:3,2:5,3:7", "--degree", "1", "--at", "0.5,10"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto l = lines(r.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "x,y");
    EXPECT_NEAR(std::stod(l[1].substr(l[1].find(',') + 1)), 2.0, 1e-12);
    EXPECT_NEAR(std::stod(l[2].substr(l[2].find(',') + 1)), 21.0, 1e-12);
    // y = x^2 sampled exactly, evaluated on a grid of 5 from -2 to 2.
    r = run_tool({"fit", "--samples", "-2:4,-1:1,0:0,1:1,2:4,3:9", "--degree", "2", "--grid", "-2:2:5"});
    ASSERT_EQ(r.status, 0) << r.err;
    l = lines(r.out);
    ASSERT_EQ(l.size(), 6u);
    for (int k = 0; k < 5; ++k) {
        const double x = std::stod(l[k + 1]);
        EXPECT_EQ(x, -2.0 + k);
        EXPECT_NEAR(std::stod(l[k + 1].substr(l[k + 1].find(',') + 1)), x * x, 1e-9);
    }
    expect_refused(run_tool({"fit", "--samples", "0:1,1:2", "--degree", "8", "--at", "1"}), "--degree: 8 is outside 1..7");
    expect_refused(run_tool({"fit", "--samples", "0:1,1:2"}), "give --at");
    expect_refused(run_tool({"fit", "--samples", "0:1,1:2", "--grid", "0:1:1"}), "--grid count: 1 is outside");
    expect_refused(run_tool({"fit", "--at", "1"}), "no samples");
}

TEST(HelpAndUsage, EverySubcommandHasHelp) {
    for (const char* sub : {"curve", "apply", "info", "check", "invert", "spatial", "fit"}) {
        const ToolRun r = run_tool({sub, "--help"});
        EXPECT_EQ(r.status, 0) << sub;
        EXPECT_NE(r.out.find("Usage:"), std::string::npos) << sub;
    }
    expect_refused(run_tool({}), "subcommand");
    expect_refused(run_tool({"frobnicate"}), "frobnicate");
}
