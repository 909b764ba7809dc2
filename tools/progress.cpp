// Progress bar drawing: one carriage-return-updated line, redrawn only when
// the percentage changes, cleared when the job ends.
#include "progress.h"

#include <cstdio>
#include <unistd.h>

namespace tool {
namespace {
constexpr uint64_t kMinWork = uint64_t{4} << 20;  // below ~4 Mpixel the job is quick
constexpr int kBarWidth = 40;
}  // namespace

Progress::Progress(std::string label, uint64_t total, uint64_t work)
    : label_(std::move(label)), total_(total), shown_(work >= kMinWork && total > 0 && ::isatty(2) == 1) {}

Progress::~Progress() { finish(); }

void Progress::update(uint64_t done) {
    if (!shown_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    const int filled = percent * kBarWidth / 100;
    std::fprintf(stderr, "\r%s [%-*s] %3d%%", label_.c_str(), kBarWidth, std::string(static_cast<size_t>(filled), '#').c_str(), percent);
    std::fflush(stderr);
}

void Progress::finish() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarWidth + 8, "");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace tool
