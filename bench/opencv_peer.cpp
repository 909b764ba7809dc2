// cv::LUT wrapped around the benchmark's own buffers: Mat headers over the
// samples, the table and the output, so OpenCV neither copies nor
// allocates inside the timed loop.
#include "opencv_peer.h"

#include <opencv2/core.hpp>

namespace bench {

CvLut::CvLut(const double* table, bool float_out, int channels, int threads)
    : float_out_(float_out), channels_(channels) {
    for (int i = 0; i < 256; ++i) {
        table_[i] = table[i];
        table_f_[i] = static_cast<float>(table[i]);
    }
    cv::setNumThreads(threads);
}

void CvLut::run(const uint8_t* in, size_t n, void* out) const {
    const int cols = static_cast<int>(n / static_cast<size_t>(channels_));
    const cv::Mat src(1, cols, CV_MAKETYPE(CV_8U, channels_), const_cast<uint8_t*>(in));
    const cv::Mat lut(1, 256, float_out_ ? CV_32F : CV_64F,
                      float_out_ ? static_cast<void*>(const_cast<float*>(table_f_))
                                 : static_cast<void*>(const_cast<double*>(table_)));
    cv::Mat dst(1, cols, CV_MAKETYPE(float_out_ ? CV_32F : CV_64F, channels_), out);
    cv::LUT(src, lut, dst);
}

}  // namespace bench
