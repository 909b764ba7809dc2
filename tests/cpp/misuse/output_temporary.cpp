// expect: deleted
// Lookup results written into a temporary vector would be lost with it.
#include "calmgr.hpp"
#if __cplusplus >= 202002L
#include <span>
#endif

void use(const calmgr::IntensityCalibration& cal, const std::vector<uint8_t>& in) {
#ifdef CALMGR_MISUSE
    cal.lookup(in, std::vector<double>(in.size()));
#else
    std::vector<double> out(in.size());
    cal.lookup(in, out);
    cal.lookup(std::vector<uint8_t>{1, 2}, calmgr::Span<double>(out.data(), 2));
#if __cplusplus >= 202002L
    cal.lookup(in, std::span<double>(out));
#endif
#endif
}
