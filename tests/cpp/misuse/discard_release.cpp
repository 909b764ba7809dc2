// expect: nodiscard
// Dropping the handle release() gives up leaks the calibration.
#include "calmgr.hpp"

void use(calmgr::IntensityCalibration& cal) {
#ifdef CALMGR_MISUSE
    cal.release();
#else
    ICalDestroy(cal.release());
#endif
}
