// Running the tool and generating and reading test TIFF images with
// libtiff.
#include "tool_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {
namespace {

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

size_t scanline_bytes(const TiffLayout& s) { return (size_t{s.width} * s.spp * s.bps + 7) / 8; }

constexpr ttag_t kPrivateTag = 65111;

TIFFFieldInfo geo_fields[] = {
    {33550, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScale")},
    {33922, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepoint")},
    {34264, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTransformation")},
    {34735, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectory")},
    {34736, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoDoubleParams")},
    {34737, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GeoAsciiParams")},
};
TIFFFieldInfo private_field[] = {
    {kPrivateTag, 1, 1, TIFF_SHORT, FIELD_CUSTOM, 1, 0, const_cast<char*>("TestPrivate")},
};

TIFFExtendProc g_parent = nullptr;
void extend(TIFF* t) {
    TIFFMergeFieldInfo(t, geo_fields, 6);
    if (g_parent) g_parent(t);
}

template <class T>
void set_array(TIFF* t, ttag_t tag, const std::vector<T>& v) {
    if (!v.empty()) TIFFSetField(t, tag, static_cast<uint32_t>(v.size()), v.data());
}

template <class T>
std::vector<T> get_array(TIFF* t, ttag_t tag) {
    uint32_t n = 0;
    T* data = nullptr;
    if (!TIFFGetField(t, tag, &n, &data) || data == nullptr) return {};
    return std::vector<T>(data, data + n);
}

std::string get_string(TIFF* t, ttag_t tag) {
    const char* s = nullptr;
    return TIFFGetField(t, tag, &s) && s ? std::string(s) : std::string();
}

void write_page(TIFF* t, const TiffLayout& s) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bps);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    if (s.compression == COMPRESSION_JPEG && s.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (s.compression == COMPRESSION_SGILOG) TIFFSetField(t, TIFFTAG_SGILOGDATAFMT, SGILOGDATAFMT_FLOAT);
    if (!s.extras.empty()) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(s.extras.size()), s.extras.data());
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> map(size_t{1} << s.bps, 0);
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    if (s.resolution) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 150.0f);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    const PageTags& g = s.tags;
    const std::pair<ttag_t, const std::string*> strings[] = {
        {TIFFTAG_IMAGEDESCRIPTION, &g.description}, {TIFFTAG_DATETIME, &g.datetime}, {TIFFTAG_ARTIST, &g.artist},
        {TIFFTAG_COPYRIGHT, &g.copyright},          {TIFFTAG_PAGENAME, &g.page_name}, {TIFFTAG_SOFTWARE, &g.software},
        {34737, &g.geo_ascii}};
    for (const auto& [tag, text] : strings)
        if (!text->empty()) TIFFSetField(t, tag, text->c_str());
    if (g.orientation != 0) TIFFSetField(t, TIFFTAG_ORIENTATION, g.orientation);
    set_array(t, 33550, g.pixel_scale);
    set_array(t, 33922, g.tiepoints);
    set_array(t, 34264, g.transformation);
    set_array(t, 34735, g.geo_keys);
    set_array(t, 34736, g.geo_doubles);
    if (g.private_tag != 0) {
        TIFFMergeFieldInfo(t, private_field, 1);
        TIFFSetField(t, kPrivateTag, g.private_tag);
    }
    const size_t row = scanline_bytes(s);
    if (s.tile == 0) {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rows_per_strip);
        for (uint32_t y = 0; y < s.height; ++y)
            ASSERT_GE(TIFFWriteScanline(t, const_cast<uint8_t*>(s.data.data() + y * row), y, 0), 0);
    } else {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
        const size_t tile_row = (size_t{s.tile} * s.spp * s.bps + 7) / 8;
        std::vector<uint8_t> tile(tile_row * s.tile);
        for (uint32_t ty = 0; ty < s.height; ty += s.tile)
            for (uint32_t tx = 0; tx < s.width; tx += s.tile) {
                std::fill(tile.begin(), tile.end(), 0xAB);  // padding beyond the image
                const size_t offset = size_t{tx} * s.spp * s.bps / 8;
                for (uint32_t r = 0; r < s.tile && ty + r < s.height; ++r)
                    std::memcpy(tile.data() + r * tile_row, s.data.data() + (ty + r) * row + offset,
                                std::min(tile_row, row - offset));
                ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
            }
    }
}

}  // namespace

void register_geo_tags() {
    static const bool done = [] {
        g_parent = TIFFSetTagExtender(extend);
        return true;
    }();
    (void)done;
}

ToolRun run_tool(const std::vector<std::string>& args, const std::string& prefix) {
    static int counter = 0;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(counter++);
    const auto out = dir / ("calmgr_tool_out_" + tag), err = dir / ("calmgr_tool_err_" + tag);
    std::string cmd = prefix + " exec " + shell_quote(CALMGR_TOOL_PATH);
    for (const auto& a : args) cmd += " " + shell_quote(a);
    cmd += " >" + shell_quote(out.string()) + " 2>" + shell_quote(err.string()) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    ToolRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128, slurp(out), slurp(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return r;
}

std::filesystem::path scratch(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("calmgr_tooltest_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<std::string> entries(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_text(const std::filesystem::path& p, const std::string& text) {
    std::ofstream f(p, std::ios::binary);
    f << text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

void fill_pattern(TiffLayout& s) {
    const size_t row = scanline_bytes(s);
    s.data.assign(row * s.height, 0);
    const size_t per_row = size_t{s.width} * s.spp;
    for (uint32_t y = 0; y < s.height; ++y) {
        uint8_t* r = s.data.data() + y * row;
        for (size_t i = 0; i < per_row; ++i) {
            const uint32_t k = static_cast<uint32_t>(y * 131 + i * 37 + (i % 3) * 11);
            if (s.bps == 1) {
                if ((k / 7) % 2) r[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
            } else if (s.format == SAMPLEFORMAT_IEEEFP && s.bps == 32) {
                const float v = static_cast<float>(k % 300) * 0.75f;
                std::memcpy(r + i * 4, &v, 4);
            } else if (s.format == SAMPLEFORMAT_IEEEFP && s.bps == 64) {
                const double v = static_cast<double>(k % 300) * 0.8 - 10.0;
                std::memcpy(r + i * 8, &v, 8);
            } else if (s.bps == 8) {
                r[i] = static_cast<uint8_t>(k);
            } else if (s.bps == 16) {
                const uint16_t v = static_cast<uint16_t>(k * 97);
                std::memcpy(r + i * 2, &v, 2);
            } else if (s.bps == 32) {
                const uint32_t v = k * 7919;
                std::memcpy(r + i * 4, &v, 4);
            }
        }
    }
}

void write_tiff(const std::filesystem::path& p, const TiffLayout& s) { write_tiff_pages(p, {s}); }

void write_tiff_pages(const std::filesystem::path& p, const std::vector<TiffLayout>& pages) {
    register_geo_tags();
    TIFF* t = TIFFOpen(p.c_str(), "w");
    ASSERT_NE(t, nullptr);
    for (const auto& s : pages) {
        write_page(t, s);
        ASSERT_TRUE(TIFFWriteDirectory(t));
    }
    TIFFClose(t);
}

int count_pages(const std::filesystem::path& p) {
    TIFF* t = TIFFOpen(p.c_str(), "r");
    if (t == nullptr) return 0;
    int n = 0;
    do ++n;
    while (TIFFReadDirectory(t));
    TIFFClose(t);
    return n;
}

FloatImage read_float_tiff(const std::filesystem::path& p, int page) {
    register_geo_tags();
    FloatImage img;
    TIFF* t = TIFFOpen(p.c_str(), "r");
    EXPECT_NE(t, nullptr) << p;
    if (t == nullptr) return img;
    if (!TIFFSetDirectory(t, static_cast<tdir_t>(page))) {
        ADD_FAILURE() << p << " has no page " << page;
        TIFFClose(t);
        return img;
    }
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &img.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &img.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &img.spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &img.bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &img.format);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &img.photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &img.compression);
    if (img.compression != COMPRESSION_NONE) TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &img.predictor);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &img.xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &img.yres);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &img.res_unit);
    uint16_t n_extra = 0;
    uint16_t* extras = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &n_extra, &extras)) img.extras.assign(extras, extras + n_extra);
    PageTags& g = img.tags;
    g.description = get_string(t, TIFFTAG_IMAGEDESCRIPTION);
    g.datetime = get_string(t, TIFFTAG_DATETIME);
    g.artist = get_string(t, TIFFTAG_ARTIST);
    g.copyright = get_string(t, TIFFTAG_COPYRIGHT);
    g.page_name = get_string(t, TIFFTAG_PAGENAME);
    g.software = get_string(t, TIFFTAG_SOFTWARE);
    g.geo_ascii = get_string(t, 34737);
    TIFFGetField(t, TIFFTAG_ORIENTATION, &g.orientation);
    g.pixel_scale = get_array<double>(t, 33550);
    g.tiepoints = get_array<double>(t, 33922);
    g.transformation = get_array<double>(t, 34264);
    g.geo_keys = get_array<uint16_t>(t, 34735);
    g.geo_doubles = get_array<double>(t, 34736);

    const bool tiled = TIFFIsTiled(t);
    std::vector<uint8_t> raw;
    if (tiled) {
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &img.tile_width);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &img.tile_height);
        // Gather the tiles into rows.
        const size_t px = size_t{img.spp} * img.bps / 8, row = px * img.width;
        raw.assign(row * img.height, 0);
        std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize64(t)));
        for (uint32_t ty = 0; ty < img.height; ty += img.tile_height)
            for (uint32_t tx = 0; tx < img.width; tx += img.tile_width) {
                EXPECT_GE(TIFFReadTile(t, tile.data(), tx, ty, 0, 0), 0);
                for (uint32_t r = 0; r < img.tile_height && ty + r < img.height; ++r)
                    std::memcpy(raw.data() + (ty + r) * row + tx * px, tile.data() + r * img.tile_width * px,
                                std::min<size_t>(img.tile_width, img.width - tx) * px);
            }
    } else {
        const size_t row = static_cast<size_t>(TIFFScanlineSize64(t));
        raw.assign(row * img.height, 0);
        for (uint32_t y = 0; y < img.height; ++y) EXPECT_GE(TIFFReadScanline(t, raw.data() + y * row, y, 0), 0);
    }
    const size_t count = size_t{img.width} * img.height * img.spp;
    for (size_t i = 0; i < count; ++i) {
        if (img.bps == 32) {
            float v;
            std::memcpy(&v, raw.data() + i * 4, 4);
            img.values.push_back(v);
        } else {
            double v;
            std::memcpy(&v, raw.data() + i * 8, 8);
            img.values.push_back(v);
        }
    }
    TIFFClose(t);
    return img;
}

}  // namespace tooltest
