// One decoded TIFF row into calibrated floating-point samples: the colour
// samples through the calibration (optionally as max − value), each extra
// sample (alpha and the like) carried over scaled to 0..1. The tool and
// the TIFF fuzz harness both convert through this.
#pragma once

#include "calmgr.h"
#include "tiff_layout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tool {

struct ConvertOptions {
    bool double_output = false;  // 64-bit instead of 32-bit float samples
    bool invert = false;         // calibrate max − value (integer samples)
    uint32_t policy = 0;         // ICAL_POLICY_* bits
};

class RowConverter {
public:
    // Refuses (ToolError) a row too wide to convert in memory and --invert
    // on floating-point samples.
    RowConverter(const IntensityCal* cal, const PageLayout& page, const ConvertOptions& options);

    // Output samples per row (width × samples per pixel) and their bytes.
    size_t values_per_row() const { return values_; }
    size_t bytes_per_row() const { return values_ * out_bytes_; }

    // Converts one row of page.row_bytes decoded bytes into bytes_per_row()
    // bytes at out.
    void convert(const uint8_t* raw, void* out);

    // Colour samples converted so far, and of those how many lay below or
    // above the calibrated range or were NaN.
    uint64_t colour_values() const { return colour_values_; }
    const CalLookupStats& stats() const { return stats_; }

private:
    void lookup(const void* samples, void* out);

    const IntensityCal* cal_;
    PageLayout page_;
    ConvertOptions options_;
    size_t out_bytes_ = 4, values_ = 0;
    std::vector<uint8_t> colour_in_;   // gathered or inverted colour samples
    std::vector<uint8_t> colour_out_;  // their calibrated values, when extras follow
    uint64_t colour_values_ = 0;
    CalLookupStats stats_{};
};

}  // namespace tool
