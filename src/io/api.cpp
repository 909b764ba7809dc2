// The exported C functions of calmgr_io: argument checks, the error-message
// buffer, and the boundary that turns every exception into a status.
#include "calmgr.hpp"
#include "calmgr_io.h"
#include "io/documents.h"
#include "io/files.h"
#include "io/io_error.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

using calmgr::io::IoError;

void set_message(char* err, size_t errlen, const std::string& msg) {
    if (err == nullptr || errlen == 0) return;
    const size_t n = msg.size() < errlen - 1 ? msg.size() : errlen - 1;
    std::memcpy(err, msg.data(), n);
    err[n] = '\0';
}

// Runs body, reporting failures as a status and "source: message".
template <typename Body>
int32_t guarded(const char* source, char* err, size_t errlen, Body body) {
    set_message(err, errlen, "");
    try {
        body();
        return CAL_OK;
    } catch (const IoError& e) {
        set_message(err, errlen, std::string(source) + ": " + e.message);
        return e.status;
    } catch (const calmgr::Error& e) {
        // A status of the library that no routine here turned into words.
        set_message(err, errlen, std::string(source) + ": " + e.what());
        return e.status();
    } catch (const std::bad_alloc&) {
        set_message(err, errlen, std::string(source) + ": out of memory");
        return CAL_ERR_NOMEM;
    } catch (const std::exception& e) {
        set_message(err, errlen, std::string(source) + ": " + e.what());
        return CALIO_ERR_FORMAT;
    } catch (...) {
        set_message(err, errlen, std::string(source) + ": unexpected failure");
        return CALIO_ERR_FORMAT;
    }
}

int32_t null_argument(char* err, size_t errlen, const char* what) {
    set_message(err, errlen, std::string(what) + " is null");
    return CAL_ERR_INVALID;
}

char* to_c_string(const std::string& s) {
    char* out = static_cast<char*>(std::malloc(s.size() + 1));
    if (out == nullptr) throw std::bad_alloc();
    std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

}  // namespace

extern "C" {

CALMGR_IO_API int32_t CalSaveIntensity(const IntensityCal* cal, const char* path, char* err,
                                       size_t errlen) {
    if (cal == nullptr) return null_argument(err, errlen, "calibration");
    if (path == nullptr) return null_argument(err, errlen, "path");
    return guarded(path, err, errlen, [&] {
        calmgr::io::write_file_atomically(path, calmgr::io::intensity_to_json(cal));
    });
}

CALMGR_IO_API IntensityCal* CalLoadIntensity(const char* path, char* err, size_t errlen) {
    if (path == nullptr) return null_argument(err, errlen, "path"), nullptr;
    IntensityCal* cal = nullptr;
    guarded(path, err, errlen, [&] {
        cal = calmgr::io::intensity_from_json(calmgr::io::read_file(path));
    });
    return cal;
}

CALMGR_IO_API int32_t CalSaveSpatial(const SpatialCal* cal, const char* path, char* err,
                                     size_t errlen) {
    if (cal == nullptr) return null_argument(err, errlen, "calibration");
    if (path == nullptr) return null_argument(err, errlen, "path");
    return guarded(path, err, errlen, [&] {
        calmgr::io::write_file_atomically(path, calmgr::io::spatial_to_json(cal));
    });
}

CALMGR_IO_API SpatialCal* CalLoadSpatial(const char* path, char* err, size_t errlen) {
    if (path == nullptr) return null_argument(err, errlen, "path"), nullptr;
    SpatialCal* cal = nullptr;
    guarded(path, err, errlen, [&] {
        cal = calmgr::io::spatial_from_json(calmgr::io::read_file(path));
    });
    return cal;
}

CALMGR_IO_API char* CalIntensityToJson(const IntensityCal* cal, char* err, size_t errlen) {
    if (cal == nullptr) return null_argument(err, errlen, "calibration"), nullptr;
    char* out = nullptr;
    guarded("calibration", err, errlen, [&] { out = to_c_string(calmgr::io::intensity_to_json(cal)); });
    return out;
}

CALMGR_IO_API char* CalSpatialToJson(const SpatialCal* cal, char* err, size_t errlen) {
    if (cal == nullptr) return null_argument(err, errlen, "calibration"), nullptr;
    char* out = nullptr;
    guarded("calibration", err, errlen, [&] { out = to_c_string(calmgr::io::spatial_to_json(cal)); });
    return out;
}

CALMGR_IO_API IntensityCal* CalIntensityFromJson(const char* json, char* err, size_t errlen) {
    if (json == nullptr) return null_argument(err, errlen, "document"), nullptr;
    IntensityCal* cal = nullptr;
    guarded("document", err, errlen, [&] { cal = calmgr::io::intensity_from_json(json); });
    return cal;
}

CALMGR_IO_API SpatialCal* CalSpatialFromJson(const char* json, char* err, size_t errlen) {
    if (json == nullptr) return null_argument(err, errlen, "document"), nullptr;
    SpatialCal* cal = nullptr;
    guarded("document", err, errlen, [&] { cal = calmgr::io::spatial_from_json(json); });
    return cal;
}

CALMGR_IO_API void CalFreeJson(char* json) { std::free(json); }

}  // extern "C"
