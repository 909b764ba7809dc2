// The layout of one page (TIFF directory) as the tool converts it: which
// samples are colour (looked up through the calibration) and which are
// extra (alpha and the like, carried over), how rows are stored, and a
// refusal naming the actual format for anything the lookup cannot take.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct PageLayout {
    uint32_t width = 0, height = 0;
    uint16_t samples = 1;        // per pixel, colour and extra
    uint16_t colour = 1;         // 1 grey, 3 RGB
    uint16_t bits = 1;           // per sample
    bool is_float = false;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t compression = COMPRESSION_NONE;
    std::vector<uint16_t> extras;  // the ExtraSamples meaning of each extra sample
    bool jpeg_rgb = false;       // YCbCr JPEG, decoded to RGB by libtiff
    bool tiled = false;
    uint32_t tile_width = 0, tile_height = 0;
    size_t row_bytes = 0;        // one decoded row

    // The ICAL_SAMPLE_* code of a contiguous run of colour samples.
    uint32_t colour_type() const;
    // "8-bit grey", "16-bit RGB + alpha", "bilevel (min-is-white)", ...
    std::string describe() const;
    uint64_t pixels() const { return uint64_t{width} * height; }
};

// Rows and tiles larger than this are refused rather than allocated.
inline constexpr uint64_t kMaxRowBytes = uint64_t{1} << 30;

// Reads the layout of the current directory and prepares the handle to
// decode it (YCbCr JPEG is switched to RGB output). Raises ToolError with
// the reason alone ("signed 16-bit integer samples are not supported") for
// a page the tool cannot convert, or whose rows or tiles need buffers of
// more than max_buffer bytes.
PageLayout prepare_page(TIFF* tif, uint64_t max_buffer = kMaxRowBytes);

// The TIFF format of the current directory in words, whether or not the
// tool can convert it: "16-bit unsigned integer", "32-bit float", ...
std::string describe_sample_format(TIFF* tif);

// Names of TIFF codes for messages and `info`.
std::string compression_name(uint16_t compression);
std::string photometric_name(uint16_t photometric);
std::string extra_sample_name(uint16_t meaning);

}  // namespace tool
