/*
 * calmgr.h - public interface of the calmgr calibration library.
 *
 * calmgr turns raw pixel values into calibrated quantities through lookup
 * tables (intensity calibrations), converts pixel coordinates into
 * calibrated units (spatial calibrations) and fits polynomials by least
 * squares. Everything is reached through the flat C functions below.
 *
 * Conventions shared by every function:
 *  - Calls return a signed 32-bit status (CAL_OK on success) unless they
 *    create or look up an object, in which case null means "none".
 *  - A calibration handle is the address of the calibration record. Only the
 *    destroy functions check that a handle is live; every other function
 *    trusts any non-null pointer.
 *  - Strings (names, units) are zero-terminated, at most 127 characters,
 *    exchanged through 128-byte buffers. Longer input is truncated.
 *  - The library keeps process-wide state and takes no locks: callers
 *    serialise all calls into it.
 *
 * The header is valid C99 and C++17.
 */
#ifndef CALMGR_H
#define CALMGR_H

#include <stddef.h>
#include <stdint.h>

#if defined(CALMGR_BUILDING) && defined(__GNUC__) && !defined(_WIN32)
#define CALMGR_API __attribute__((visibility("default")))
#else
#define CALMGR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------- */
/* Types                                                                  */
/* ---------------------------------------------------------------------- */

typedef struct IntensityCal IntensityCal;   /* opaque; the handle is the record's address */
typedef struct SpatialCal   SpatialCal;     /* opaque */
typedef uint32_t CalImageHandle;            /* interpreted by the image library only */

typedef struct CalPoint   { double  input; double calibrated; } CalPoint;   /* 16 bytes */
typedef struct RealPoint  { double  x;     double y;          } RealPoint;  /* 16 bytes */
typedef struct PixelPoint { int32_t x;     int32_t y;         } PixelPoint; /*  8 bytes */

/* ---------------------------------------------------------------------- */
/* Status codes                                                           */
/* ---------------------------------------------------------------------- */

enum {
    CAL_OK          = 0,     /* success */
    CAL_ERR_INVALID = -985,  /* null or out-of-range argument, unknown code, object not registered */
    CAL_ERR_TARGET  = -987,  /* the image library refused the image for an intensity calibration */
    CAL_ERR_NOMEM   = -999,  /* memory could not be obtained; nothing was changed */
    FIT_ERR_ARGS    = -1     /* bad arguments to a polynomial fit entry point */
};

/* ---------------------------------------------------------------------- */
/* Intensity calibration control codes (ICalControl)                      */
/* ---------------------------------------------------------------------- */

enum {
    ICAL_GET_NAME           = 0,  /* data: char[128] out */
    ICAL_SET_NAME           = 1,  /* data: string in */
    ICAL_GET_TYPE           = 2,  /* data: uint32_t out */
    ICAL_SET_TYPE           = 3,  /* value: type 0..3; index: defer flag */
    ICAL_GET_RANGE_MIN      = 4,  /* data: double out */
    ICAL_SET_RANGE_MIN      = 5,  /* data: double in; index: defer flag */
    ICAL_GET_RANGE_MAX      = 6,  /* data: double out */
    ICAL_SET_RANGE_MAX      = 7,  /* data: double in; index: defer flag */
    ICAL_GET_NEXT           = 8,  /* data: IntensityCal* out; cal may be null */
    ICAL_GET_NUM_POINTS     = 9,  /* data: uint16_t out */
    ICAL_GET_POINTS         = 10, /* data: CalPoint[num_points] out */
    ICAL_SET_POINTS         = 11, /* value: count; data: CalPoint[count] in; index: defer flag */
    ICAL_GET_POINT          = 12, /* value: 0 input, else calibrated; index: point; data: double out */
    ICAL_SET_POINT          = 13, /* value: 0 input, else calibrated; index: point; data: double in */
    ICAL_GET_BLACK_LEVEL    = 14, /* data: double out */
    ICAL_SET_BLACK_LEVEL    = 15, /* data: double in; index: defer flag */
    ICAL_GET_INCIDENT_LEVEL = 16, /* data: double out */
    ICAL_SET_INCIDENT_LEVEL = 17, /* data: double in; index: defer flag */
    ICAL_GET_TABLE_MIN      = 18, /* data: double out */
    ICAL_GET_TABLE_MAX      = 19, /* data: double out */
    ICAL_GET_TABLE_SIZE     = 20, /* data: uint16_t out */
    ICAL_SET_TABLE_SIZE     = 21, /* value: entries; index: defer flag */
    ICAL_GET_TABLE          = 22, /* data: double[table_size] out */
    ICAL_SET_FIT_TYPE       = 23, /* value: fit type; index: defer flag */
    ICAL_GET_FIT_TYPE       = 24, /* data: int16_t out (optional) */
    ICAL_GET_UNITS          = 25, /* data: char[128] out */
    ICAL_SET_UNITS          = 26, /* data: string in */
    ICAL_SET_TABLE          = 27, /* value: entries; data: double[entries] in */
    ICAL_GET_ATTRIBUTE      = 28, /* data: 16-bit out (optional) */
    ICAL_SET_ATTRIBUTE      = 29, /* value: new attribute, sign-extended */
    ICAL_GET_OPTIONS        = 30, /* data: uint16_t out (optional) */
    ICAL_SET_OPTIONS        = 31  /* value: option bits; index: defer flag */
};

