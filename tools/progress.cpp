// Progress bar drawing: one carriage-return-updated line, redrawn only
// when its text changes, cleared before anything else is printed and when
// the job ends.
#include "progress.h"

#include <cstdio>
#include <unistd.h>

namespace tool {
namespace {
constexpr int kBarWidth = 40;
}  // namespace

Progress::Progress(bool worth_showing) : shown_(worth_showing && ::isatty(2) == 1) {}

Progress::~Progress() { clear(); }

void Progress::enable() { shown_ = shown_ || ::isatty(2) == 1; }

void Progress::update(const std::string& label, double fraction) {
    if (!shown_) return;
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    const int percent = static_cast<int>(fraction * 100.0);
    if (percent == percent_ && label == label_) return;
    percent_ = percent;
    label_ = label;
    const int filled = percent * kBarWidth / 100;
    std::fprintf(stderr, "\r%s [%-*s] %3d%%", label.c_str(), kBarWidth, std::string(static_cast<size_t>(filled), '#').c_str(),
                 percent);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarWidth + 8, "");
    std::fflush(stderr);
    drawn_ = false;
    percent_ = -1;
}

}  // namespace tool
