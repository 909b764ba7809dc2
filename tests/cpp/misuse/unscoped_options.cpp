// expect: 'Monotonic'
// The options are scoped: nothing named Monotonic lands in namespace calmgr.
#include "calmgr.hpp"

calmgr::Options use() {
#ifdef CALMGR_MISUSE
    return calmgr::Monotonic;
#else
    return calmgr::Options::Monotonic;
#endif
}
