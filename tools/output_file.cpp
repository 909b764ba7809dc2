// Temporary-then-rename output, so that an error or interruption never
// leaves a half-written result under the name the user asked for.
#include "output_file.h"

#include "tool_common.h"

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

// Temporary files still open, removed by the signal handler when the user
// interrupts the tool. Plain arrays: the handler may use nothing else.
constexpr int kMaxPending = 8;
char g_pending[kMaxPending][4096];

void on_signal(int sig) {
    for (auto& p : g_pending)
        if (p[0] != '\0') ::unlink(p);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Holds off the signals above while the list (or the file system) changes,
// so that the handler never sees a half-written entry or a file it does not
// know of yet.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

void track(const std::string& path, bool add) {
    static bool installed = false;
    if (!installed) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, on_signal);
        installed = true;
    }
    for (auto& p : g_pending) {
        if (add && p[0] == '\0' && path.size() < sizeof p) {
            std::memcpy(p, path.c_str(), path.size() + 1);
            return;
        }
        if (!add && path == p) {
            p[0] = '\0';
            return;
        }
    }
}

}  // namespace

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
    if (target_.empty()) fail("empty output file name");
    const auto slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash == 0 ? 1 : slash);
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) fail("output directory " + dir + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) fail("output directory " + dir + ": not a directory");
    if (::stat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail(target_ + ": is a directory");
    temp_ = target_ + ".partXXXXXX";
    SignalBlock block;
    const int fd = ::mkstemp(temp_.data());
    if (fd < 0) fail("cannot write in " + dir + ": " + std::strerror(errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    track(temp_, true);
}

OutputFile::~OutputFile() {
    SignalBlock block;
    if (!committed_) ::unlink(temp_.c_str());
    track(temp_, false);
}

void OutputFile::commit() {
    SignalBlock block;
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) fail("cannot create " + target_ + ": " + std::strerror(errno));
    committed_ = true;
}

}  // namespace tool
