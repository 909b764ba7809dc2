// Support for the command-line tool tests: running the tool with its
// output captured, and small TIFF files written and read with libtiff.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tooltest {

struct ToolRun {
    int status;
    std::string out, err;
};

// Runs the calmgr tool with the given arguments (each shell-quoted).
ToolRun run_tool(const std::vector<std::string>& args);

// A fresh empty directory for one test.
std::filesystem::path scratch(const std::string& name);
std::vector<std::string> entries(const std::filesystem::path& dir);
std::string slurp(const std::filesystem::path& p);
void write_text(const std::filesystem::path& p, const std::string& text);

// What a generated TIFF looks like; data holds the packed rows.
struct TiffLayout {
    uint32_t width = 9, height = 7;
    uint16_t spp = 1, bps = 8;
    uint16_t format = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t compression = COMPRESSION_NONE;
    uint32_t tile = 0;          // tile width and length, 0 for strips
    uint32_t rows_per_strip = 3;
    bool resolution = true;     // 300 x 150 per inch
    std::vector<uint8_t> data;  // row-major, rows of scanline size
};

// Fills data with a varied pattern in the given layout.
void fill_pattern(TiffLayout& layout);
void write_tiff(const std::filesystem::path& p, const TiffLayout& layout);

struct FloatImage {
    uint32_t width = 0, height = 0;
    uint16_t spp = 0, bps = 0, format = 0;
    float xres = 0, yres = 0;
    uint16_t res_unit = 0;
    std::vector<double> values;  // every sample, widened to double
};
FloatImage read_float_tiff(const std::filesystem::path& p);

}  // namespace tooltest
