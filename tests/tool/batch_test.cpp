// Batches and scripts: `apply --out-dir` / `--suffix` over many inputs,
// carrying on past a failed file with a summary at the end; `info` and
// `--json`, which print one JSON document on standard output and their
// human text on standard error.
#include "tool_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace tooltest;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

void make_images(const fs::path& dir, const std::vector<std::string>& names) {
    for (const auto& n : names) {
        TiffLayout s;
        fill_pattern(s);
        write_tiff(dir / n, s);
    }
}

}  // namespace

TEST(Batch, OutDirCarriesOnPastAFailureAndSummarises) {
    const auto dir = scratch("batch");
    fs::create_directories(dir / "in" / "other");
    fs::create_directory(dir / "out");
    make_images(dir / "in", {"a.tif", "b.TIFF", "c"});
    make_images(dir / "in" / "other", {"a.tif"});
    write_text(dir / "in" / "broken.tif", "not an image");
    const ToolRun r = run_tool({"apply", "--points", "0:0,255:1", "--out-dir", (dir / "out").string(), "--suffix", "_cal",
                                (dir / "in" / "a.tif").string(), (dir / "in" / "broken.tif").string(),
                                (dir / "in" / "b.TIFF").string(), (dir / "in" / "c").string(),
                                (dir / "in" / "other" / "a.tif").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(entries(dir / "out"), (std::vector<std::string>{"a_cal.tif", "b_cal.TIFF", "c_cal.tif"}));
    const auto err = lines(r.err);
    ASSERT_EQ(err.size(), 3u) << r.err;
    EXPECT_NE(err[0].find("broken.tif: cannot read as TIFF"), std::string::npos) << err[0];
    EXPECT_NE(err[1].find("other/a.tif: its output"), std::string::npos) << err[1];
    EXPECT_EQ(err[2], "calmgr: 2 of 5 images failed; the others were written");
    EXPECT_EQ(lines(r.out).size(), 3u) << r.out;
    EXPECT_EQ(read_float_tiff(dir / "out" / "b_cal.TIFF").width, 9u);

    // --suffix alone writes beside the inputs; an output that would
    // replace another input of the batch is refused.
    make_images(dir / "in", {"x.tif", "x_cal.tif"});
    const std::string before = slurp(dir / "in" / "x_cal.tif");
    const ToolRun s = run_tool({"apply", "--points", "0:0,255:1", "--suffix", "_cal", (dir / "in" / "x.tif").string(),
                                (dir / "in" / "x_cal.tif").string()});
    EXPECT_EQ(s.status, 1);
    EXPECT_NE(s.err.find("is the input file"), std::string::npos) << s.err;
    EXPECT_EQ(slurp(dir / "in" / "x_cal.tif"), before);
    EXPECT_TRUE(fs::exists(dir / "in" / "x_cal_cal.tif"));

    const ToolRun usage = run_tool({"apply", "--points", "0:0,255:1", (dir / "in" / "a.tif").string()});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("give an input and an output TIFF, or --out-dir DIR"), std::string::npos) << usage.err;
    const ToolRun nodir = run_tool({"apply", "--points", "0:0,255:1", "--out-dir", (dir / "nowhere").string(),
                                    (dir / "in" / "a.tif").string()});
    EXPECT_EQ(nodir.status, 1);
    EXPECT_NE(nodir.err.find("--out-dir"), std::string::npos) << nodir.err;
    fs::remove_all(dir);
}

TEST(Scripts, InfoDescribesPagesFormatsAndCalibration) {
    const auto dir = scratch("info");
    TiffLayout grey, rgba, sign;
    rgba.spp = 4, rgba.photometric = PHOTOMETRIC_RGB, rgba.extras = {EXTRASAMPLE_UNASSALPHA}, rgba.tile = 16;
    rgba.width = 20, rgba.height = 18;
    sign.bps = 16, sign.format = SAMPLEFORMAT_INT;
    for (auto* s : {&grey, &rgba, &sign}) fill_pattern(*s);
    write_tiff_pages(dir / "in.tif", {grey, rgba, sign});
    ToolRun r = run_tool({"info", (dir / "in.tif").string(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = json::parse(r.out);
    ASSERT_EQ(doc["pages"].size(), 3u);
    const json& p1 = doc["pages"][1];
    EXPECT_EQ(p1["width"], 20);
    EXPECT_EQ(p1["samples_per_pixel"], 4);
    EXPECT_EQ(p1["sample_format"], "8-bit unsigned integer");
    EXPECT_EQ(p1["extra_samples"], json::array({"unassociated alpha"}));
    EXPECT_EQ(p1["storage"]["tiles"], json::array({16, 16}));
    EXPECT_EQ(p1["convertible"], true);
    EXPECT_EQ(doc["pages"][0]["calibration"]["spatial"]["units"], "inch");
    EXPECT_DOUBLE_EQ(doc["pages"][0]["calibration"]["spatial"]["pixel_width"].get<double>(), 1.0 / 300);
    EXPECT_EQ(doc["pages"][2]["convertible"], false);
    EXPECT_EQ(doc["pages"][2]["refusal"], "signed 16-bit integer samples are not supported");
    EXPECT_NE(r.err.find("3 pages"), std::string::npos) << r.err;  // the text went to stderr

    // An image calmgr calibrated says so.
    write_tiff(dir / "g.tif", grey);
    ASSERT_EQ(run_tool({"apply", (dir / "g.tif").string(), (dir / "c.tif").string(), "--points", "0:0,255:2", "--name",
                        "gain"}).status, 0);
    r = run_tool({"info", (dir / "c.tif").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("calibrated by calmgr"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"gain\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("32-bit float"), std::string::npos) << r.out;
    r = run_tool({"info", (dir / "missing.tif").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
    fs::remove_all(dir);
}

TEST(Scripts, JsonOnStdoutTextOnStderr) {
    ToolRun r = run_tool({"curve", "--points", "0:-0,255:-1", "--json", "--units", "OD"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json curve = json::parse(r.out);
    EXPECT_EQ(curve["table_size"], 256);
    EXPECT_EQ(curve["units"], "OD");
    EXPECT_EQ(curve["points"], json::parse("[[0, 0], [255, -1]]"));
    EXPECT_NE(r.err.find("table size:    256"), std::string::npos) << r.err;
    r = run_tool({"fit", "--samples", "0:1,1:3,2:5", "--at", "4", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json fit = json::parse(r.out);
    EXPECT_NEAR(fit["values"][0][1].get<double>(), 9.0, 1e-12);
    // A table never shows a negative zero.
    const auto dir = scratch("zero");
    ASSERT_EQ(run_tool({"curve", "--points", "0:-0,255:-1", "--table", (dir / "t.csv").string()}).status, 0);
    EXPECT_EQ(lines(slurp(dir / "t.csv"))[1], "0,0");
    fs::remove_all(dir);
}
