// The inputs users have: colour JPEG (YCbCr, read as RGB), grey and RGB
// with alpha (colour calibrated, alpha carried over as 0..1 with its
// meaning), min-is-white with and without --invert. Damaged data fail the
// command with libtiff's words and leave no output; harmless warnings are
// shown once; formats the lookup cannot take are named.
#include "tool_support.h"

#include "calmgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

// A calibration over 0..max with a bend, so that every input level maps
// to its own value.
struct Cal {
    IntensityCal* cal = ICalCreate();
    explicit Cal(double max) {
        const CalPoint pts[3] = {{0, 1}, {max / 3, 50}, {max, 60}};
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &max);
        ICalControl(cal, ICAL_SET_POINTS, 3, 0, const_cast<CalPoint*>(pts));
    }
    ~Cal() { ICalDestroy(cal); }
    std::vector<double> lookup(uint32_t type, const void* samples, uint32_t count, size_t values) const {
        std::vector<float> out(values);
        EXPECT_EQ(ICalLookupEx(cal, type | ICAL_LOOKUP_FLOAT, samples, count, out.data()), CAL_OK);
        return std::vector<double>(out.begin(), out.end());
    }
};

std::vector<std::string> apply(const fs::path& in, const fs::path& out, double max) {
    return {"apply", in.string(), out.string(), "--points", "0:1," + std::to_string(max / 3) + ":50," + std::to_string(max) + ":60",
            "--range", "0:" + std::to_string(max)};
}

void expect_failed_cleanly(const ToolRun& r, const fs::path& dir, const std::vector<std::string>& files,
                           const std::string& needle) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(needle), std::string::npos) << r.err;
    EXPECT_EQ(entries(dir), files);
}

// The bytes of strip 0 of a TIFF file: offset and length.
std::pair<uint64_t, uint64_t> first_strip(const fs::path& p) {
    TIFF* t = TIFFOpen(p.c_str(), "r");
    const uint64_t off = TIFFGetStrileOffset(t, 0), len = TIFFGetStrileByteCount(t, 0);
    TIFFClose(t);
    return {off, len};
}

void overwrite(const fs::path& p, uint64_t at, const std::string& bytes) {
    std::string data = slurp(p);
    data.replace(static_cast<size_t>(at), bytes.size(), bytes);
    write_text(p, data);
}

// A little-endian 8-bit grey TIFF of one strip whose byte count promises
// width × height bytes, of which only half are in the file.
std::string short_strip_tiff(uint32_t width, uint32_t height) {
    std::string f("II*\0\x08\0\0\0", 8);
    auto u16 = [&](uint32_t v) { f += static_cast<char>(v & 0xFF), f += static_cast<char>(v >> 8); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const uint32_t data_at = 8 + 2 + 9 * 12 + 4;
    const uint32_t entries[9][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},     {259, 3, 1},
                                    {262, 3, 1},     {273, 4, data_at}, {277, 3, 1},    {278, 4, height},
                                    {279, 4, width * height}};
    u16(9);
    for (const auto& e : entries) {
        u16(e[0]), u16(e[1]), u32(1);
        if (e[1] == 3) u16(e[2]), u16(0);
        else u32(e[2]);
    }
    u32(0);
    for (uint32_t i = 0; i < width * height / 2; ++i) f += static_cast<char>(i * 7);
    return f;
}

}  // namespace

// libtiff's RGB decoding of a YCbCr JPEG image, strips or tiles, as rows.
std::vector<uint8_t> decode_rgb(const fs::path& p) {
    TIFF* t = TIFFOpen(p.c_str(), "r");
    uint32_t w = 0, h = 0, tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    std::vector<uint8_t> rgb(size_t{w} * 3 * h);
    if (!TIFFIsTiled(t)) {
        for (uint32_t y = 0; y < h; ++y) EXPECT_GE(TIFFReadScanline(t, rgb.data() + y * w * 3, y, 0), 0);
    } else {
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize64(t)));
        for (uint32_t ty = 0; ty < h; ty += th)
            for (uint32_t tx = 0; tx < w; tx += tw) {
                EXPECT_GE(TIFFReadTile(t, tile.data(), tx, ty, 0, 0), 0);
                for (uint32_t r = 0; r < th && ty + r < h; ++r)
                    std::memcpy(rgb.data() + (size_t{ty + r} * w + tx) * 3, tile.data() + size_t{r} * tw * 3,
                                size_t{std::min(tw, w - tx)} * 3);
            }
    }
    TIFFClose(t);
    return rgb;
}

