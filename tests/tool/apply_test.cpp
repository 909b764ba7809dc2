// `calmgr apply` on small TIFF files of every supported layout, in strips
// and tiles, compressed and not: the output holds, pixel for pixel, what
// ICalLookupEx gives for the same rows, with size and resolution kept.
// Unsupported or unreadable input is refused with one line and no output.
#include "tool_support.h"

#include "calmgr.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tooltest;

namespace {

const char* kPoints = "0:0.5,100:30,65535:900";

// The calibration the tool builds from kPoints over the given range.
IntensityCal* reference_cal(double range_max, int size) {
    IntensityCal* cal = ICalCreate();
    const CalPoint pts[3] = {{0, 0.5}, {100, 30}, {65535, 900}};
    const double lo = 0.0;
    ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, const_cast<double*>(&lo));
    ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &range_max);
    ICalControl(cal, ICAL_SET_TABLE_SIZE, size, 1, nullptr);
    ICalControl(cal, ICAL_SET_POINTS, 3, 0, const_cast<CalPoint*>(pts));
    return cal;
}

uint32_t sample_code(const TiffLayout& s) {
    if (s.format == SAMPLEFORMAT_IEEEFP) return s.bps == 32 ? ICAL_SAMPLE_F32 : ICAL_SAMPLE_F64;
    if (s.bps == 1) return ICAL_SAMPLE_BITS;
    if (s.bps == 8) return s.spp == 3 ? ICAL_SAMPLE_U8_RGB : ICAL_SAMPLE_U8;
    return s.spp == 3 ? ICAL_SAMPLE_U16_RGB : ICAL_SAMPLE_U16;
}

void check_apply(TiffLayout layout, bool double_output, const std::string& label) {
    SCOPED_TRACE(label);
    const auto dir = scratch("apply");
    fill_pattern(layout);
    write_tiff(dir / "in.tif", layout);
    std::vector<std::string> args = {"apply", (dir / "in.tif").string(), (dir / "out.tif").string(),
                                     "--points", kPoints, "--range", "0:65535", "--size", "4000"};
    if (double_output) args.push_back("--double");
    const ToolRun r = run_tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // The 64-bit pattern reaches below 0, and the tool says so.
    if (layout.format == SAMPLEFORMAT_IEEEFP && layout.bps == 64)
        EXPECT_NE(r.err.find("of pixels lie below the calibrated range 0..65535"), std::string::npos) << r.err;
    else
        EXPECT_EQ(r.err, "");
    const FloatImage img = read_float_tiff(dir / "out.tif");
    EXPECT_EQ(img.width, layout.width);
    EXPECT_EQ(img.height, layout.height);
    EXPECT_EQ(img.spp, layout.spp);
    EXPECT_EQ(img.bps, double_output ? 64 : 32);
    EXPECT_EQ(img.format, SAMPLEFORMAT_IEEEFP);
    EXPECT_EQ(img.xres, 300.0f);
    EXPECT_EQ(img.yres, 150.0f);
    EXPECT_EQ(img.res_unit, RESUNIT_INCH);

    IntensityCal* cal = reference_cal(65535.0, 4000);
    const size_t row_bytes = layout.data.size() / layout.height, per_row = size_t{layout.width} * layout.spp;
    ASSERT_EQ(img.values.size(), per_row * layout.height);
    size_t mismatches = 0;
    for (uint32_t y = 0; y < layout.height; ++y) {
        std::vector<double> expect(per_row);
        std::vector<float> expect_f(per_row);
        const uint8_t* row = layout.data.data() + y * row_bytes;
        // Float codes count samples, the others pixels.
        const auto count = static_cast<uint32_t>(layout.format == SAMPLEFORMAT_IEEEFP ? per_row : layout.width);
        if (double_output) ASSERT_EQ(ICalLookupEx(cal, sample_code(layout), row, count, expect.data()), CAL_OK);
        else ASSERT_EQ(ICalLookupEx(cal, sample_code(layout) | ICAL_LOOKUP_FLOAT, row, count, expect_f.data()), CAL_OK);
        for (size_t i = 0; i < per_row; ++i) {
            const double want = double_output ? expect[i] : static_cast<double>(expect_f[i]);
            if (std::memcmp(&want, &img.values[y * per_row + i], sizeof want) != 0 && mismatches++ < 5)
                ADD_FAILURE() << "row " << y << " sample " << i << ": " << img.values[y * per_row + i] << " != " << want;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    ICalDestroy(cal);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"in.tif", "out.tif"}));
    std::filesystem::remove_all(dir);
}

TiffLayout layout(uint16_t spp, uint16_t bps, uint16_t format = SAMPLEFORMAT_UINT) {
    TiffLayout s;
    s.spp = spp;
    s.bps = bps;
    s.format = format;
    s.photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    return s;
}

}  // namespace

