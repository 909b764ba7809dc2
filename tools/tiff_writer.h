// Writing the floating-point output image page by page: 32- or 64-bit
// float samples, colour then the extra samples with their meaning, tiles
// of the input's size where the input was tiled (strips otherwise),
// compressed as asked (deflate with the floating-point predictor by
// default). A failed write names its cause.
#pragma once

#include "tiff_handle.h"
#include "tiff_layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

enum class Compression { None, Lzw, Deflate, Zstd };
enum class BigTiff { Auto, Yes, No };

struct OutputFormat {
    Compression compression = Compression::Deflate;
    BigTiff bigtiff = BigTiff::Auto;
    bool double_output = false;
};

// Raises ToolError when the installed libtiff cannot write `c`.
void check_compression_available(Compression c);

// Whether the output of these pages is written as BigTIFF: as asked, or
// (auto) when the uncompressed samples alone could pass 4 GiB.
bool use_bigtiff(const OutputFormat& format, const std::vector<PageLayout>& pages);

class TiffWriter {
public:
    // name: the file named in messages.
    TiffWriter(TiffSink& sink, std::string name, bool bigtiff, const OutputFormat& format);
    TiffWriter(const TiffWriter&) = delete;
    TiffWriter& operator=(const TiffWriter&) = delete;

    TIFF* handle() const { return tif_.get(); }

    // Starts a page of the size and samples of `page`, with the metadata
    // of the current page of `source` (see copy_page_metadata). Returns a
    // note when its tiles cannot be kept (TIFF writes tiles whose sides
    // are multiples of 16), else "".
    std::string begin_page(const PageLayout& page, TIFF* source, const std::string& software,
                           const std::string& description);
    // Writes the next row: width × samples floats (or doubles).
    void write_row(const uint8_t* row);
    void end_page();
    // Flushes and closes the image; raises ToolError on any failure.
    void finish();

private:
    [[noreturn]] void write_failed();
    void flush_tiles();

    TiffSink& sink_;
    TiffPtr tif_;
    std::string name_;
    OutputFormat format_;
    uint32_t width_ = 0, height_ = 0, tile_w_ = 0, tile_h_ = 0, next_ = 0;
    size_t row_bytes_ = 0;
    bool tiled_ = false;
    std::vector<uint8_t> band_, tile_;
};

}  // namespace tool
