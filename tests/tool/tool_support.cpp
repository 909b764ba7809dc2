// Running the tool and generating test TIFF images with libtiff.
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

}  // namespace

ToolRun run_tool(const std::vector<std::string>& args) {
    static int counter = 0;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(counter++);
    const auto out = dir / ("calmgr_tool_out_" + tag), err = dir / ("calmgr_tool_err_" + tag);
    std::string cmd = shell_quote(CALMGR_TOOL_PATH);
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
            }
        }
    }
}

void write_tiff(const std::filesystem::path& p, const TiffLayout& s) {
    TIFF* t = TIFFOpen(p.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bps);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> map(size_t{1} << s.bps, 0);
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    if (s.resolution) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 150.0f);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
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
    TIFFClose(t);
}

FloatImage read_float_tiff(const std::filesystem::path& p) {
    FloatImage img;
    TIFF* t = TIFFOpen(p.c_str(), "r");
    EXPECT_NE(t, nullptr) << p;
    if (t == nullptr) return img;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &img.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &img.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &img.spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &img.bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &img.format);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &img.xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &img.yres);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &img.res_unit);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize64(t)));
    for (uint32_t y = 0; y < img.height; ++y) {
        EXPECT_GE(TIFFReadScanline(t, row.data(), y, 0), 0);
        for (size_t i = 0; i < size_t{img.width} * img.spp; ++i) {
            if (img.bps == 32) {
                float v;
                std::memcpy(&v, row.data() + i * 4, 4);
                img.values.push_back(v);
            } else {
                double v;
                std::memcpy(&v, row.data() + i * 8, 8);
                img.values.push_back(v);
            }
        }
    }
    TIFFClose(t);
    return img;
}

}  // namespace tooltest
