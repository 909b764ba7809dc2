// expect: const IntensityCal ?\*
// A registry view's handle belongs to someone else: adopting it would
// destroy the calibration twice.
#include "calmgr.hpp"

void use() {
    const std::vector<calmgr::IntensityView> all = calmgr::intensity_registry();
#ifdef CALMGR_MISUSE
    auto owned = calmgr::IntensityCalibration::adopt_owned(all.front().get());
#else
    auto owned = calmgr::IntensityCalibration::adopt_owned(ICalCreate());
    (void)all;
#endif
    owned.set_name("adopted");
}
