// The library's findings where users are: `curve` and `apply` warn with
// one line per finding, `check` lists them (exit 0 when none, 3 when any,
// JSON with --json), and --strict refuses the calibration (exit 3,
// nothing written).
#include "tool_support.h"

#include "calmgr.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {
const char* kDuplicate = "0:0,64:1,64:2,255:3";
const char* kWarning =
    "calmgr: warning: point 3 (64): another point has this input value but a different calibrated value; "
    "the table drops to 0 there";
}  // namespace

TEST(Findings, CurveAndApplyWarnAndStrictRefuses) {
    const auto dir = scratch("findings");
    ToolRun r = run_tool({"curve", "--points", kDuplicate, "--save", (dir / "c.json").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.err).at(0), kWarning);
    EXPECT_TRUE(fs::exists(dir / "c.json"));

    TiffLayout s;
    fill_pattern(s);
    write_tiff(dir / "in.tif", s);
    r = run_tool({"apply", "--cal", (dir / "c.json").string(), (dir / "in.tif").string(), (dir / "out.tif").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.err).at(0), kWarning);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"curve", "--points", kDuplicate, "--strict", "--table", (dir / "t.csv").string()},
          std::vector<std::string>{"apply", "--cal", (dir / "c.json").string(), "--strict", (dir / "in.tif").string(),
                                   (dir / "strict.tif").string()}}) {
        r = run_tool(args);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find("refused (--strict)"), std::string::npos) << r.err;
    }
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"c.json", "in.tif", "out.tif"}));
    // A sound calibration passes --strict without a word.
    r = run_tool({"curve", "--points", "0:0,128:1,255:3", "--strict"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    fs::remove_all(dir);
}

TEST(Findings, CheckListsThemWithItsExitStatus) {
    const auto dir = scratch("check");
    ASSERT_EQ(run_tool({"curve", "--points", kDuplicate, "--save", (dir / "bad.json").string()}).status, 0);
    ASSERT_EQ(run_tool({"curve", "--points", "0:0,255:1", "--save", (dir / "good.json").string()}).status, 0);
    ToolRun r = run_tool({"check", (dir / "good.json").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no findings"), std::string::npos) << r.out;

    r = run_tool({"check", (dir / "bad.json").string(), "--json"});
    EXPECT_EQ(r.status, 3) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_GE(doc["count"].get<int>(), 1);
    const auto& first = doc["findings"][0];
    EXPECT_EQ(first["code"], "DUPLICATE_INPUT");
    EXPECT_EQ(first["point"], 2);
    EXPECT_EQ(first["value"], 64.0);
    EXPECT_EQ(first["message"], std::string(kWarning).substr(std::string("calmgr: warning: ").size()));
    EXPECT_NE(r.err.find("point 3 (64)"), std::string::npos) << r.err;  // the text on stderr

    // An empty range in a saved file is refused by the loader, naming it.
    r = run_tool({"check", "--points", "0:0,1:1", "--range", "5:5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--range"), std::string::npos) << r.err;
    fs::remove_all(dir);
}

TEST(Invert, ValuesBackToInputsWithUnresolvedNamed) {
    const auto dir = scratch("invert");
    const std::string cal = (dir / "c.json").string();
    ASSERT_EQ(run_tool({"curve", "--points", "0:0,100:1,255:4", "--fit", "poly2", "--save", cal}).status, 0);
    write_text(dir / "v.csv", "od,label\n0.5,a\n2,b\n");
    ToolRun r = run_tool({"invert", "--cal", cal, "1", "9", "--csv", (dir / "v.csv").string(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc["values"].size(), 4u);
    EXPECT_EQ(doc["unresolved"], 1);
    EXPECT_TRUE(doc["values"][1]["input"].is_null());  // 9 lies beyond the table
    // Each input found looks up to its value again.
    IntensityCal* c = ICalCreate();
    CalPoint pts[3] = {{0, 0}, {100, 1}, {255, 4}};
    ASSERT_EQ(ICalControl(c, ICAL_SET_FIT_TYPE, ICAL_FIT_POLY2, 1, nullptr), CAL_OK);
    ASSERT_EQ(ICalControl(c, ICAL_SET_POINTS, 3, 0, pts), CAL_OK);
    for (const size_t i : {0u, 2u, 3u}) {
        const double in = doc["values"][i]["input"].get<double>();
        double back = 0;
        ASSERT_EQ(ICalLookupEx(c, ICAL_SAMPLE_F64, &in, 1, &back), CAL_OK);
        EXPECT_NEAR(back, doc["values"][i]["calibrated"].get<double>(), 1e-12);
    }
    ICalDestroy(c);
    EXPECT_NE(r.err.find("calmgr: warning: 1 of 4 values have no input"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("calibrated,input\n1,"), std::string::npos) << r.err;

    r = run_tool({"invert", "--cal", cal});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no values to invert"), std::string::npos) << r.err;

    // A curve that rises and falls takes 1 twice: no single answer.
    const std::string hill = (dir / "hill.json").string();
    ASSERT_EQ(run_tool({"curve", "--points", "0:0,128:2,255:0", "--fit", "poly2", "--save", hill}).status, 0);
    r = run_tool({"invert", "--cal", hill, "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(nlohmann::json::parse(r.out)["values"][0]["input"].is_null()) << r.out;
    EXPECT_NE(r.err.find("1 of 1 values have no input"), std::string::npos) << r.err;

    // The calibration's findings are warned about, and --strict refuses it.
    const std::string dup = (dir / "dup.json").string();
    ASSERT_EQ(run_tool({"curve", "--points", kDuplicate, "--save", dup}).status, 0);
    r = run_tool({"invert", "--cal", dup, "1.5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.err).at(0), kWarning);
    r = run_tool({"invert", "--cal", dup, "1.5", "--strict"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "");
    fs::remove_all(dir);
}
