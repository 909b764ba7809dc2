// A progress bar on standard error, drawn only when standard error is a
// terminal and the job is worth watching (a batch of files, or an image
// large enough to take a while).
#pragma once

#include <cstdint>
#include <string>

namespace tool {

class Progress {
public:
    // Pixels of work below which a single image is quick enough to go
    // without a bar.
    static constexpr uint64_t kMinWork = uint64_t{4} << 20;

    explicit Progress(bool worth_showing = false);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    bool shown() const { return shown_; }
    // Shows the bar from now on (on a terminal) once the job turns out to
    // be worth watching.
    void enable();
    // Draws "label [#####     ]  45%" when the label or the whole
    // percentage changed; fraction in 0..1.
    void update(const std::string& label, double fraction);
    // Clears the bar's line so that what follows starts on a clean line.
    void clear();

private:
    bool shown_;
    bool drawn_ = false;
    std::string label_;
    int percent_ = -1;
};

}  // namespace tool
