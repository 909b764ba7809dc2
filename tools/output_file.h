// An output file that appears only when complete: writers fill a
// temporary file in the target's directory, commit() renames it over the
// target, and destruction without commit removes it.
#pragma once

#include <string>

namespace tool {

class OutputFile {
public:
    // Creates the temporary file; fails with a clear message when the
    // target's directory does not exist or cannot be written.
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& temp_path() const { return temp_; }
    const std::string& target() const { return target_; }
    void commit();

private:
    std::string target_;
    std::string temp_;
    bool committed_ = false;
};

}  // namespace tool
