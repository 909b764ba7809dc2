// Page iteration and row access over libtiff. libtiff's messages are
// collected while it works; after each directory, strip or tile read they
// are checked, so that damaged data fail at the row where they appear.
#include "tiff_reader.h"

#include "tiff_messages.h"
#include "tool_error.h"

#include <algorithm>
#include <cstring>

namespace tool {
namespace {

// Far beyond any real multi-page file; a bound for crafted ones.
constexpr size_t kMaxPages = 65535;

}  // namespace

TiffReader::TiffReader(TiffPtr tif, std::string name, uint64_t max_buffer)
    : tif_(std::move(tif)), name_(std::move(name)), max_buffer_(max_buffer) {
    TIFF* t = tif_.get();
    do {
        current_ = pages_.size();
        if (pages_.size() == kMaxPages) fail(name_ + ": more than " + std::to_string(kMaxPages) + " pages");
        check("");
        try {
            pages_.push_back(prepare_page(t, max_buffer_));
        } catch (const ToolError& e) {
            fail(where() + ": " + e.what());
        }
    } while (TIFFReadDirectory(t));
    current_ = pages_.size() - 1;
    check("");
    select(0);
}

std::string TiffReader::where() const {
    return pages_.size() > 1 || current_ > 0 ? name_ + ", page " + std::to_string(current_ + 1) : name_;
}

void TiffReader::check(const std::string& what) { tiffmsg::raise_if_damaged(what.empty() ? where() : where() + ": " + what); }

void TiffReader::select(size_t index) {
    current_ = index;
    next_ = 0;
    if (!TIFFSetDirectory(tif_.get(), static_cast<tdir_t>(index))) {
        check("");
        fail(where() + ": cannot read this page");
    }
    // Re-reading the directory resets decoder settings such as the JPEG
    // colour mode. The buffers below are sized from the layout checked
    // before, so the directory read now must have that layout.
    const PageLayout again = prepare_page(tif_.get(), max_buffer_);
    check("");
    const PageLayout& p = pages_[index];
    if (again.width != p.width || again.height != p.height || again.samples != p.samples || again.bits != p.bits ||
        again.row_bytes != p.row_bytes || again.tiled != p.tiled || again.tile_width != p.tile_width ||
        again.tile_height != p.tile_height || again.is_float != p.is_float || again.colour != p.colour)
        fail(where() + ": the page reads differently the second time (a damaged directory chain)");
    if (p.tiled) {
        tile_.assign(static_cast<size_t>(TIFFTileSize64(tif_.get())), 0);
        band_.assign(size_t{p.tile_height} * p.row_bytes, 0);
    } else {
        tile_.clear();
        band_.assign(p.row_bytes, 0);
    }
}

void TiffReader::read_tile_band(uint32_t first_row) {
    const PageLayout& p = pages_[current_];
    TIFF* t = tif_.get();
    const size_t tile_row = static_cast<size_t>(TIFFTileRowSize64(t));
    // Tile columns start on a byte: bilevel tiles are a multiple of 8 wide.
    const size_t tile_stride = size_t{p.tile_width} * p.bits * p.samples / 8;
    const uint32_t rows = std::min(p.tile_height, p.height - first_row);
    for (uint32_t x = 0, col = 0; x < p.width; x += p.tile_width, ++col) {
        {
            tiffmsg::Decoding decoding;
            if (TIFFReadTile(t, tile_.data(), x, first_row, 0, 0) < 0) {
                check("tile at (" + std::to_string(x) + ", " + std::to_string(first_row) + ")");
                fail(where() + ": cannot read the tile at (" + std::to_string(x) + ", " + std::to_string(first_row) + ")");
            }
        }
        check("tile at (" + std::to_string(x) + ", " + std::to_string(first_row) + ")");
        const size_t offset = col * tile_stride;
        const size_t n = std::min(tile_row, p.row_bytes - offset);
        for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(band_.data() + r * p.row_bytes + offset, tile_.data() + r * tile_row, n);
        if (p.width - x <= p.tile_width) break;
    }
}

const uint8_t* TiffReader::next_row() {
    const PageLayout& p = pages_[current_];
    if (next_ >= p.height) fail(where() + ": read past the last row");
    const uint32_t row = next_++;
    if (p.tiled) {
        if (row % p.tile_height == 0) read_tile_band(row);
        return band_.data() + size_t{row % p.tile_height} * p.row_bytes;
    }
    {
        tiffmsg::Decoding decoding;
        if (TIFFReadScanline(tif_.get(), band_.data(), row, 0) < 0) {
            check("row " + std::to_string(row));
            fail(where() + ": cannot read row " + std::to_string(row));
        }
    }
    check("row " + std::to_string(row));
    return band_.data();
}

}  // namespace tool
