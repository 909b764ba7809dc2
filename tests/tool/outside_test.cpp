// `apply` says how many samples fell outside the calibrated range or were
// NaN, and --outside / --nan choose what they become: by default outside
// values take the table's ends and NaN (no data) stays NaN.
#include "tool_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

// One row of 16-bit grey samples: four of eight above 0..255.
TiffLayout wide_row() {
    TiffLayout s;
    s.width = 8;
    s.height = 1;
    s.bps = 16;
    const uint16_t v[8] = {0, 100, 255, 256, 1000, 65535, 50, 300};
    s.data.resize(sizeof v);
    std::memcpy(s.data.data(), v, sizeof v);
    return s;
}

// One row of 32-bit float samples: a NaN, one below 0..255, two inside.
TiffLayout float_row() {
    TiffLayout s;
    s.width = 4;
    s.height = 1;
    s.bps = 32;
    s.format = SAMPLEFORMAT_IEEEFP;
    const float v[4] = {std::nanf(""), -5.0f, 25.5f, 255.0f};
    s.data.resize(sizeof v);
    std::memcpy(s.data.data(), v, sizeof v);
    return s;
}

ToolRun apply(const fs::path& dir, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"apply", "--points", "0:1,255:11", (dir / "in.tif").string(),
                                     (dir / "out.tif").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    fs::remove(dir / "out.tif");
    return run_tool(args);
}

}  // namespace

TEST(ApplyOutside, SixteenBitBeyondTheRangeIsCountedAndClampedOrNan) {
    const auto dir = scratch("outside16");
    write_tiff(dir / "in.tif", wide_row());
    ToolRun r = apply(dir, {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("calmgr: warning: " + (dir / "in.tif").string() +
                         ": 50.0 % of pixels lie above the calibrated range 0..255; give --range"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("below"), std::string::npos) << r.err;
    FloatImage img = read_float_tiff(dir / "out.tif");
    ASSERT_EQ(img.values.size(), 8u);
    EXPECT_EQ(img.values[0], 1.0);
    EXPECT_EQ(img.values[2], 11.0);
    for (const size_t i : {3u, 4u, 5u, 7u}) EXPECT_EQ(img.values[i], 11.0) << i;  // the table's end

    r = apply(dir, {"--outside", "nan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("50.0 % of pixels lie above the calibrated range 0..255; they are NaN (--outside nan)"),
              std::string::npos)
        << r.err;
    img = read_float_tiff(dir / "out.tif");
    ASSERT_EQ(img.values.size(), 8u);
    for (const size_t i : {3u, 4u, 5u, 7u}) EXPECT_TRUE(std::isnan(img.values[i])) << i;
    for (const size_t i : {0u, 1u, 2u, 6u}) EXPECT_FALSE(std::isnan(img.values[i])) << i;

    // An input range that covers the samples: nothing to say.
    r = apply(dir, {"--range", "0:65535", "--outside", "nan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    fs::remove_all(dir);
}

TEST(ApplyOutside, NanSamplesStayNanUnlessAskedAndBelowIsCounted) {
    const auto dir = scratch("outsidenan");
    write_tiff(dir / "in.tif", float_row());
    ToolRun r = apply(dir, {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("25.0 % of pixels are NaN (no data); they stay NaN"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("25.0 % of pixels lie below the calibrated range 0..255; give --range"), std::string::npos)
        << r.err;
    FloatImage img = read_float_tiff(dir / "out.tif");
    ASSERT_EQ(img.values.size(), 4u);
    EXPECT_TRUE(std::isnan(img.values[0]));
    EXPECT_EQ(img.values[1], 1.0);  // below: the table's first entry
    EXPECT_EQ(img.values[3], 11.0);

    r = apply(dir, {"--nan", "first-entry", "--outside", "nan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("they take the first table entry (--nan first-entry)"), std::string::npos) << r.err;
    img = read_float_tiff(dir / "out.tif");
    ASSERT_EQ(img.values.size(), 4u);
    EXPECT_EQ(img.values[0], 1.0);
    EXPECT_TRUE(std::isnan(img.values[1]));

    r = apply(dir, {"--nan", "drop"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--nan: unknown value 'drop' (use first-entry, keep)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.tif"));
    fs::remove_all(dir);
}

TEST(ApplyOutside, RgbCountsAreOfColourSamplesNotPixels) {
    const auto dir = scratch("outsidergb");
    TiffLayout s;
    s.width = 2;
    s.height = 1;
    s.spp = 3;
    s.bps = 16;
    s.photometric = PHOTOMETRIC_RGB;
    // One pixel wholly inside 0..255, one with a single channel above it.
    const uint16_t v[6] = {10, 20, 30, 40, 50, 4000};
    s.data.resize(sizeof v);
    std::memcpy(s.data.data(), v, sizeof v);
    write_tiff(dir / "in.tif", s);
    const ToolRun r = apply(dir, {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(": 16.7 % of colour samples lie above the calibrated range 0..255; give --range"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("of pixels"), std::string::npos) << r.err;
    fs::remove_all(dir);
}
