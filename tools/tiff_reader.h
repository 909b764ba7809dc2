// Reading a TIFF image page by page: every page's layout is checked before
// any pixel is read (so a refusal comes before any output exists), then
// each page hands out its decoded rows in order, from strips or tiles
// alike. Errors and data-loss warnings from libtiff fail the read.
#pragma once

#include "tiff_handle.h"
#include "tiff_layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

class TiffReader {
public:
    // Takes the handle; name prefixes every message. Reads the layout of
    // every page and refuses (ToolError) a file with any page the tool
    // cannot convert, naming the page when there are several. No row or
    // band of tiles may need more than max_buffer bytes.
    TiffReader(TiffPtr tif, std::string name, uint64_t max_buffer = kMaxRowBytes);
    TiffReader(const TiffReader&) = delete;
    TiffReader& operator=(const TiffReader&) = delete;

    const std::vector<PageLayout>& pages() const { return pages_; }
    TIFF* handle() const { return tif_.get(); }
    const std::string& name() const { return name_; }

    // Makes page `index` current, ready to read from its first row.
    void select(size_t index);
    // The decoded samples of the next row of the current page.
    const uint8_t* next_row();

    // "in.tif" or "in.tif, page 3": the place named in messages.
    std::string where() const;

private:
    void read_tile_band(uint32_t first_row);
    void check(const std::string& what);

    TiffPtr tif_;
    std::string name_;
    uint64_t max_buffer_;
    std::vector<PageLayout> pages_;
    size_t current_ = 0;
    uint32_t next_ = 0;
    std::vector<uint8_t> band_;  // one row for strips, one band of tiles for tiles
    std::vector<uint8_t> tile_;
};

}  // namespace tool
