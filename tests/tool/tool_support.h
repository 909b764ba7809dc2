// Support for the command-line tool tests: running the tool with its
// output captured, and TIFF files written and read with libtiff (every
// image a test uses is made in the test).
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

// Runs the calmgr tool with the given arguments (each shell-quoted), after
// `prefix` (shell commands such as "umask 027;") when given.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& prefix = "");

// A fresh empty directory for one test.
std::filesystem::path scratch(const std::string& name);
std::vector<std::string> entries(const std::filesystem::path& dir);
std::string slurp(const std::filesystem::path& p);
void write_text(const std::filesystem::path& p, const std::string& text);
// Lines of a text.
std::vector<std::string> lines(const std::string& text);

// The tags a page may carry, written when set and read back.
struct PageTags {
    std::string description, datetime, artist, copyright, page_name, software;
    uint16_t orientation = 0;                   // 0: none
    std::vector<double> pixel_scale, tiepoints, transformation, geo_doubles;
    std::vector<uint16_t> geo_keys;
    std::string geo_ascii;
    uint16_t private_tag = 0;                   // an unknown tag with a short value, 0: none
};

// What a generated TIFF page looks like; data holds the packed rows.
struct TiffLayout {
    uint32_t width = 9, height = 7;
    uint16_t spp = 1, bps = 8;
    uint16_t format = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t compression = COMPRESSION_NONE;
    std::vector<uint16_t> extras;  // ExtraSamples, written when not empty
    uint32_t tile = 0;             // tile width and length, 0 for strips
    uint32_t rows_per_strip = 3;
    bool resolution = true;        // 300 x 150 per inch
    PageTags tags;
    std::vector<uint8_t> data;     // row-major, rows of scanline size
};

// Fills data with a varied pattern in the given layout.
void fill_pattern(TiffLayout& layout);
void write_tiff(const std::filesystem::path& p, const TiffLayout& layout);
// A multi-page file, one page per layout.
void write_tiff_pages(const std::filesystem::path& p, const std::vector<TiffLayout>& pages);

struct FloatImage {
    uint32_t width = 0, height = 0;
    uint16_t spp = 0, bps = 0, format = 0, photometric = 0, compression = 0, predictor = 0;
    uint32_t tile_width = 0, tile_height = 0;
    std::vector<uint16_t> extras;
    float xres = 0, yres = 0;
    uint16_t res_unit = 0;
    PageTags tags;
    std::vector<double> values;  // every sample, widened to double
};
// Page `page` of a float TIFF written by the tool.
FloatImage read_float_tiff(const std::filesystem::path& p, int page = 0);
int count_pages(const std::filesystem::path& p);

// Registers the GeoTIFF tags with libtiff in this process.
void register_geo_tags();

}  // namespace tooltest
