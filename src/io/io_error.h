// The error that every saving and loading routine raises: a status code of
// calmgr_io.h and a one-line message. The C entry points catch it (and any
// other exception) so that nothing escapes into C callers.
#pragma once

#include <cstdint>
#include <string>

namespace calmgr::io {

struct IoError {
    int32_t status;
    std::string message;
};

[[noreturn]] inline void fail(int32_t status, std::string message) {
    throw IoError{status, std::move(message)};
}

}  // namespace calmgr::io
