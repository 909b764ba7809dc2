// The checks that stand between a command and the loss of a file: an
// output that is one of the inputs (by device and inode, so also through
// links), an output that exists but is not a regular file (a device, a
// FIFO, a socket, a directory), a read-only target, two outputs naming one
// file, and '-' where a file is needed. Each refusal is one line, raised
// before anything is written.
#pragma once

#include <string>
#include <vector>

namespace tool {

// Refuses '-' as an input file (standard input cannot be read as TIFF or
// re-read as CSV).
void check_input_path(const std::string& path);

// The file a write to `path` replaces: `path` itself, or the file a
// symbolic link at `path` points to (the link is kept). Refuses, naming
// the cause: '-', an empty name, a missing or unusable directory, an
// existing target that is not a regular file or is read-only, a dangling
// link, and a target that is the same file as any of `inputs`.
std::string output_target(const std::string& path, const std::vector<std::string>& inputs);

// Refuses when two of `targets` (as given by output_target) name one file.
// `paths` are the names the user gave, in the same order, for the message.
void check_distinct_outputs(const std::vector<std::string>& targets, const std::vector<std::string>& paths);

}  // namespace tool
