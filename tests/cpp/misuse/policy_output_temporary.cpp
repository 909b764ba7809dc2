// expect: deleted
// Policy lookup results written into a temporary vector would be lost with it.
#include "calmgr.hpp"

uint64_t use(const calmgr::IntensityView& cal, const std::vector<float>& in) {
#ifdef CALMGR_MISUSE
    return cal.lookup(in, std::vector<double>(in.size()), calmgr::Policy::NanPropagate).nan;
#else
    return cal.lookup(in, calmgr::Policy::NanPropagate).stats.nan;
#endif
}
