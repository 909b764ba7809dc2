// Where the tool's words go. Results go to standard output; with --json a
// command prints one JSON document there and its human-readable text goes
// to standard error instead. Warnings always go to standard error.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace tool {

// The stream for human-readable results.
inline std::FILE* human_out(bool json) { return json ? stderr : stdout; }

// "calmgr: warning: <text>" on standard error.
void warn(const std::string& text);

// The document, pretty-printed, on standard output.
void print_json(const nlohmann::json& doc);

// A double for JSON: non-finite values become null.
nlohmann::json json_number(double v);

}  // namespace tool