TEST(Inputs, ColourJpegIsReadAsRgb) {
    if (!TIFFIsCODECConfigured(COMPRESSION_JPEG)) GTEST_SKIP() << "libtiff without JPEG";
    const auto dir = scratch("jpeg");
    for (const uint32_t tile : {0u, 16u}) {
        SCOPED_TRACE(tile);
        TiffLayout s;
        s.width = 40, s.height = 36, s.spp = 3, s.bps = 8, s.rows_per_strip = 16, s.tile = tile;
        s.photometric = PHOTOMETRIC_YCBCR, s.compression = COMPRESSION_JPEG;
        fill_pattern(s);
        write_tiff(dir / "in.tif", s);
        const std::vector<uint8_t> rgb = decode_rgb(dir / "in.tif");
        const ToolRun r = run_tool(apply(dir / "in.tif", dir / "out.tif", 255));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("JPEG YCbCr read as 8-bit RGB"), std::string::npos) << r.out;
        const FloatImage img = read_float_tiff(dir / "out.tif");
        EXPECT_EQ(img.photometric, PHOTOMETRIC_RGB);
        EXPECT_EQ(img.tile_width, tile);
        EXPECT_EQ(img.values, Cal(255).lookup(ICAL_SAMPLE_U8_RGB, rgb.data(), s.width * s.height, rgb.size()));
    }
    // Damaged JPEG data: the command fails quoting libjpeg's complaint.
    const auto [off, len] = first_strip(dir / "in.tif");
    overwrite(dir / "in.tif", off + len / 2, std::string("\xFF\xD9\x13\x37\xFF\xD0", 6));
    expect_failed_cleanly(run_tool(apply(dir / "in.tif", dir / "bad.tif", 255)), dir, {"in.tif", "out.tif"}, "JPEG");
    fs::remove_all(dir);
}

TEST(Inputs, AlphaIsCarriedOverScaledWithItsMeaning) {
    const auto dir = scratch("alpha");
    struct Case {
        uint16_t spp, bps, meaning;
    };
    for (const Case c : {Case{4, 8, EXTRASAMPLE_UNASSALPHA}, Case{2, 16, EXTRASAMPLE_ASSOCALPHA}, Case{2, 8, EXTRASAMPLE_UNSPECIFIED}}) {
        SCOPED_TRACE(std::to_string(c.spp) + " x " + std::to_string(c.bps));
        TiffLayout s;
        s.width = 13, s.height = 6, s.spp = c.spp, s.bps = c.bps;
        s.photometric = c.spp == 4 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        s.extras = {c.meaning};
        fill_pattern(s);
        write_tiff(dir / "in.tif", s);
        const double max = c.bps == 8 ? 255 : 65535;
        const ToolRun r = run_tool(apply(dir / "in.tif", dir / "out.tif", max));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("premultiplied") != std::string::npos, c.meaning == EXTRASAMPLE_ASSOCALPHA) << r.err;
        const FloatImage img = read_float_tiff(dir / "out.tif");
        ASSERT_EQ(img.spp, c.spp);
        EXPECT_EQ(img.extras, std::vector<uint16_t>{c.meaning});
        const uint16_t colour = c.spp - 1;
        const size_t bytes = c.bps / 8, pixels = size_t{s.width} * s.height;
        std::vector<uint8_t> gathered;
        std::vector<double> alpha;
        for (size_t p = 0; p < pixels; ++p) {
            const uint8_t* px = s.data.data() + p * c.spp * bytes;
            gathered.insert(gathered.end(), px, px + colour * bytes);
            uint16_t a = px[colour * bytes];
            if (c.bps == 16) std::memcpy(&a, px + colour * bytes, 2);
            alpha.push_back(static_cast<float>(a / max));
        }
        const uint32_t type = c.bps == 8 ? (colour == 3 ? ICAL_SAMPLE_U8_RGB : ICAL_SAMPLE_U8)
                                         : (colour == 3 ? ICAL_SAMPLE_U16_RGB : ICAL_SAMPLE_U16);
        const auto cal = Cal(max).lookup(type, gathered.data(), static_cast<uint32_t>(pixels), pixels * colour);
        for (size_t p = 0; p < pixels; ++p) {
            for (uint16_t k = 0; k < colour; ++k) ASSERT_EQ(img.values[p * c.spp + k], cal[p * colour + k]) << p;
            ASSERT_EQ(img.values[p * c.spp + colour], alpha[p]) << p;
        }
    }
    fs::remove_all(dir);
}

