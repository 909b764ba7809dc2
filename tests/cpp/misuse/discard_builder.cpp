// expect: nodiscard
// A calibration built and dropped at once is destroyed unused.
#include "calmgr.hpp"

void use(const std::vector<CalPoint>& points) {
#ifdef CALMGR_MISUSE
    calmgr::IntensityCalibration::from_points(points, calmgr::Fit::Poly2);
#else
    auto cal = calmgr::IntensityCalibration::from_points(points, calmgr::Fit::Poly2);
    cal.set_name("kept");
#endif
}
