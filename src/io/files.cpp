// Reading saved calibrations whole and replacing them atomically, so that
// a failed or interrupted save never leaves a partial document behind.
#include "io/files.h"

#include "calmgr_io.h"
#include "io/io_error.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace calmgr::io {
namespace {

constexpr long kMaxDocument = 64L << 20;  // far beyond any real calibration

[[noreturn]] void file_error(const std::string& what, int err) {
    fail(CALIO_ERR_FILE, what + ": " + std::strerror(err));
}

// Creates a file beside path that did not exist before (O_EXCL: never an
// existing file or a link planted there), with mode 0666 so that the
// process's umask applies as to any new file, without the umask being
// read or changed (which would race with other threads). Returns the
// descriptor and the name, or -1 with errno set.
int create_temporary(const std::string& path, std::string& tmp) {
    static std::atomic<unsigned long> serial{0};
    const auto pid = static_cast<unsigned long>(::getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto ticks = static_cast<unsigned long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".tmp%lu.%lu.%lx", pid, serial++, ticks & 0xFFFFFu);
        tmp = path + suffix;
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || (errno != EEXIST && errno != EINTR)) return fd;
    }
    errno = EEXIST;
    return -1;
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
    std::string tmp;
    const int fd = create_temporary(path, tmp);
    if (fd < 0) file_error("cannot write in " + dir, errno);
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