TEST(ApplyTiff, EverySampleLayoutInStrips) {
    check_apply(layout(1, 1), false, "bilevel, width not a multiple of 8");
    check_apply(layout(1, 8), false, "8-bit");
    check_apply(layout(1, 16), false, "16-bit");
    check_apply(layout(3, 8), false, "RGB 8-bit");
    check_apply(layout(3, 16), true, "RGB 16-bit, double output");
    check_apply(layout(1, 32, SAMPLEFORMAT_IEEEFP), false, "32-bit float");
    check_apply(layout(1, 64, SAMPLEFORMAT_IEEEFP), true, "64-bit float");
    check_apply(layout(3, 32, SAMPLEFORMAT_IEEEFP), false, "RGB 32-bit float: each sample looked up");
}

TEST(ApplyTiff, TilesCompressionAndMinIsWhite) {
    TiffLayout s = layout(1, 16);
    s.width = 40, s.height = 21, s.tile = 16;
    check_apply(s, false, "16-bit tiles with partial edge tiles");
    s = layout(3, 8);
    s.width = 33, s.height = 17, s.tile = 16;
    check_apply(s, true, "RGB 8-bit tiles");
    s = layout(1, 1);
    s.width = 37, s.height = 18, s.tile = 16;
    check_apply(s, false, "bilevel tiles");
    s = layout(1, 16);
    s.compression = COMPRESSION_ADOBE_DEFLATE;
    s.rows_per_strip = 2;
    check_apply(s, false, "deflate-compressed strips");
    s = layout(1, 8);
    s.photometric = PHOTOMETRIC_MINISWHITE;
    s.resolution = true;
    check_apply(s, false, "8-bit min-is-white: raw values are looked up");
}

TEST(ApplyTiff, UnsupportedAndUnreadableInputLeaveNoOutput) {
    struct Case {
        TiffLayout layout;
        const char* needle;
    };
    std::vector<Case> cases;
    cases.push_back({layout(1, 16, SAMPLEFORMAT_INT), "signed 16-bit integer samples are not supported"});
    cases.push_back({layout(1, 32), "32-bit unsigned integer samples are not supported"});
    TiffLayout palette = layout(1, 8);
    palette.photometric = PHOTOMETRIC_PALETTE;
    cases.push_back({palette, "palette-colour images are not supported"});
    cases.push_back({layout(1, 12), "12-bit integer samples are not supported"});
    TiffLayout lab = layout(3, 8);
    lab.photometric = PHOTOMETRIC_CIELAB;
    cases.push_back({lab, "CIELab images are not supported"});
    TiffLayout cmyk = layout(4, 8);
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    cases.push_back({cmyk, "separated (CMYK) images are not supported"});
    for (auto& c : cases) {
        SCOPED_TRACE(c.needle);
        const auto dir = scratch("refuse");
        fill_pattern(c.layout);
        write_tiff(dir / "in.tif", c.layout);
        const ToolRun r = run_tool({"apply", (dir / "in.tif").string(), (dir / "out.tif").string(), "--points", "0:0,255:1"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.needle), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(entries(dir), std::vector<std::string>{"in.tif"});
        std::filesystem::remove_all(dir);
    }
    const auto dir = scratch("unreadable");
    write_text(dir / "text.tif", "this is not an image\n");
    std::string bytes = "II*";  // a TIFF header cut short
    bytes += '\0';
    write_text(dir / "cut.tif", bytes + "\x08\x00\x00\x00\x0c\x00");
    for (const char* name : {"text.tif", "cut.tif", "missing.tif"}) {
        SCOPED_TRACE(name);
        const ToolRun r = run_tool({"apply", (dir / name).string(), (dir / "out.tif").string(), "--points", "0:0,255:1"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("calmgr: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"cut.tif", "text.tif"}));
    std::filesystem::remove_all(dir);
}

TEST(ApplyTiff, MissingOutputDirectoryAndSavedCalibration) {
    const auto dir = scratch("applycal");
    TiffLayout s = layout(1, 16);
    fill_pattern(s);
    write_tiff(dir / "in.tif", s);
    ToolRun r = run_tool({"apply", (dir / "in.tif").string(), (dir / "no" / "out.tif").string(), "--points", kPoints});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;

    // A saved calibration gives the same image as the options it came from.
    r = run_tool({"curve", "--points", kPoints, "--range", "0:65535", "--size", "4000", "--fit", "poly2",
                  "--save", (dir / "cal.json").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(run_tool({"apply", (dir / "in.tif").string(), (dir / "a.tif").string(), "--cal", (dir / "cal.json").string()}).status, 0);
    ASSERT_EQ(run_tool({"apply", (dir / "in.tif").string(), (dir / "b.tif").string(), "--points", kPoints, "--range",
                        "0:65535", "--size", "4000", "--fit", "poly2"}).status, 0);
    EXPECT_EQ(read_float_tiff(dir / "a.tif").values, read_float_tiff(dir / "b.tif").values);
    std::filesystem::remove_all(dir);
}
