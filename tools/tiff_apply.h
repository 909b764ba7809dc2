// Applying a calibration to one TIFF file: the input read and checked,
// the output written to a temporary file beside the target and renamed
// over it only when every page is complete.
#pragma once

#include "calmgr.h"
#include "tiff_convert.h"

#include <string>
#include <vector>

namespace tool {

struct ApplySettings {
    ConvertOptions convert;
    OutputFormat format;
    std::string software;     // the output's Software tag
    std::string description;  // ImageDescription where the input has none
};

struct ApplyResult {
    std::vector<PageLayout> pages;
    ConvertReport report;
};

// Converts `input` into `target` (a path checked by output_target);
// `output` is the name the user gave, for messages. Notes (harmless
// libtiff warnings, tiles that could not be kept) come back in the report.
ApplyResult apply_file(const IntensityCal* cal, const std::string& input, const std::string& target,
                       const std::string& output, const ApplySettings& settings, const RowProgress& progress);

}  // namespace tool
