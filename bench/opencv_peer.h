// OpenCV's LUT as a peer of the direct 8-bit routes, measured in the same
// binary on the same data. Built only where OpenCV's core library is
// present (Debian's libopencv-core-dev).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// cv::LUT over n 8-bit samples (channels interleaved values per pixel)
// through a 256-entry table of doubles, or of those doubles rounded to
// float with float_out, into out; on `threads` of OpenCV's worker threads.
class CvLut {
public:
    CvLut(const double* table, bool float_out, int channels, int threads);
    void run(const uint8_t* in, size_t n, void* out) const;

private:
    double table_[256];
    float table_f_[256];
    bool float_out_;
    int channels_;
};

}  // namespace bench
