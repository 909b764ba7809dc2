// expect: nodiscard
// A fit report whose result is dropped computed nothing anyone sees.
#include "calmgr.hpp"

double use(const std::vector<RealPoint>& samples) {
#ifdef CALMGR_MISUSE
    calmgr::polynomial_fit_report(samples, 2);
    return 0.0;
#else
    return calmgr::polynomial_fit_report(samples, 2).r_squared;
#endif
}
