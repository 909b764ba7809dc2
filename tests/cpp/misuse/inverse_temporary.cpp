// expect: deleted
// Inputs written into a temporary vector would be lost with it.
#include "calmgr.hpp"

std::size_t use(const calmgr::IntensityView& cal, const std::vector<double>& values) {
#ifdef CALMGR_MISUSE
    return cal.inverse(values, std::vector<double>(values.size()));
#else
    std::vector<double> inputs(values.size());
    return cal.inverse(values, inputs) + cal.inverse(values).unresolved;
#endif
}
