// Field readers for calibration documents: type, range and finiteness
// checks with messages that name the field.
#include "io/json_read.h"

#include "calmgr_io.h"
#include "io/io_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace calmgr::io {
namespace {

const char* kind(const Json& v) {
    if (v.is_number_float()) return "a fractional number";
    if (v.is_number()) return "an integer";
    return v.type_name();
}

[[noreturn]] void wrong(const std::string& field, const char* expected, const Json& v) {
    fail(CALIO_ERR_FORMAT, field + ": expected " + expected + ", found " + kind(v));
}

// The library's DOM builder, except that a number too large for a double
// is reported with its position, as syntax errors are: its own message
// for that case says only which number.
struct Builder : nlohmann::detail::json_sax_dom_parser<Json> {
    Builder(Json& root, const std::string& text) : json_sax_dom_parser(root), text(text) {}
    const std::string& text;
    template <class Exception>
    bool parse_error(std::size_t offset, const std::string& token, const Exception& e) {
        if constexpr (std::is_same_v<Exception, Json::out_of_range>) {
            // offset counts the characters read, the number's last included.
            const size_t end = std::min(offset, text.size());
            const size_t line_start = text.rfind('\n', end == 0 ? 0 : end - 1);
            const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + end, '\n'));
            const size_t column = end - (line_start == std::string::npos ? 0 : line_start + 1);
            fail(CALIO_ERR_FORMAT, "malformed JSON: number overflow parsing '" + token + "' at line " +
                                       std::to_string(line) + ", column " + std::to_string(column));
        }
        return json_sax_dom_parser::parse_error(offset, token, e);
    }
};

}  // namespace

Json parse_document(const std::string& text) {
    try {
        Json root;
        Builder builder(root, text);
        Json::sax_parse(text, &builder);
        return root;
    } catch (const Json::exception& e) {
        // Keep the library's explanation, drop its "[json.exception...]" tag.
        std::string what = e.what();
        const auto tag_end = what.find("] ");
        if (tag_end != std::string::npos) what.erase(0, tag_end + 2);
        fail(CALIO_ERR_FORMAT, "malformed JSON: " + what);
    }
}

void check_header(const Json& root, const char* format) {
    if (!root.is_object()) wrong("document", "an object", root);
    const Json& f = member(root, "format");
    if (!f.is_string()) wrong("format", "a string", f);
    if (f.get_ref<const std::string&>() != format)
        fail(CALIO_ERR_FORMAT, std::string("format: expected \"") + format + "\", found \"" +
                                   f.get_ref<const std::string&>() + "\"");
    const Json& ver = member(root, "version");
    if (!ver.is_number_integer()) wrong("version", "an integer", ver);
    const int64_t version = ver.get<int64_t>();
    if (version > CALIO_FORMAT_VERSION)
        fail(CALIO_ERR_VERSION, "version: the file has version " + std::to_string(version) +
                                    ", written by a later calmgr; this one reads up to version " +
                                    std::to_string(CALIO_FORMAT_VERSION));
    if (version < 1) fail(CALIO_ERR_FORMAT, "version: " + std::to_string(version) + " is not a version");
}

const Json& member(const Json& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end()) fail(CALIO_ERR_FORMAT, std::string(key) + ": missing");
    return *it;
}

int64_t read_int(const Json& v, const std::string& field, int64_t lo, int64_t hi) {
    int64_t n;
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) n = hi + 1;
        else n = static_cast<int64_t>(u);
    } else if (v.is_number_integer()) {
        n = v.get<int64_t>();
    } else {
        wrong(field, "an integer", v);
    }
    if (n < lo || n > hi)
        fail(CALIO_ERR_FORMAT, field + ": " + std::to_string(n) + " is outside " +
                                   std::to_string(lo) + ".." + std::to_string(hi));
    return n;
}

double read_finite(const Json& v, const std::string& field) {
    if (!v.is_number()) wrong(field, "a number", v);
    const double d = v.get<double>();
    if (!std::isfinite(d)) fail(CALIO_ERR_FORMAT, field + ": expected a finite number");
    return d;
}

double read_any_double(const Json& v, const std::string& field) {
    if (v.is_number()) {
        const double d = v.get<double>();
        // A literal too large for a double is an error, not an infinity.
        if (!std::isfinite(d)) fail(CALIO_ERR_FORMAT, field + ": number out of range");
        return d;
    }
    if (v.is_string()) {
        const auto& s = v.get_ref<const std::string&>();
        if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
        if (s == "Infinity") return std::numeric_limits<double>::infinity();
        if (s == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    wrong(field, "a number, \"NaN\", \"Infinity\" or \"-Infinity\"", v);
}

std::string read_name(const Json& v, const std::string& field) {
    if (!v.is_string()) wrong(field, "a string", v);
    const auto& s = v.get_ref<const std::string&>();
    if (s.size() > 127) fail(CALIO_ERR_FORMAT, field + ": longer than 127 bytes");
    if (s.find('\0') != std::string::npos) fail(CALIO_ERR_FORMAT, field + ": contains a zero byte");
    return s;
}

}  // namespace calmgr::io
