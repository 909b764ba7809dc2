// Printing warnings and JSON documents.
#include "console.h"

#include <cmath>

namespace tool {

void warn(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "calmgr: warning: %s\n", line.c_str());
}

void print_json(const nlohmann::json& doc) {
    const std::string text = doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fprintf(stdout, "%s\n", text.c_str());
}

nlohmann::json json_number(double v) { return std::isfinite(v) ? nlohmann::json(v + 0.0) : nlohmann::json(nullptr); }

}  // namespace tool