TEST(Inputs, MinIsWhiteCalibratesStoredValuesOrInverted) {
    const auto dir = scratch("white");
    for (const uint16_t bps : {uint16_t{1}, uint16_t{8}, uint16_t{16}}) {
        SCOPED_TRACE(bps);
        TiffLayout s;
        s.width = 21, s.height = 4, s.bps = bps, s.photometric = PHOTOMETRIC_MINISWHITE;
        fill_pattern(s);
        write_tiff(dir / "in.tif", s);
        const double max = bps == 16 ? 65535 : 255;
        const size_t row = s.data.size() / s.height;
        std::vector<uint8_t> inverted = s.data;
        for (uint32_t y = 0; y < s.height; ++y)
            for (uint32_t x = 0; x < s.width; ++x) {
                uint8_t* r = inverted.data() + y * row;
                if (bps == 1) r[x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
                else if (bps == 8) r[x] = static_cast<uint8_t>(255 - r[x]);
                else {
                    uint16_t v;
                    std::memcpy(&v, r + 2 * x, 2);
                    v = static_cast<uint16_t>(65535 - v);
                    std::memcpy(r + 2 * x, &v, 2);
                }
            }
        const uint32_t type = bps == 1 ? ICAL_SAMPLE_BITS : bps == 8 ? ICAL_SAMPLE_U8 : ICAL_SAMPLE_U16;
        const Cal cal(max);
        std::vector<double> stored, flipped;
        for (uint32_t y = 0; y < s.height; ++y) {
            const auto a = cal.lookup(type, s.data.data() + y * row, s.width, s.width);
            const auto b = cal.lookup(type, inverted.data() + y * row, s.width, s.width);
            stored.insert(stored.end(), a.begin(), a.end());
            flipped.insert(flipped.end(), b.begin(), b.end());
        }
        auto args = apply(dir / "in.tif", dir / "out.tif", max);
        ASSERT_EQ(run_tool(args).status, 0);
        EXPECT_EQ(read_float_tiff(dir / "out.tif").values, stored);
        args.push_back("--invert");
        ASSERT_EQ(run_tool(args).status, 0);
        EXPECT_EQ(read_float_tiff(dir / "out.tif").values, flipped);
    }
    const ToolRun help = run_tool({"apply", "--help"});
    EXPECT_NE(help.out.find("Min-is-white images"), std::string::npos);
    EXPECT_NE(help.out.find("--invert"), std::string::npos);
    TiffLayout f;
    f.bps = 32, f.format = SAMPLEFORMAT_IEEEFP;
    fill_pattern(f);
    write_tiff(dir / "float.tif", f);
    auto args = apply(dir / "float.tif", dir / "f.tif", 255);
    args.push_back("--invert");
    const ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--invert needs integer samples"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "f.tif"));
    fs::remove_all(dir);
}

TEST(Inputs, DamagedDataFailAndHarmlessWarningsShowOnce) {
    const auto dir = scratch("damaged");
    TiffLayout s;
    s.width = 64, s.height = 32, s.rows_per_strip = 32, s.compression = COMPRESSION_ADOBE_DEFLATE;
    fill_pattern(s);
    write_tiff(dir / "in.tif", s);
    const auto [off, len] = first_strip(dir / "in.tif");
    overwrite(dir / "in.tif", off + len / 3, std::string(16, '\x55'));
    expect_failed_cleanly(run_tool(apply(dir / "in.tif", dir / "out.tif", 255)), dir, {"in.tif"}, "in.tif");

    // A strip whose data end before its byte count says.
    write_text(dir / "short.tif", short_strip_tiff(64, 32));
    expect_failed_cleanly(run_tool(apply(dir / "short.tif", dir / "out.tif", 255)), dir, {"in.tif", "short.tif"},
                          "short.tif");

    // An unknown private tag on each of two pages: one warning, success.
    TiffLayout p;
    p.tags.private_tag = 7;
    fill_pattern(p);
    write_tiff_pages(dir / "private.tif", {p, p});
    const ToolRun ok = run_tool(apply(dir / "private.tif", dir / "out.tif", 255));
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(std::count(ok.err.begin(), ok.err.end(), '\n'), 1) << ok.err;
    EXPECT_EQ(ok.err.rfind("calmgr: warning: ", 0), 0u) << ok.err;
    EXPECT_NE(ok.err.find("65111"), std::string::npos) << ok.err;
    EXPECT_EQ(count_pages(dir / "out.tif"), 2);
    fs::remove_all(dir);
}

TEST(Inputs, UnsupportedFormatsAreNamed) {
    const auto dir = scratch("named");
    if (TIFFIsCODECConfigured(COMPRESSION_SGILOG)) {
        TiffLayout luv;
        luv.spp = 3, luv.bps = 32, luv.format = SAMPLEFORMAT_IEEEFP, luv.photometric = PHOTOMETRIC_LOGLUV;
        luv.compression = COMPRESSION_SGILOG;
        fill_pattern(luv);
        write_tiff(dir / "luv.tif", luv);
        expect_failed_cleanly(run_tool(apply(dir / "luv.tif", dir / "o.tif", 255)), dir, {"luv.tif"},
                              "LogLuv-encoded images are not supported");
    }
    // A multi-page file with one page the tool cannot take: refused as a
    // whole, naming the page.
    TiffLayout grey, sign;
    sign.bps = 16, sign.format = SAMPLEFORMAT_INT;
    fill_pattern(grey);
    fill_pattern(sign);
    write_tiff_pages(dir / "mixed.tif", {grey, sign});
    const ToolRun r = run_tool(apply(dir / "mixed.tif", dir / "o.tif", 255));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("mixed.tif, page 2: signed 16-bit integer samples are not supported"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "o.tif"));
    fs::remove_all(dir);
}
