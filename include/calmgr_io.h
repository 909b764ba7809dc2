/*
 * calmgr_io.h - saved calibrations for the calmgr calibration library.
 *
 * Saves intensity and spatial calibrations as JSON documents and loads them
 * back into new calibrations, through the public interface of calmgr only.
 * Every double is written so that it reads back bit for bit (the shortest
 * decimal that round-trips, at most 17 significant digits); values that may
 * legitimately be infinite or NaN (entries of a caller-supplied table, the
 * spatial aux value) are written as the strings "Infinity", "-Infinity" and
 * "NaN".
 *
 * Conventions shared by every function:
 *  - err/errlen: a caller buffer that receives a one-line, zero-terminated
 *    message naming the file and the field at fault when the call fails (an
 *    empty string on success). err may be null or errlen 0 to get no message;
 *    longer messages are truncated.
 *  - Saving writes a temporary file beside the target and renames it over
 *    the target only when everything was written: on failure no file is
 *    created and an existing target is left as it was.
 *  - Loading validates the whole document before anything is created: on
 *    failure nothing is left allocated and no calibration is registered.
 *  - Like calmgr itself, the functions take no locks: callers serialise.
 *
 * Intensity document (format "calmgr.intensity", version 1): name, units,
 * type (0..3), range_min, range_max, table_size, points (array of
 * [input, calibrated] pairs), fit_type, options, black_level,
 * incident_level, attribute and, for type 2 only, table (table_size
 * entries). A type 3 calibration has no points and a table_size of 0.
 *
 * Spatial document (format "calmgr.spatial", version 1): name, units,
 * x_scale, y_scale (pixels per unit), x_origin, y_origin (pixels),
 * aux_value.
 *
 * The header is valid C99 and C++17.
 */
#ifndef CALMGR_IO_H
#define CALMGR_IO_H

#include "calmgr.h"

#if defined(CALMGR_IO_BUILDING) && defined(__GNUC__) && !defined(_WIN32)
#define CALMGR_IO_API __attribute__((visibility("default")))
#else
#define CALMGR_IO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of the documents this library writes; it reads versions 1 up to
 * this one and refuses later ones. */
#define CALIO_FORMAT_VERSION 1

/* Status codes beyond those of calmgr.h. */
enum {
    CALIO_ERR_FILE    = -1101, /* the file could not be read, written or renamed */
    CALIO_ERR_FORMAT  = -1102, /* not a well-formed calibration document, or a field is wrong */
    CALIO_ERR_VERSION = -1103, /* the document was written by a later version */
    CALIO_ERR_VALUE   = -1104  /* the calibration holds a value the format cannot keep */
};

/* CalSaveIntensity - write cal as a JSON document to path.
 * Returns CAL_OK; CAL_ERR_INVALID for a null cal or path; CALIO_ERR_VALUE
 * when a field that must be finite is not (the message names it);
 * CALIO_ERR_FILE when the file could not be written; CAL_ERR_NOMEM. */
CALMGR_IO_API int32_t CalSaveIntensity(const IntensityCal* cal, const char* path, char* err,
                                       size_t errlen);

/* CalLoadIntensity - read the JSON document at path into a new intensity
 * calibration (registered like one made by ICalCreate; release it with
 * ICalDestroy). Its table is rebuilt from the saved settings (or, for
 * type 2, taken from the document).
 * Returns the calibration, or null with a message in err. */
CALMGR_IO_API IntensityCal* CalLoadIntensity(const char* path, char* err, size_t errlen);

/* CalSaveSpatial / CalLoadSpatial - the same for spatial calibrations. */
CALMGR_IO_API int32_t CalSaveSpatial(const SpatialCal* cal, const char* path, char* err,
                                     size_t errlen);
CALMGR_IO_API SpatialCal* CalLoadSpatial(const char* path, char* err, size_t errlen);

/* CalIntensityToJson / CalSpatialToJson - the document CalSave* would write,
 * as a zero-terminated string the caller releases with CalFreeJson.
 * Returns null with a message in err on failure. */
CALMGR_IO_API char* CalIntensityToJson(const IntensityCal* cal, char* err, size_t errlen);
CALMGR_IO_API char* CalSpatialToJson(const SpatialCal* cal, char* err, size_t errlen);

/* CalIntensityFromJson / CalSpatialFromJson - as CalLoad*, from a
 * zero-terminated document in memory. */
CALMGR_IO_API IntensityCal* CalIntensityFromJson(const char* json, char* err, size_t errlen);
CALMGR_IO_API SpatialCal* CalSpatialFromJson(const char* json, char* err, size_t errlen);

/* CalFreeJson - release a string from CalIntensityToJson or
 * CalSpatialToJson; null is ignored. */
CALMGR_IO_API void CalFreeJson(char* json);

#ifdef __cplusplus
}
#endif

#endif /* CALMGR_IO_H */
