// expect: 'int' to 'calmgr::Options'|'calmgr::Options' with an rvalue of type 'int'
// Option bits are named, never bare numbers.
#include "calmgr.hpp"

void use(calmgr::IntensityCalibration& cal) {
#ifdef CALMGR_MISUSE
    cal.set_options(3);
#else
    cal.set_options(calmgr::Options::Monotonic | calmgr::Options::ClampNegative);
#endif
}
