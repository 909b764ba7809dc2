// TIFF input: layout checks with clear refusals for what the lookup cannot
// take (signed, palette, packed 12-bit, alpha, separate planes, ...), and
// sequential row access over strips or tiles.
#include "tiff_input.h"

#include "calmgr.h"
#include "tool_common.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tool {
namespace {

std::string g_last_error;

void on_error(const char*, const char* fmt, va_list ap) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    g_last_error = buf;
}

void on_warning(const char*, const char*, va_list) {}

constexpr size_t kMaxRowBytes = size_t{1} << 30;

}  // namespace

void quiet_libtiff() {
    TIFFSetErrorHandler(on_error);
    TIFFSetWarningHandler(on_warning);
}

std::string last_tiff_error() { return g_last_error; }

TiffInput::TiffInput(const std::string& path) : path_(path) {
    g_last_error.clear();
    handle_.reset(TIFFOpen(path.c_str(), "r"));
    tif_ = handle_.get();
    if (tif_ == nullptr) {
        const std::string why = last_tiff_error();
        fail(path + ": cannot read as TIFF" + (why.empty() ? "" : ": " + why));
    }
    uint16_t format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width_);
    TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height_);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp_);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bps_);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = PHOTOMETRIC_MINISBLACK;
    auto refuse = [&](const std::string& why) { fail(path + ": " + why + " are not supported"); };

    if (width_ == 0 || height_ == 0) fail(path + ": the image is empty");
    if (photometric == PHOTOMETRIC_PALETTE) refuse("palette-colour images");
    if (format == SAMPLEFORMAT_INT) refuse("signed integer samples");
    if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP) refuse("complex samples");
    const bool is_float = format == SAMPLEFORMAT_IEEEFP;
    if (spp_ != 1 && spp_ != 3)
        refuse("images with " + std::to_string(spp_) + " samples per pixel (alpha or extra channels)");
    if (spp_ == 3 && photometric != PHOTOMETRIC_RGB) refuse("3-sample images other than RGB (photometric " + std::to_string(photometric) + ")");
    if (spp_ == 1 && photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE)
        refuse("single-sample images of photometric interpretation " + std::to_string(photometric));
    if (spp_ == 3 && planar != PLANARCONFIG_CONTIG) refuse("separate colour planes");
    if (is_float && bps_ == 32 && spp_ == 1) sample_type_ = ICAL_SAMPLE_F32;
    else if (is_float && bps_ == 64 && spp_ == 1) sample_type_ = ICAL_SAMPLE_F64;
    else if (is_float) refuse(std::to_string(bps_) + "-bit floating-point samples" + (spp_ == 3 ? " in RGB" : ""));
    else if (bps_ == 1 && spp_ == 1) sample_type_ = ICAL_SAMPLE_BITS;
    else if (bps_ == 8) sample_type_ = spp_ == 3 ? ICAL_SAMPLE_U8_RGB : ICAL_SAMPLE_U8;
    else if (bps_ == 16) sample_type_ = spp_ == 3 ? ICAL_SAMPLE_U16_RGB : ICAL_SAMPLE_U16;
    else refuse(std::to_string(bps_) + "-bit" + (spp_ == 3 ? " RGB" : "") + " integer samples");

    const uint64_t row_bytes = TIFFScanlineSize64(tif_);
    if (row_bytes == 0 || row_bytes > kMaxRowBytes) fail(path + ": rows of " + std::to_string(row_bytes) + " bytes are not supported");
    row_bytes_ = static_cast<size_t>(row_bytes);
    tiled_ = TIFFIsTiled(tif_) != 0;
    if (tiled_) {
        TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tile_w_);
        TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tile_h_);
        const uint64_t tile_bytes = TIFFTileSize64(tif_);
        if (tile_w_ == 0 || tile_h_ == 0 || tile_bytes == 0 || tile_bytes > kMaxRowBytes ||
            static_cast<uint64_t>(tile_h_) * row_bytes_ > kMaxRowBytes)
            fail(path + ": tiles of this size are not supported");
        tile_.resize(static_cast<size_t>(tile_bytes));
        band_.resize(static_cast<size_t>(tile_h_) * row_bytes_);
    } else {
        band_.resize(row_bytes_);
    }
}

std::string TiffInput::describe() const {
    if (sample_type_ == ICAL_SAMPLE_BITS) return "bilevel";
    if (sample_type_ == ICAL_SAMPLE_F32 || sample_type_ == ICAL_SAMPLE_F64) return std::to_string(bps_) + "-bit float";
    return (spp_ == 3 ? "RGB " : "") + std::to_string(bps_) + "-bit";
}

void TiffInput::copy_resolution(TIFF* out) const {
    float xres, yres;
    uint16_t unit;
    if (TIFFGetField(tif_, TIFFTAG_XRESOLUTION, &xres)) TIFFSetField(out, TIFFTAG_XRESOLUTION, xres);
    if (TIFFGetField(tif_, TIFFTAG_YRESOLUTION, &yres)) TIFFSetField(out, TIFFTAG_YRESOLUTION, yres);
    if (TIFFGetField(tif_, TIFFTAG_RESOLUTIONUNIT, &unit)) TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, unit);
}

void TiffInput::read_tile_band(uint32_t first_row) {
    const size_t tile_row_bytes = static_cast<size_t>(TIFFTileRowSize64(tif_));
    // Tile widths are multiples of 16, so every tile starts on a byte.
    const size_t tile_stride = static_cast<size_t>(tile_w_) * bps_ * spp_ / 8;
    for (uint32_t x = 0, col = 0; x < width_; x += tile_w_, ++col) {
        g_last_error.clear();
        if (TIFFReadTile(tif_, tile_.data(), x, first_row, 0, 0) < 0)
            fail(path_ + ": cannot read the tile at (" + std::to_string(x) + ", " + std::to_string(first_row) + "): " + last_tiff_error());
        const size_t offset = col * tile_stride;
        const size_t n = std::min(tile_row_bytes, row_bytes_ - offset);
        for (uint32_t r = 0; r < tile_h_ && first_row + r < height_; ++r)
            std::memcpy(band_.data() + r * row_bytes_ + offset, tile_.data() + r * tile_row_bytes, n);
    }
}

const uint8_t* TiffInput::next_row() {
    const uint32_t row = next_++;
    if (tiled_) {
        if (row % tile_h_ == 0) read_tile_band(row);
        return band_.data() + static_cast<size_t>(row % tile_h_) * row_bytes_;
    }
    g_last_error.clear();
    if (TIFFReadScanline(tif_, band_.data(), row, 0) < 0)
        fail(path_ + ": cannot read row " + std::to_string(row) + ": " + last_tiff_error());
    return band_.data();
}

}  // namespace tool
