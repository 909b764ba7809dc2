/*
 * calmgr/io.hpp - saved calibrations (JSON) for the C++ layer: loading into
 * owning calibrations and saving from any view, over calmgr_io.h.
 * Not included by <calmgr.hpp>: include it where calmgr_io is linked.
 * Failures throw calmgr::Error with the CALIO_ERR_* (or CAL_ERR_*) status;
 * cause() is calmgr_io's one-line message naming the file and the field.
 */
#ifndef CALMGR_IO_HPP
#define CALMGR_IO_HPP

#include "calmgr.hpp"
#include "calmgr_io.h"

#include <cstdlib>
#include <memory>

namespace calmgr {

namespace detail {
inline const char* io_status_name(int32_t status) noexcept {
    switch (status) {
        case CALIO_ERR_FILE: return "CALIO_ERR_FILE";
        case CALIO_ERR_FORMAT: return "CALIO_ERR_FORMAT";
        case CALIO_ERR_VERSION: return "CALIO_ERR_VERSION";
        case CALIO_ERR_VALUE: return "CALIO_ERR_VALUE";
        default: return calmgr::status_name(status);
    }
}

// calmgr_io reports failures as a null result or a status, and a message.
struct IoMessage {
    char text[1024] = {};
    [[noreturn]] void raise(int32_t status) const { throw Error(status, text, io_status_name(status)); }
    // A load that gave no calibration. The loaders return no status, so it
    // is told from calmgr_io's own message: files that cannot be read, a
    // later version, memory; anything else is the document's fault.
    [[noreturn]] void raise_load() const {
        const std::string_view t(text);
        auto says = [&](const char* words) { return t.find(words) != std::string_view::npos; };
        if (says(": cannot open ") || says(": cannot read ") || says(": larger than 64 MiB"))
            raise(CALIO_ERR_FILE);
        if (says(": version: the file has version ")) raise(CALIO_ERR_VERSION);
        if (says(": out of memory")) raise(CAL_ERR_NOMEM);
        raise(CALIO_ERR_FORMAT);
    }
};

inline std::string take_json(char* json) {
    const std::unique_ptr<char, void (*)(char*)> owned(json, CalFreeJson);
    return std::string(json);
}
}  // namespace detail

[[nodiscard]] inline IntensityCalibration load_intensity(const std::string& path) {
    detail::IoMessage m;
    IntensityCal* cal = CalLoadIntensity(path.c_str(), m.text, sizeof m.text);
    if (cal == nullptr) m.raise_load();
    return IntensityCalibration::adopt_owned(cal);
}
[[nodiscard]] inline SpatialCalibration load_spatial(const std::string& path) {
    detail::IoMessage m;
    SpatialCal* cal = CalLoadSpatial(path.c_str(), m.text, sizeof m.text);
    if (cal == nullptr) m.raise_load();
    return SpatialCalibration::adopt_owned(cal);
}

/* Writes the document beside path and renames it over path only when it
 * is complete: on failure an existing file is left as it was. */
inline void save(IntensityView cal, const std::string& path) {
    detail::IoMessage m;
    const int32_t status = CalSaveIntensity(cal.get(), path.c_str(), m.text, sizeof m.text);
    if (status != CAL_OK) m.raise(status);
}
inline void save(SpatialView cal, const std::string& path) {
    detail::IoMessage m;
    const int32_t status = CalSaveSpatial(cal.get(), path.c_str(), m.text, sizeof m.text);
    if (status != CAL_OK) m.raise(status);
}

[[nodiscard]] inline std::string to_json(IntensityView cal) {
    detail::IoMessage m;
    char* json = CalIntensityToJson(cal.get(), m.text, sizeof m.text);
    if (json == nullptr) m.raise(CALIO_ERR_VALUE);
    return detail::take_json(json);
}
[[nodiscard]] inline std::string to_json(SpatialView cal) {
    detail::IoMessage m;
    char* json = CalSpatialToJson(cal.get(), m.text, sizeof m.text);
    if (json == nullptr) m.raise(CALIO_ERR_VALUE);
    return detail::take_json(json);
}
[[nodiscard]] inline IntensityCalibration intensity_from_json(const std::string& json) {
    detail::IoMessage m;
    IntensityCal* cal = CalIntensityFromJson(json.c_str(), m.text, sizeof m.text);
    if (cal == nullptr) m.raise_load();
    return IntensityCalibration::adopt_owned(cal);
}
[[nodiscard]] inline SpatialCalibration spatial_from_json(const std::string& json) {
    detail::IoMessage m;
    SpatialCal* cal = CalSpatialFromJson(json.c_str(), m.text, sizeof m.text);
    if (cal == nullptr) m.raise_load();
    return SpatialCalibration::adopt_owned(cal);
}

}  // namespace calmgr

#endif /* CALMGR_IO_HPP */
