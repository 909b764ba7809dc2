// Converting a whole TIFF image through a calibration: every page of the
// reader, row by row through RowConverter, into the writer. The tool runs
// this on files and the TIFF fuzz harness on bytes in memory.
#pragma once

#include "calmgr.h"
#include "row_convert.h"
#include "tiff_reader.h"
#include "tiff_writer.h"

#include <functional>
#include <string>
#include <vector>

namespace tool {

struct ConvertReport {
    std::vector<uint64_t> values;      // output samples written per page
    uint64_t colour_values = 0;        // colour samples looked up
    CalLookupStats stats{};            // of those, below / above / NaN
    std::vector<std::string> notes;    // things the user should know
};

// Called after each row with the pixels done and the pixels of all pages.
using RowProgress = std::function<void(uint64_t done, uint64_t total)>;

ConvertReport convert_tiff(TiffReader& reader, TiffWriter& writer, const IntensityCal* cal,
                           const ConvertOptions& options, const std::string& software,
                           const std::string& description, const RowProgress& progress = {});

}  // namespace tool
