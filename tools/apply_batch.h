// Running `apply` over its files: one input and its output, or a batch of
// inputs whose outputs go into a directory or beside them under a suffix.
// A batch carries on past a failed file and fails at the end with a
// summary; every output is checked against every input first.
#pragma once

#include "cal_info.h"
#include "tiff_apply.h"

#include <string>
#include <vector>

namespace tool {

struct BatchOptions {
    ApplySettings settings;
    std::string out_dir, suffix;
    std::vector<std::string> calibration_files;  // files the calibration came from
};

// files: IN OUT, or (with out_dir or suffix) the inputs. Raises ToolError
// for a single file's failure, or with a summary when any file of a batch
// failed.
void run_batch(const IntensityCal* cal, const CalSnapshot& info, const std::vector<std::string>& files,
               const BatchOptions& options);

// The output name of `input` in a batch: in out_dir (or beside the
// input), the input's name with the suffix before its .tif/.tiff
// extension (".tif" added when it has none).
std::string batch_output_name(const std::string& input, const std::string& out_dir, const std::string& suffix);

}  // namespace tool
