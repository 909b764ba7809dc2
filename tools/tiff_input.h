// Reading TIFF images for calibration: checks that the first image of the
// file has a layout the lookup understands and hands out its rows in
// order, from strips or tiles alike.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tool {

// Installs libtiff handlers that keep the last error message (for our own
// one-line reports) and silence warnings.
void quiet_libtiff();
// The last message libtiff reported, or "" when none.
std::string last_tiff_error();

class TiffInput {
public:
    explicit TiffInput(const std::string& path);
    TiffInput(const TiffInput&) = delete;
    TiffInput& operator=(const TiffInput&) = delete;

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint16_t samples_per_pixel() const { return spp_; }
    // The ICAL_SAMPLE_* code of a row.
    uint32_t sample_type() const { return sample_type_; }
    std::string describe() const;  // "16-bit grey", "RGB 8-bit", ...

    // Copies the resolution tags (if any) to out.
    void copy_resolution(TIFF* out) const;

    // The raw samples of the next row, rows 0, 1, ... in turn.
    const uint8_t* next_row();

private:
    void read_tile_band(uint32_t first_row);

    struct Closer {
        void operator()(TIFF* t) const { TIFFClose(t); }
    };
    std::string path_;
    std::unique_ptr<TIFF, Closer> handle_;  // closed also when the constructor throws
    TIFF* tif_ = nullptr;
    uint32_t width_ = 0, height_ = 0;
    uint16_t spp_ = 1, bps_ = 1;
    uint32_t sample_type_ = 0;
    bool tiled_ = false;
    uint32_t tile_w_ = 0, tile_h_ = 0;
    uint32_t next_ = 0;
    size_t row_bytes_ = 0;
    std::vector<uint8_t> band_;  // one row for strips, one tile row band for tiles
    std::vector<uint8_t> tile_;
};

}  // namespace tool
