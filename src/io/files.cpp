// Reading saved calibrations whole and replacing them atomically, so that
// a failed or interrupted save never leaves a partial document behind.
#include "io/files.h"

#include "calmgr_io.h"
#include "io/io_error.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calmgr::io {
namespace {

constexpr long kMaxDocument = 64L << 20;  // far beyond any real calibration

[[noreturn]] void file_error(const std::string& what, int err) {
    fail(CALIO_ERR_FILE, what + ": " + std::strerror(err));
}

}  // namespace

std::string read_file(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) file_error("cannot open " + path, errno);
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
        if (static_cast<long>(text.size()) > kMaxDocument) {
            std::fclose(f);
            fail(CALIO_ERR_FILE, path + ": larger than 64 MiB, not a calibration");
        }
    }
    const int err = errno;
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) file_error("cannot read " + path, err);
    return text;
}

void write_file_atomically(const std::string& path, const std::string& text) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string tmp = path + ".tmpXXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) file_error("cannot write in " + dir, errno);
    // mkstemp creates 0600; give the file the usual mode under the umask.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    size_t done = 0;
    int err = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<size_t>(w);
    }
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && std::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        file_error("cannot write " + path, err);
    }
}

}  // namespace calmgr::io
