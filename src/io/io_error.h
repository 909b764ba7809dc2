// The error that every saving and loading routine raises: a status code of
// calmgr_io.h and a one-line message. The C entry points catch it (and any
// other exception) so that nothing escapes into C callers.
#pragma once

#include "calmgr.hpp"
#include "calmgr_io.h"

#include <cstdint>
#include <string>

namespace calmgr::io {

struct IoError {
    int32_t status;
    std::string message;
};

[[noreturn]] inline void fail(int32_t status, std::string message) {
    throw IoError{status, std::move(message)};
}

// A new calibration (IntensityCalibration or SpatialCalibration); when the
// library has no memory for one, CAL_ERR_NOMEM "out of memory".
template <class Calibration>
Calibration new_calibration() {
    try {
        return Calibration();
    } catch (const calmgr::Error&) {
        fail(CAL_ERR_NOMEM, "out of memory");
    }
}

// Runs one setter of a calibration being loaded; the library's refusal
// becomes "field: the calibration refused the value (status N)", a format
// error unless memory ran out.
template <class Set>
void set_field(const char* field, Set&& set) {
    try {
        set();
    } catch (const calmgr::Error& e) {
        fail(e.status() == CAL_ERR_NOMEM ? int32_t{CAL_ERR_NOMEM} : int32_t{CALIO_ERR_FORMAT},
             std::string(field) + ": the calibration refused the value (status " +
                 std::to_string(e.status()) + ")");
    }
}

}  // namespace calmgr::io
