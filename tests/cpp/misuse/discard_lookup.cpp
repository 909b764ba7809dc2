// expect: nodiscard
// A returning lookup whose result is dropped did nothing.
#include "calmgr.hpp"

double use(const calmgr::IntensityView& cal, const std::vector<float>& in) {
#ifdef CALMGR_MISUSE
    cal.lookup(in);
    return 0.0;
#else
    return cal.lookup(in).at(0);
#endif
}
