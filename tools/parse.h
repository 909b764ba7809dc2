// Strict reading of what users type and hand in: numbers on the command
// line and in CSV files (the whole text must be a finite number), and the
// shortest decimal text of a double for what the tool prints.
#pragma once

#include "tool_error.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tool {

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
// The first column of a CSV file's rows (as read_csv); further columns are
// ignored and need not be numbers.
std::vector<double> read_csv_column(const std::string& path);

// The shortest decimal that reads back as the same double; a negative
// zero prints as 0.
std::string fmt(double v);

}  // namespace tool
