// The library's findings where users are: `curve` and `apply` warn with
// one line per finding, `check` lists them (exit 0 when none, 3 when any,
// JSON with --json), and --strict refuses the calibration (exit 3,
// nothing written).
#include "tool_support.h"

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
