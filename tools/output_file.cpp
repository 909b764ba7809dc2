// Temporary-then-rename output. The temporary file is created with
// open(O_CREAT | O_EXCL, 0666), so the umask applies without the process
// changing it; a signal handler removes temporary files still pending when
// the user interrupts the tool.
#include "output_file.h"

#include "output_guard.h"
#include "tool_error.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <unistd.h>

namespace tool {
namespace {

// Temporary files still open, removed by the signal handler. Plain arrays:
// the handler may use nothing else.
constexpr int kMaxPending = 8;
char g_pending[kMaxPending][4096];

void on_signal(int sig) {
    for (auto& p : g_pending)
        if (p[0] != '\0') ::unlink(p);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Holds off the signals above while the list (or the file system) changes,
// so that the handler never sees a half-written entry or a file it does not
// know of yet.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kSignals) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t old_;
};

bool track(const std::string& path) {
    static bool installed = false;
    if (!installed) {
        struct sigaction sa {};
        sa.sa_handler = on_signal;
        sigemptyset(&sa.sa_mask);
        for (int sig : kSignals) sigaction(sig, &sa, nullptr);
        installed = true;
    }
    for (auto& p : g_pending)
        if (p[0] == '\0' && path.size() < sizeof p) {
            std::memcpy(p, path.c_str(), path.size() + 1);
            return true;
        }
    return false;
}

void untrack(const std::string& path) {
    for (auto& p : g_pending)
        if (path == p) p[0] = '\0';
}

std::string random_suffix() {
    static std::mt19937_64 gen{std::random_device{}() ^ static_cast<uint64_t>(::getpid())};
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(6, 'x');
    for (char& c : s) c = digits[gen() % (sizeof digits - 1)];
    return s;
}

std::string cannot_write(const std::string& target, int err) { return "cannot write " + target + ": " + std::strerror(err); }

}  // namespace

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
    SignalBlock block;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = target_ + ".part" + random_suffix();
        fd_ = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) fail(cannot_write(target_, errno));
    if (!track(temp_)) {
        ::close(fd_);
        ::unlink(temp_.c_str());
        fail("too many output files at once");
    }
}

OutputFile::~OutputFile() {
    SignalBlock block;
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
    untrack(temp_);
}

void OutputFile::write_all(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(cannot_write(target_, n < 0 ? errno : ENOSPC));
        done += static_cast<size_t>(n);
    }
}

void OutputFile::commit() {
    // A full disk may show only when the data reach it: sync and close are
    // checked before the target is replaced.
    if (::fsync(fd_) != 0 && errno != EINVAL) fail(cannot_write(target_, errno));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(cannot_write(target_, errno));
    SignalBlock block;
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) fail("cannot replace " + target_ + ": " + std::strerror(errno));
    committed_ = true;
}

void write_text_files(const std::vector<std::pair<std::string, std::string>>& files,
                      const std::vector<std::string>& inputs) {
    std::vector<std::string> targets, paths;
    for (const auto& f : files) {
        paths.push_back(f.first);
        targets.push_back(output_target(f.first, inputs));
    }
    check_distinct_outputs(targets, paths);
    std::vector<std::unique_ptr<OutputFile>> outs;
    for (size_t i = 0; i < files.size(); ++i) {
        outs.push_back(std::make_unique<OutputFile>(targets[i]));
        outs.back()->write_all(files[i].second);
    }
    for (auto& o : outs) o->commit();
}

}  // namespace tool
