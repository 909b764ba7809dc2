// The one error type of the calmgr tool: a command-line failure reported
// as a single line "calmgr: <message>", with the exit status it carries.
#pragma once

#include <stdexcept>
#include <string>

namespace tool {

// Exit statuses: 1 a failure (bad input, unreadable or unwritable file),
// 2 a usage error, 3 a calibration refused for its findings (--strict) or
// a check that found something.
enum ExitStatus : int { kExitFailure = 1, kExitUsage = 2, kExitFindings = 3 };

struct ToolError : std::runtime_error {
    explicit ToolError(const std::string& message, int status = kExitFailure)
        : std::runtime_error(message), status(status) {}
    int status;
};

[[noreturn]] inline void fail(const std::string& message, int status = kExitFailure) {
    throw ToolError(message, status);
}

}  // namespace tool
