// The output image. Tiled pages are written a band of tile rows at a
// time: rows collect in a band buffer and are cut into tiles (padded with
// zeros past the image's edge) when the band is full.
#include "tiff_writer.h"

#include "tiff_messages.h"
#include "tiff_metadata.h"
#include "tool_error.h"

#include <algorithm>
#include <cstring>

namespace tool {
namespace {

uint16_t tiff_code(Compression c) {
    switch (c) {
        case Compression::None: return COMPRESSION_NONE;
        case Compression::Lzw: return COMPRESSION_LZW;
        case Compression::Deflate: return COMPRESSION_ADOBE_DEFLATE;
        case Compression::Zstd: return COMPRESSION_ZSTD;
    }
    return COMPRESSION_NONE;
}

// Classic TIFF addresses 4 GiB; leave room for directories and tables.
constexpr uint64_t kClassicLimit = uint64_t{4000} << 20;

}  // namespace

void check_compression_available(Compression c) {
    if (!TIFFIsCODECConfigured(tiff_code(c)))
        fail("--compress: the installed libtiff cannot write " +
             std::string(c == Compression::Zstd ? "zstd" : c == Compression::Lzw ? "LZW" : "deflate") + " data");
}

bool use_bigtiff(const OutputFormat& format, const std::vector<PageLayout>& pages) {
    if (format.bigtiff != BigTiff::Auto) return format.bigtiff == BigTiff::Yes;
    uint64_t bytes = 0;
    for (const auto& p : pages) {
        const uint64_t page = p.pixels() * p.samples * (format.double_output ? 8 : 4);
        if (page > kClassicLimit - bytes) return true;
        bytes += page;
    }
    return false;
}

TiffWriter::TiffWriter(TiffSink& sink, std::string name, bool bigtiff, const OutputFormat& format)
    : sink_(sink), tif_(open_tiff_writer(sink, name, bigtiff)), name_(std::move(name)), format_(format) {}

void TiffWriter::write_failed() {
    std::string why = sink_.error() != 0 ? std::strerror(sink_.error()) : tiffmsg::first_error();
    fail("cannot write " + name_ + (why.empty() ? "" : ": " + why));
}

std::string TiffWriter::begin_page(const PageLayout& p, TIFF* source, const std::string& software,
                                   const std::string& description) {
    TIFF* t = tif_.get();
    const uint16_t bits = format_.double_output ? 64 : 32;
    width_ = p.width;
    height_ = p.height;
    next_ = 0;
    row_bytes_ = size_t{p.width} * p.samples * (bits / 8);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.colour == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (!p.extras.empty())
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(p.extras.size()), p.extras.data());
    TIFFSetField(t, TIFFTAG_COMPRESSION, tiff_code(format_.compression));
    if (format_.compression != Compression::None) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);

    std::string note;
    tiled_ = p.tiled && p.tile_width % 16 == 0 && p.tile_height % 16 == 0;
    if (p.tiled && !tiled_)
        note = "tiles of " + std::to_string(p.tile_width) + " x " + std::to_string(p.tile_height) +
               " pixels cannot be written (TIFF tiles are multiples of 16); the output is in strips";
    if (tiled_) {
        tile_w_ = p.tile_width;
        tile_h_ = p.tile_height;
        TIFFSetField(t, TIFFTAG_TILEWIDTH, tile_w_);
        TIFFSetField(t, TIFFTAG_TILELENGTH, tile_h_);
        const uint64_t tile = TIFFTileSize64(t), band = uint64_t{tile_h_} * row_bytes_;
        if (tile == 0 || tile > kMaxRowBytes || band > kMaxRowBytes) fail(name_ + ": output tiles too large to write");
        tile_.assign(static_cast<size_t>(tile), 0);
        band_.assign(static_cast<size_t>(band), 0);
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        tile_.clear();
        band_.clear();
    }
    copy_page_metadata(source, t, software, description);
    if (!tiffmsg::first_error().empty()) write_failed();
    return note;
}

void TiffWriter::flush_tiles() {
    TIFF* t = tif_.get();
    const uint32_t first = (next_ - 1) / tile_h_ * tile_h_;
    const uint32_t rows = next_ - first;
    const size_t pixel = row_bytes_ / width_;
    const size_t tile_row = size_t{tile_w_} * pixel;
    for (uint32_t x = 0; x < width_; x += tile_w_) {
        const size_t n = std::min<size_t>(tile_w_, width_ - x) * pixel;
        std::fill(tile_.begin(), tile_.end(), 0);
        for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(tile_.data() + r * tile_row, band_.data() + r * row_bytes_ + size_t{x} * pixel, n);
        if (TIFFWriteTile(t, tile_.data(), x, first, 0, 0) < 0) write_failed();
        if (width_ - x <= tile_w_) break;
    }
}

void TiffWriter::write_row(const uint8_t* row) {
    if (next_ >= height_) fail(name_ + ": more rows than the page holds");
    if (!tiled_) {
        if (TIFFWriteScanline(tif_.get(), const_cast<uint8_t*>(row), next_++, 0) < 0) write_failed();
        return;
    }
    std::memcpy(band_.data() + size_t{next_ % tile_h_} * row_bytes_, row, row_bytes_);
    ++next_;
    if (next_ % tile_h_ == 0 || next_ == height_) flush_tiles();
}

void TiffWriter::end_page() {
    if (next_ != height_) fail(name_ + ": page ended after " + std::to_string(next_) + " of " + std::to_string(height_) + " rows");
    if (!TIFFWriteDirectory(tif_.get()) || sink_.error() != 0) write_failed();
}

void TiffWriter::finish() {
    if (!TIFFFlush(tif_.get()) || sink_.error() != 0) write_failed();
    tif_.reset();
    if (sink_.error() != 0) write_failed();
}

}  // namespace tool
