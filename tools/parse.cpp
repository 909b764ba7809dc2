// Number parsing and CSV reading for the calmgr tool: every field is
// trimmed, must be a whole finite number, and errors name the field.
#include "parse.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <system_error>

namespace tool {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool try_double(std::string_view text, double& out) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), out);
    return res.ec == std::errc() && res.ptr == text.data() + text.size() && std::isfinite(out);
}

}  // namespace

std::vector<std::string> split(std::string_view text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t pos = text.find(sep, start);
        out.emplace_back(trim(text.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start)));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return out;
}

double parse_double(std::string_view text, const std::string& what) {
    double v;
    if (!try_double(text, v)) fail(what + ": '" + std::string(trim(text)) + "' is not a finite number");
    return v;
}

long long parse_int(std::string_view text, const std::string& what, long long lo, long long hi) {
    const std::string_view t = trim(text);
    long long v = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
        fail(what + ": '" + std::string(t) + "' is not an integer");
    if (v < lo || v > hi) fail(what + ": " + std::to_string(v) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

std::pair<double, double> parse_pair(std::string_view text, const std::string& what, char sep) {
    const auto parts = split(text, sep);
    if (parts.size() != 2) fail(what + ": expected A" + sep + "B, got '" + std::string(text) + "'");
    return {parse_double(parts[0], what), parse_double(parts[1], what)};
}

namespace {

// Calls row(fields, where) for each data line of a CSV file: blank lines,
// lines starting with '#' and a first line without any number (a header)
// are skipped; where is "file:line" for messages.
template <class Row>
void for_each_row(const std::string& path, Row&& row) {
    std::ifstream in(path);
    if (!in) fail("cannot open " + path + ": " + std::strerror(errno));
    std::string line;
    size_t line_no = 0;
    bool first = true;
    while (std::getline(in, line)) {
        ++line_no;
        const std::string_view t = trim(line);
        if (t.empty() || t.front() == '#') continue;
        // Semicolons or tabs separate fields as well as commas.
        const char sep = t.find(',') != std::string_view::npos ? ',' : t.find(';') != std::string_view::npos ? ';' : '\t';
        const auto fields = split(t, sep);
        bool any_number = false;
        for (const auto& f : fields) {
            double v;
            if (try_double(f, v)) any_number = true;
        }
        const bool header = first && !any_number;
        first = false;
        if (!header) row(fields, path + ":" + std::to_string(line_no));
    }
    if (in.bad()) fail("cannot read " + path + ": " + std::strerror(errno));
}

}  // namespace

std::vector<std::vector<double>> read_csv(const std::string& path, size_t columns) {
    std::vector<std::vector<double>> rows;
    for_each_row(path, [&](const std::vector<std::string>& fields, const std::string& where) {
        if (fields.size() != columns)
            fail(where + ": expected " + std::to_string(columns) + (columns == 1 ? " value" : " comma-separated values") +
                 ", found " + std::to_string(fields.size()));
        std::vector<double> row;
        for (const auto& f : fields) row.push_back(parse_double(f, where));
        rows.push_back(std::move(row));
    });
    return rows;
}

std::vector<double> read_csv_column(const std::string& path) {
    std::vector<double> values;
    for_each_row(path, [&](const std::vector<std::string>& fields, const std::string& where) {
        values.push_back(parse_double(fields.front(), where));
    });
    return values;
}

std::string fmt(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v + 0.0);  // + 0.0: -0 becomes 0
    return std::string(buf, res.ptr);
}

}  // namespace tool
