// A progress bar on standard error, drawn only when standard error is a
// terminal and the job is large enough to be worth watching.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

class Progress {
public:
    // total: the count that means done; work: a size measure (pixels)
    // that decides whether the bar is shown at all.
    Progress(std::string label, uint64_t total, uint64_t work);
    ~Progress();
    void update(uint64_t done);
    void finish();

private:
    std::string label_;
    uint64_t total_;
    bool shown_;
    int last_percent_ = -1;
};

}  // namespace tool
