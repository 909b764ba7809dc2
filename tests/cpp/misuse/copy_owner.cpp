// expect: deleted
// Two owners of one calibration would destroy it twice.
#include "calmgr.hpp"

void use(calmgr::IntensityCalibration& a) {
#ifdef CALMGR_MISUSE
    calmgr::IntensityCalibration b = a;
#else
    calmgr::IntensityCalibration b = std::move(a);
#endif
    b.set_name("moved");
}
