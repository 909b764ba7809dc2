// An output file that appears only when complete: writers fill a temporary
// file in the target's directory, commit() renames it over the target, and
// destruction without commit (an error, an exception, SIGINT or SIGTERM)
// removes it, so the target is either untouched or wholly replaced.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tool {

class OutputFile {
public:
    // target: a path checked by output_target(). Creates the temporary
    // file with the permissions a new file gets under the process's umask.
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    const std::string& temp_path() const { return temp_; }
    const std::string& target() const { return target_; }
    // Writes all of data at the current position; raises ToolError naming
    // the cause ("No space left on device") on failure.
    void write_all(const std::string& data);
    // Flushes the file to disk, closes it and renames it over the target.
    void commit();

private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes texts to files all at once: each path is checked (output_target,
// against `inputs` and each other), every text goes to a temporary file,
// and the files replace their paths only when all are complete.
void write_text_files(const std::vector<std::pair<std::string, std::string>>& files,
                      const std::vector<std::string>& inputs);

}  // namespace tool