/* Calibration types (ICAL_SET_TYPE / ICAL_GET_TYPE). */
enum {
    ICAL_TYPE_STANDARD = 0, /* table built from the calibration points */
    ICAL_TYPE_DENSITY  = 1, /* optical density from black and incident levels */
    ICAL_TYPE_TABLE    = 2, /* table supplied by the caller (ICAL_SET_TABLE) */
    ICAL_TYPE_NONE     = 3  /* no calibration: lookups pass values through */
};

/* Option bits (ICAL_SET_OPTIONS), used by the fitted-curve builder. */
enum {
    ICAL_OPT_MONOTONIC      = 1, /* force the table monotonic in the points' direction */
    ICAL_OPT_CLAMP_NEGATIVE = 2  /* replace negative (and NaN) table values by 0 */
};

/* ---------------------------------------------------------------------- */
/* Lookup sample types and flag (ICalLookup, ICalLookupEx)                */
/* ---------------------------------------------------------------------- */

#define ICAL_LOOKUP_FLOAT 0x1000u /* write 32-bit floats instead of doubles */

enum {
    ICAL_SAMPLE_BITS    = 0, /* 1 bit per pixel, 8 per byte, most significant first */
    ICAL_SAMPLE_U8      = 1, /* unsigned 8-bit (code 2 is the same) */
    ICAL_SAMPLE_U8_RGB  = 3, /* three unsigned 8-bit values per pixel */
    ICAL_SAMPLE_U16     = 4, /* unsigned 16-bit (code 6 is the same) */
    ICAL_SAMPLE_F32     = 5, /* 32-bit float */
    ICAL_SAMPLE_F64     = 7, /* 64-bit double (codes 10..255 are the same) */
    ICAL_SAMPLE_U16_RGB = 8  /* three unsigned 16-bit values per pixel (code 9 is the same) */
};

/* ---------------------------------------------------------------------- */
/* Spatial calibration control codes (SCalControl)                        */
/* ---------------------------------------------------------------------- */

enum {
    SCAL_GET_NAME       = 0,  /* data: char[128] out */
    SCAL_SET_NAME       = 1,  /* data: string in */
    SCAL_GET_UNITS      = 2,  /* data: char[128] out */
    SCAL_SET_UNITS      = 3,  /* data: string in */
    SCAL_GET_SCALE      = 4,  /* value: axis (0 x, else y); data: double out, pixels per unit */
    SCAL_SET_SCALE      = 5,  /* value: axis; data: double in, not 0 or NaN */
    SCAL_GET_PIXEL_SIZE = 6,  /* value: axis; data: double out, units per pixel */
    SCAL_SET_PIXEL_SIZE = 7,  /* value: axis; data: double in, not 0 or NaN */
    SCAL_GET_ORIGIN     = 8,  /* value: axis; data: double out, pixels */
    SCAL_SET_ORIGIN     = 9,  /* value: axis; data: double in */
    SCAL_GET_AUX_VALUE  = 10, /* data: double out */
    SCAL_SET_AUX_VALUE  = 11, /* data: double in */
    SCAL_GET_PIXEL_AREA = 12, /* data: double out, square units */
    SCAL_GET_NEXT       = 13  /* data: SpatialCal* out; cal may be null */
};

/* Property tags under which calibrations are attached to images. */
enum {
    PROP_SCAL      = -950,
    PROP_SCAL_INST = -949,
    PROP_ICAL      = -948,
    PROP_ICAL_INST = -947
};

/* ---------------------------------------------------------------------- */
/* Intensity calibrations                                                 */
/* ---------------------------------------------------------------------- */

/* ICalCreate - create an intensity calibration with the defaults: standard
 * type, points (0,0) and (255,255), a 256-entry identity table over 0..255,
 * units "Gray Level" and the first free name "Intensity Cal N".
 * Returns the new calibration, or null when memory could not be obtained
 * (nothing is then left allocated). */
