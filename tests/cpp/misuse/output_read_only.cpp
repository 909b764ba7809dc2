// expect: no matching (member )?function
// A const container cannot receive lookup results.
#include "calmgr.hpp"

void use(const calmgr::IntensityCalibration& cal, const std::vector<uint16_t>& in,
         std::vector<float>& writable, const std::vector<float>& read_only) {
#ifdef CALMGR_MISUSE
    cal.lookup(in, read_only);
#else
    (void)read_only;
    cal.lookup(in, writable);
#endif
}
