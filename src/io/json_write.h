// A small JSON emitter for calibration documents. Numbers are written in
// the shortest form that reads back to the same double; fields of one
// object go one per line so that saved calibrations diff well.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace calmgr::io {

// The shortest decimal that round-trips, always with a '.' or exponent so
// that it reads back as a floating-point number ("-0.0", not "-0"). Only
// finite values.
std::string format_double(double v);

// A finite value as a number, otherwise "NaN", "Infinity" or "-Infinity" as
// a string; for fields that may hold any double.
std::string format_any_double(double v);

// A JSON string literal; the text must be valid UTF-8 (checked by the
// caller through is_valid_utf8).
std::string quote(std::string_view text);

bool is_valid_utf8(std::string_view text);

// The saved form of a field that must be finite; anything else fails with
// CALIO_ERR_VALUE ("field: not finite, cannot be saved").
std::string finite_number(double v, const std::string& field);

// The saved form of a name or unit; text that is not UTF-8 fails with
// CALIO_ERR_VALUE ("field: not valid UTF-8").
std::string text_value(std::string_view text, const char* field);

// Collects "key": value lines of one object and closes it.
class ObjectWriter {
public:
    void field(std::string_view key, const std::string& json_value);
    std::string finish() const;

private:
    std::string body_;
};

// "[a, b, c]" with a line break after every per_line values.
std::string json_array(const std::string* items, size_t count, size_t per_line);

}  // namespace calmgr::io
