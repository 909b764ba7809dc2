// Values passed through the `data` argument of the control entries. The
// caller's pointer carries no alignment promise, so every value is copied
// byte-wise rather than read or written through a typed pointer.
#pragma once

#include "calmgr.h"

#include <cstring>

namespace calmgr {

// Writes v to data (nothing when data is null). Returns CAL_OK.
template <class T>
int32_t put(void* data, T v) {
    if (data != nullptr) std::memcpy(data, &v, sizeof v);
    return CAL_OK;
}

// The double that data points to.
inline double get_double(const void* data) {
    double v;
    std::memcpy(&v, data, sizeof v);
    return v;
}

}  // namespace calmgr
