// What `apply` keeps: every page of a multi-page file, each converted with
// its own size, resolution, orientation, georeferencing and text tags;
// the description naming the calibration only where the input had none;
// tiles of the input's size; and the output choices (compression with the
// floating-point predictor, BigTIFF, 64-bit samples).
#include "tool_support.h"

#include "calmgr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

const std::string kVersion = "calmgr " + std::string(CalVersion());

TiffLayout page(uint32_t w, uint32_t h, uint16_t spp, uint16_t bps) {
    TiffLayout s;
    s.width = w, s.height = h, s.spp = spp, s.bps = bps;
    s.photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    fill_pattern(s);
    return s;
}

// The values ICalLookupEx gives for a page's rows, as floats.
std::vector<double> expected_values(const TiffLayout& s, const char* points, double range_max = 255) {
    IntensityCal* cal = ICalCreate();
    ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &range_max);
    std::vector<CalPoint> pts;
    for (const char* p = points; *p;) {
        char* end = nullptr;
        const double in = std::strtod(p, &end);
        const double out = std::strtod(end + 1, &end);
        pts.push_back({in, out});
        p = *end ? end + 1 : end;
    }
    ICalControl(cal, ICAL_SET_POINTS, static_cast<int32_t>(pts.size()), 0, pts.data());
    const uint32_t code = s.bps == 1 ? ICAL_SAMPLE_BITS
                          : s.bps == 8 ? (s.spp == 3 ? ICAL_SAMPLE_U8_RGB : ICAL_SAMPLE_U8)
                                       : (s.spp == 3 ? ICAL_SAMPLE_U16_RGB : ICAL_SAMPLE_U16);
    const size_t row = s.data.size() / s.height, n = size_t{s.width} * s.spp;
    std::vector<double> out;
    std::vector<float> buf(n);
    for (uint32_t y = 0; y < s.height; ++y) {
        EXPECT_EQ(ICalLookupEx(cal, code | ICAL_LOOKUP_FLOAT, s.data.data() + y * row, s.width, buf.data()), CAL_OK);
        out.insert(out.end(), buf.begin(), buf.end());
    }
    ICalDestroy(cal);
    return out;
}

}  // namespace

TEST(Fidelity, EveryPageConvertedWithItsTags) {
    const auto dir = scratch("pages");
    std::vector<TiffLayout> pages = {page(9, 7, 1, 8), page(20, 33, 3, 16), page(17, 5, 1, 1)};
    PageTags& geo = pages[0].tags;
    geo.description = "survey scan";
    geo.datetime = "2024:05:06 07:08:09";
    geo.artist = "A. Surveyor";
    geo.copyright = "(c) Survey";
    geo.page_name = "sheet 1";
    geo.software = "scanner 2.0";
    geo.orientation = ORIENTATION_BOTRIGHT;
    geo.pixel_scale = {0.5, 0.25, 0};
    geo.tiepoints = {0, 0, 0, 440720, 3751320, 0};
    geo.geo_keys = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 26711};
    geo.geo_doubles = {6378137.0, 298.257223563};
    geo.geo_ascii = "WGS 84 / UTM zone 11N|";
    pages[1].tags.page_name = "sheet 2";
    pages[1].tags.orientation = ORIENTATION_LEFTTOP;
    pages[1].tags.transformation = {1, 0, 0, 5, 0, -1, 0, 7, 0, 0, 1, 0, 0, 0, 0, 1};
    pages[2].resolution = false;
    write_tiff_pages(dir / "in.tif", pages);

    const ToolRun r = run_tool({"apply", (dir / "in.tif").string(), (dir / "out.tif").string(), "--points",
                                "0:0.5,30000:20,65535:90", "--range", "0:65535", "--name", "wedge", "--units", "OD"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(count_pages(dir / "out.tif"), 3);
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const FloatImage img = read_float_tiff(dir / "out.tif", k);
        EXPECT_EQ(img.width, pages[k].width);
        EXPECT_EQ(img.height, pages[k].height);
        EXPECT_EQ(img.spp, pages[k].spp);
        EXPECT_EQ(img.format, SAMPLEFORMAT_IEEEFP);
        EXPECT_EQ(img.tags.software, kVersion);
        EXPECT_EQ(img.values, expected_values(pages[k], "0:0.5,30000:20,65535:90", 65535));
    }
    const FloatImage first = read_float_tiff(dir / "out.tif", 0);
    const PageTags& g = first.tags;
    EXPECT_EQ(g.description, "survey scan");  // the user's description is kept
    EXPECT_EQ(g.datetime, geo.datetime);
    EXPECT_EQ(g.artist, geo.artist);
    EXPECT_EQ(g.copyright, geo.copyright);
    EXPECT_EQ(g.page_name, "sheet 1");
    EXPECT_EQ(g.orientation, ORIENTATION_BOTRIGHT);
    EXPECT_EQ(g.pixel_scale, geo.pixel_scale);
    EXPECT_EQ(g.tiepoints, geo.tiepoints);
    EXPECT_EQ(g.geo_keys, geo.geo_keys);
    EXPECT_EQ(g.geo_doubles, geo.geo_doubles);
    EXPECT_EQ(g.geo_ascii, geo.geo_ascii);
    EXPECT_EQ(first.xres, 300.0f);
    EXPECT_EQ(first.yres, 150.0f);
    EXPECT_EQ(first.res_unit, RESUNIT_INCH);
    const FloatImage second = read_float_tiff(dir / "out.tif", 1);
    EXPECT_EQ(second.tags.page_name, "sheet 2");
    EXPECT_EQ(second.tags.orientation, ORIENTATION_LEFTTOP);
    EXPECT_EQ(second.tags.transformation, pages[1].tags.transformation);
    EXPECT_TRUE(second.tags.pixel_scale.empty());
    EXPECT_EQ(second.photometric, PHOTOMETRIC_RGB);
    // Where the input had no description, one line names the calibration.
    const std::string made = second.tags.description;
    EXPECT_NE(made.find("\"wedge\""), std::string::npos) << made;
    EXPECT_NE(made.find("OD"), std::string::npos) << made;
    EXPECT_NE(made.find("piecewise linear interpolation"), std::string::npos) << made;
    EXPECT_EQ(made.find('\n'), std::string::npos);
    const FloatImage third = read_float_tiff(dir / "out.tif", 2);
    EXPECT_EQ(third.xres, 0.0f);  // no resolution in, none out
    fs::remove_all(dir);
}

