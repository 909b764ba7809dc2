// JSON text for calibration documents: lossless numbers, escaped strings
// and a layout with one field per line.
#include "io/json_write.h"

#include "calmgr_io.h"
#include "io/io_error.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace calmgr::io {

std::string format_double(double v) {
    char buf[64];
    // to_chars without a precision gives the shortest round-trip form.
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

std::string format_any_double(double v) {
    if (std::isnan(v)) return "\"NaN\"";
    if (std::isinf(v)) return v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    return format_double(v);
}

bool is_valid_utf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t len;
        uint32_t cp;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > text.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += len;
    }
    return true;
}

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string finite_number(double v, const std::string& field) {
    if (!std::isfinite(v)) fail(CALIO_ERR_VALUE, field + ": not finite, cannot be saved");
    return format_double(v);
}

std::string text_value(std::string_view text, const char* field) {
    if (!is_valid_utf8(text)) fail(CALIO_ERR_VALUE, std::string(field) + ": not valid UTF-8");
    return quote(text);
}

void ObjectWriter::field(std::string_view key, const std::string& json_value) {
    if (!body_.empty()) body_ += ",\n";
    body_ += "  ";
    body_ += quote(key);
    body_ += ": ";
    body_ += json_value;
}

std::string ObjectWriter::finish() const { return "{\n" + body_ + "\n}\n"; }

std::string json_array(const std::string* items, size_t count, size_t per_line) {
    std::string out = "[";
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) out += (i % per_line == 0) ? ",\n    " : ", ";
        out += items[i];
    }
    return out + "]";
}

}  // namespace calmgr::io
