// Output-path checks: the file behind each path is identified by device
// and inode, so a hard link, a symbolic link or another spelling of an
// input is still the input.
#include "output_guard.h"

#include "file_kind.h"
#include "tool_error.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

std::string errno_text(int err) { return std::strerror(err); }

std::string real_path(const std::string& path) {
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr) return {};
    return buf;
}

std::string dir_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

void check_input_path(const std::string& path) {
    if (path == "-")
        fail("input '-': reading standard input is not supported (a TIFF image needs a seekable file); give a file name");
}

std::string output_target(const std::string& path, const std::vector<std::string>& inputs) {
    if (path.empty()) fail("empty output file name");
    if (path == "-")
        fail("output '-': writing to standard output is not supported (a TIFF image needs a seekable file); give a file name");
    if (path.back() == '/') fail(path + ": names a directory, not a file");

    struct stat link {};
    std::string target = path;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        target = real_path(path);
        if (target.empty()) fail(path + ": a symbolic link to a missing file (" + errno_text(errno) + "); not followed");
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) fail(path + " is " + file_kind(st.st_mode) + ", not a regular file; not overwritten");
        for (const auto& in : inputs) {
            struct stat is {};
            if (::stat(in.c_str(), &is) == 0 && same_file(st, is))
                fail(path + " is the input file " + in + " (the same file); not overwritten");
        }
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
            fail(path + " is read-only; not overwritten");
    } else if (errno != ENOENT) {
        fail(path + ": " + errno_text(errno));
    }

    const std::string dir = dir_of(target);
    struct stat ds {};
    if (::stat(dir.c_str(), &ds) != 0) fail("output directory " + dir + ": " + errno_text(errno));
    if (!S_ISDIR(ds.st_mode)) fail("output directory " + dir + ": Not a directory");
    if (::access(dir.c_str(), W_OK | X_OK) != 0) fail("output directory " + dir + ": " + errno_text(errno));
    const std::string real_dir = real_path(dir);
    return (real_dir.empty() ? dir : real_dir == "/" ? std::string() : real_dir) + "/" + base_of(target);
}

void check_distinct_outputs(const std::vector<std::string>& targets, const std::vector<std::string>& paths) {
    for (size_t i = 0; i < targets.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (targets[i] == targets[j])
                fail(paths[j] == paths[i] ? "two outputs are both " + paths[i] + "; give each its own file"
                                          : paths[j] + " and " + paths[i] + " are the same file; give each output its own file");
}

}  // namespace tool