CALMGR_API IntensityCal* ICalCreate(void);

/* ICalDestroy - destroy a calibration made by ICalCreate and release its
 * memory. Attachments to images are not cleared.
 * Returns CAL_OK, or CAL_ERR_INVALID when cal is null, unknown or already
 * destroyed (nothing is freed then). */
CALMGR_API int32_t ICalDestroy(IntensityCal* cal);

/* ICalControl - read or change one setting of an intensity calibration.
 *   cal    the calibration; may be null for ICAL_GET_NEXT (start of the walk)
 *   code   an ICAL_* control code
 *   value  low 16 bits only: count, type, selector or 16-bit setting
 *   index  point number (ICAL_GET_POINT/ICAL_SET_POINT) or defer flag for
 *          the setters that rebuild: 0 rebuilds the table now, any other
 *          value leaves the rebuild to a later call
 *   data   caller memory read or written as the code says
 * Returns CAL_OK; the rebuild's status when the control rebuilt the table;
 * CAL_ERR_INVALID for a null calibration or required data, a count below 2,
 * a point number, type or code out of range; CAL_ERR_NOMEM when a new
 * point or table block could not be obtained (the calibration is then
 * unchanged). */
CALMGR_API int32_t ICalControl(IntensityCal* cal, uint32_t code, int32_t value, int32_t index,
                               void* data);

/* ICalLookup - convert count pixels (low 16 bits of count only) of the
 * sample layout named by type into calibrated values. Exactly ICalLookupEx
 * with the count reduced to 16 bits. */
CALMGR_API int32_t ICalLookup(const IntensityCal* cal, uint32_t type, const void* samples,
                              uint32_t count, void* out);

/* ICalLookupEx - convert count pixels into calibrated values.
 *   cal      the calibration, or null: without a calibration (or with type
 *            ICAL_TYPE_NONE, or a range whose maximum is not above its
 *            minimum) values are converted unchanged; bits give 0.0 and 1.0
 *   type     ICAL_SAMPLE_* code in bits 0-7, ICAL_LOOKUP_FLOAT for float output
 *   samples  count pixels, packed; RGB codes have three values per pixel
 *   out      one double (or float) per value, in input order
 * Tables with one entry per input (256 entries over 0..255, 4096 over
 * 0..4095) are indexed directly; otherwise values are interpolated linearly
 * on the table's grid and clamped to its ends (NaN gives the first entry).
 * Returns CAL_OK; CAL_ERR_INVALID when samples or out is null and count is
 * not 0 (nothing is written). */
CALMGR_API int32_t ICalLookupEx(const IntensityCal* cal, uint32_t type, const void* samples,
                                uint32_t count, void* out);

/* ICalGetHandle / ICalGetHandleInst - the intensity calibration attached to
 * an image handle, or to the instance behind it; null when none. */
CALMGR_API IntensityCal* ICalGetHandle(CalImageHandle image);
CALMGR_API IntensityCal* ICalGetHandleInst(CalImageHandle image);

/* ICalSetHandle / ICalSetHandleInst - attach cal to an image handle, or to
 * the instance behind it; a null cal detaches. Before attaching, the image
 * library is asked whether the image can take an intensity calibration.
 * Returns CAL_ERR_TARGET when it cannot (an earlier attachment stays),
 * otherwise the image library's own status for storing or removing. */
CALMGR_API int32_t ICalSetHandle(CalImageHandle image, IntensityCal* cal);
CALMGR_API int32_t ICalSetHandleInst(CalImageHandle image, IntensityCal* cal);

/* ---------------------------------------------------------------------- */
/* Spatial calibrations                                                   */
/* ---------------------------------------------------------------------- */

/* SCalCreate - create a spatial calibration: scales 1.0, origins 0.0,
 * units "Pixels", the first free name "Spatial Cal N".
 * Returns the new calibration, or null when memory could not be obtained. */
CALMGR_API SpatialCal* SCalCreate(void);

/* SCalDestroy - destroy a spatial calibration.
 * Returns CAL_OK, or CAL_ERR_INVALID when cal is null, unknown or already
 * destroyed. */
CALMGR_API int32_t SCalDestroy(SpatialCal* cal);

/* SCalControl - read or change one setting of a spatial calibration.
 *   cal    the calibration; may be null for SCAL_GET_NEXT
 *   code   an SCAL_* control code
 *   value  low 16 bits: axis for the per-axis codes (0 x, anything else y)
 *   index  not used
 *   data   caller memory, required for every code
 * Returns CAL_OK, or CAL_ERR_INVALID for a null calibration or data, a code
 * above SCAL_GET_NEXT, or a scale or pixel size of 0 or NaN. */
