// expect: no matching
// A lookup policy is named, never a bare number.
#include "calmgr.hpp"

uint64_t use(const calmgr::IntensityView& cal, const std::vector<uint16_t>& in) {
    std::vector<double> out(in.size());
#ifdef CALMGR_MISUSE
    return cal.lookup(in, out, 1).above;
#else
    return cal.lookup(in, out, calmgr::Policy::OutsideNan).above;
#endif
}
