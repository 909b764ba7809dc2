// Shared pieces of the calmgr command-line tool: the error every command
// raises (printed by main as one line), owning handles for calibrations and
// strict parsing of numbers given on the command line or in CSV files.
#pragma once

#include "calmgr.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

// A failure reported to the user as "calmgr: <message>" with exit status 1.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fail(const std::string& message) { throw ToolError(message); }

struct IcalDeleter {
    void operator()(IntensityCal* c) const { ICalDestroy(c); }
};
struct ScalDeleter {
    void operator()(SpatialCal* c) const { SCalDestroy(c); }
};
using IcalPtr = std::unique_ptr<IntensityCal, IcalDeleter>;
using ScalPtr = std::unique_ptr<SpatialCal, ScalDeleter>;

// A whole string as a finite double ("12.5", "-3e2"); `what` names the
// argument in the error.
double parse_double(std::string_view text, const std::string& what);
// A whole string as an integer in [lo, hi].
long long parse_int(std::string_view text, const std::string& what, long long lo, long long hi);
// "A:B" as two finite doubles.
std::pair<double, double> parse_pair(std::string_view text, const std::string& what, char sep = ':');
// Splits on sep, keeping empty fields; trims spaces and tabs of each field.
std::vector<std::string> split(std::string_view text, char sep);

// Numeric rows of a CSV file with `columns` columns. Blank lines and lines
// starting with '#' are skipped; the first remaining line may be a header
// when none of its fields is a number. Errors name the file and line.
std::vector<std::vector<double>> read_csv(const std::string& path, size_t columns);

// Writes files all at once: every text goes to a temporary file beside its
// path, and the files replace their paths only when all are complete, so a
// failure (a missing directory, a full disk) leaves none of them behind.
void write_text_files(const std::vector<std::pair<std::string, std::string>>& files);

// The shortest decimal that reads back as the same double.
std::string fmt(double v);

}  // namespace tool