CALMGR_API int32_t SCalControl(SpatialCal* cal, uint32_t code, int32_t value, int32_t index,
                               void* data);

/* SCalPixToCU - convert count pixel positions (low 16 bits of count) to
 * calibrated units: (pixel - origin) / scale on each axis.
 * Returns CAL_OK; CAL_ERR_INVALID when cal is null, or when pixels or out
 * is null and the count is not 0. */
CALMGR_API int32_t SCalPixToCU(const SpatialCal* cal, const PixelPoint* pixels, RealPoint* out,
                               uint32_t count);

/* SCalGetHandle / SCalGetHandleInst - the spatial calibration attached to
 * an image handle, or to its instance; null when none. */
CALMGR_API SpatialCal* SCalGetHandle(CalImageHandle image);
CALMGR_API SpatialCal* SCalGetHandleInst(CalImageHandle image);

/* SCalSetHandle / SCalSetHandleInst - attach cal to an image handle or its
 * instance (no suitability query); a null cal detaches. Returns the image
 * library's status. */
CALMGR_API int32_t SCalSetHandle(CalImageHandle image, SpatialCal* cal);
CALMGR_API int32_t SCalSetHandleInst(CalImageHandle image, SpatialCal* cal);

/* ---------------------------------------------------------------------- */
/* Polynomial fits                                                        */
/* ---------------------------------------------------------------------- */

/* PolynomialFit - fit a polynomial of the given degree (1..7) to
 * num_samples (x, y) samples by unweighted least squares and write its value
 * at out_points[i].x into out_points[i].y for i < num_out. With fewer
 * samples than degree + 1 the degree drops to num_samples - 1. out_points
 * may be samples itself.
 * Returns 0; FIT_ERR_ARGS for a null array, a non-positive count or a
 * degree outside 1..7 (nothing written); CAL_ERR_NOMEM when work memory
 * could not be obtained (nothing written). */
CALMGR_API int32_t PolynomialFit(const RealPoint* samples, int16_t num_samples,
                                 RealPoint* out_points, int16_t num_out, int16_t degree);

/* PolynomialFitRange - as PolynomialFit, evaluating the polynomial on the
 * grid x_start + k * (x_end - x_start) / (num_out - 1), k = 0..num_out-1
 * (the abscissa advances by repeated addition of the step), into values.
 * Returns 0; FIT_ERR_ARGS as PolynomialFit, and for num_out below 2;
 * CAL_ERR_NOMEM when work memory could not be obtained. */
CALMGR_API int32_t PolynomialFitRange(const RealPoint* samples, int16_t num_samples,
                                      double* values, double x_start, double x_end,
                                      int16_t num_out, int16_t degree);

/* ---------------------------------------------------------------------- */
/* Image-library services                                                 */
/* ---------------------------------------------------------------------- */

/* The library reaches the image library (memory, properties on image
 * handles, instances, the suitability query) only through this table. */
typedef struct CalImageServices {
    void*          (*mem_alloc)(uint32_t flags, size_t size);   /* null on failure */
    void           (*mem_free)(void* block);
    CalImageHandle (*image_get_instance)(CalImageHandle image);
    int32_t        (*image_query)(CalImageHandle image, int32_t item, int32_t arg1, int32_t arg2,
                                  int32_t* answer);
    int32_t        (*image_instance_query)(CalImageHandle image, int32_t item, int32_t arg1,
                                           int32_t arg2, int32_t* answer);
    int32_t        (*prop_set)(CalImageHandle target, const void* data, uint32_t size, int32_t tag);
    int32_t        (*prop_get)(CalImageHandle target, int32_t tag, void* result, uint32_t size);
    int32_t        (*prop_remove)(CalImageHandle target, int32_t tag);
} CalImageServices;

#define CAL_MEM_PLAIN 0x02u /* mem_alloc flags: a plain block */
#define CAL_MEM_ZERO  0x42u /* mem_alloc flags: a zero-filled block */

/* Installs the services the library calls from now on; null restores the
 * built-in ones. The table is copied. Returns CAL_OK; a table with any null
 * member is refused with CAL_ERR_INVALID and changes nothing. A host must
 * not change the services while calibrations made with the old allocator
 * are still alive. */
CALMGR_API int32_t CalSetImageServices(const CalImageServices* services);

#ifdef __cplusplus
}
#endif

#endif /* CALMGR_H */
