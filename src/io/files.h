// Whole-file reading and all-or-nothing file writing for saved
// calibrations.
#pragma once

#include <string>

namespace calmgr::io {

// The file's bytes; failures raise IoError(CALIO_ERR_FILE).
std::string read_file(const std::string& path);

// Writes text to a temporary file in path's directory, flushes it to disk
// and renames it over path; on any failure the temporary file is removed
// and nothing appears at path.
void write_file_atomically(const std::string& path, const std::string& text);

}  // namespace calmgr::io
