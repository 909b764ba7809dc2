// Checked reading of the fields of a calibration document. Every reader
// names the field it rejects ("points[2][1]: expected a finite number") so
// that a hand-edited file can be repaired from the message alone.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace calmgr::io {

using Json = nlohmann::json;

// Parses text as one JSON document; malformed or truncated text fails with
// CALIO_ERR_FORMAT and the position.
Json parse_document(const std::string& text);

// Checks the "format" and "version" members of the root object.
void check_header(const Json& root, const char* format);

// The member `key` of an object; missing fails.
const Json& member(const Json& obj, const char* key);

int64_t read_int(const Json& v, const std::string& field, int64_t lo, int64_t hi);
double read_finite(const Json& v, const std::string& field);
// Any double: a number, or "NaN", "Infinity", "-Infinity".
double read_any_double(const Json& v, const std::string& field);
// A name or unit string of at most 127 bytes without zero bytes.
std::string read_name(const Json& v, const std::string& field);

}  // namespace calmgr::io