TEST(Fidelity, TilesKeepTheirSizeAndOutputChoicesApply) {
    const auto dir = scratch("tiles");
    TiffLayout tiled = page(70, 41, 1, 16);
    tiled.tile = 32;
    fill_pattern(tiled);
    write_tiff(dir / "tiled.tif", tiled);
    const auto want = expected_values(tiled, "0:0,65535:1", 65535);
    struct Case {
        const char* compress;
        uint16_t compression, predictor;
    };
    for (const Case& c : {Case{"none", COMPRESSION_NONE, 0}, Case{"lzw", COMPRESSION_LZW, PREDICTOR_FLOATINGPOINT},
                          Case{"deflate", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_FLOATINGPOINT},
                          Case{"zstd", COMPRESSION_ZSTD, PREDICTOR_FLOATINGPOINT}}) {
        SCOPED_TRACE(c.compress);
        if (!TIFFIsCODECConfigured(c.compression)) continue;
        const fs::path out = dir / (std::string(c.compress) + ".tif");
        const ToolRun r = run_tool({"apply", (dir / "tiled.tif").string(), out.string(), "--points", "0:0,65535:1",
                                    "--range", "0:65535", "--compress", c.compress});
        ASSERT_EQ(r.status, 0) << r.err;
        const FloatImage img = read_float_tiff(out);
        EXPECT_EQ(img.tile_width, 32u);
        EXPECT_EQ(img.tile_height, 32u);
        EXPECT_EQ(img.compression, c.compression);
        EXPECT_EQ(img.predictor, c.predictor);
        EXPECT_EQ(img.values, want);
    }
    // The default is deflate with the predictor; strips stay strips.
    const TiffLayout strips = page(30, 20, 1, 8);
    write_tiff(dir / "strips.tif", strips);
    ASSERT_EQ(run_tool({"apply", (dir / "strips.tif").string(), (dir / "d.tif").string(), "--points", "0:0,255:1",
                        "--double", "--bigtiff", "yes"}).status, 0);
    const FloatImage d = read_float_tiff(dir / "d.tif");
    EXPECT_EQ(d.compression, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_EQ(d.predictor, PREDICTOR_FLOATINGPOINT);
    EXPECT_EQ(d.bps, 64);
    EXPECT_EQ(d.tile_width, 0u);
    EXPECT_EQ(slurp(dir / "d.tif").substr(0, 4), std::string("II+\0", 4));  // BigTIFF
    EXPECT_EQ(slurp(dir / "strips.tif").substr(0, 4), std::string("II*\0", 4));

    const ToolRun bad = run_tool({"apply", (dir / "strips.tif").string(), (dir / "x.tif").string(), "--points",
                                  "0:0,255:1", "--compress", "jpeg"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--compress: unknown value 'jpeg' (use deflate, lzw, none, zstd)"), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(dir / "x.tif"));
    fs::remove_all(dir);
}
