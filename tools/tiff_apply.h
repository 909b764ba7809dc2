// Converting a TIFF image through an intensity calibration into a
// floating-point TIFF of the same size and resolution.
#pragma once

#include "calmgr.h"

#include <string>

namespace tool {

struct ApplyResult {
    uint32_t width, height, samples;
    std::string input_kind;
};

// Reads input row by row, converts each row with ICalLookupEx and writes
// 32-bit (or, with double_output, 64-bit) float samples to output. The
// output appears only when complete.
ApplyResult apply_to_tiff(const IntensityCal* cal, const std::string& input, const std::string& output,
                          bool double_output);

}  // namespace tool
