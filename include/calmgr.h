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
 *    serialise all calls into it, with one exception. The calls that only
 *    read a calibration and allocate nothing (ICalLookup, ICalLookupEx,
 *    ICalLookupPolicy, ICalInverse, ICalDiagnose and SCalPixToCU) may run
 *    at the same time from any number of threads, on the same calibration
 *    or on different ones, as long as no call that creates, changes or
 *    destroys a calibration, or installs image-library services, runs
 *    meanwhile on the calibrations they read.
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
    ICAL_TYPE_TABLE    = 2, /* table supplied by the caller (ICAL_SET_TABLE); a rebuild
                               reads table_min/table_max from it */
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

/* ---------------------------------------------------------------------- */
/* Extensions: version, fit types, diagnostics, lookup policy, inverse,    */
/* fit reports. They add to the functions above, which keep their exact   */
/* behaviour.                                                              */
/* ---------------------------------------------------------------------- */

/* Version of this header. CalVersion() gives the loaded library's own. */
#define CALMGR_VERSION_MAJOR 1
#define CALMGR_VERSION_MINOR 1      /* raise with each release that adds */
#define CALMGR_VERSION_PATCH 0

/* CalVersion - the loaded library's version, "MAJOR.MINOR.PATCH" (static
 * storage; never null). A host may compare it with the header's. */
CALMGR_API const char* CalVersion(void);

/* Fit types: the values of ICAL_SET_FIT_TYPE, named. */
enum {
    ICAL_FIT_PIECEWISE = 0,                                   /* piecewise linear (default) */
    ICAL_FIT_POLY1 = 1, ICAL_FIT_POLY2 = 2, ICAL_FIT_POLY3 = 3,       /* least squares */
    ICAL_FIT_INTERP1 = 4, ICAL_FIT_INTERP2 = 5, ICAL_FIT_INTERP3 = 6, /* piecewise order 1-3 */
    ICAL_FIT_DENSITY = 10,                                    /* optical density fitted to the points */
    ICAL_FIT_EXP1 = 11, ICAL_FIT_EXP2 = 12, ICAL_FIT_EXP3 = 13,       /* e^(poly) */
    ICAL_FIT_LOG1 = 21, ICAL_FIT_LOG2 = 22, ICAL_FIT_LOG3 = 23        /* -ln(poly of e^-y) */
};

/* Diagnostics: what makes a calibration's numbers untrustworthy.
 *
 * Each code's rule follows below. Terms: the range is usable when
 * range_max - range_min is a finite positive number; the grid step is
 * (range_max - range_min) / (table_size - 1). The table is built from the
 * points by one builder: the two-point line (standard type, exactly two
 * points), piecewise interpolation (fit types 0, 4-9, 14-20, 24 and above),
 * a least-squares polynomial (1-3), the density fit (10), the exponential
 * fit (11-13, samples: the points with a calibrated value above 0) or the
 * logarithmic fit (21-23). The piecewise builder keeps a point unless it
 * repeats the point kept before it exactly (input and calibrated value).
 * Points matter only to the standard type; the density type is judged by its
 * levels and a supplied table by its entries. A calibration of type
 * ICAL_TYPE_NONE is no calibration and has no findings. On a range that is
 * not usable, the findings measured against the grid (OUTSIDE_RANGE,
 * DENSE_POINTS, NOT_MONOTONIC and LEVELS_LIMITED for flat tables and
 * derived levels) are not reported. */
typedef struct CalFinding {
    uint32_t code;    /* ICAL_DIAG_* */
    int32_t  point;   /* index of the point concerned (the later one of a pair), or -1 */
    int32_t  entry;   /* index of the table entry concerned, or -1 */
    double   value;   /* the input or calibrated value concerned, or NaN */
} CalFinding;         /* 24 bytes */

enum {
    /* range_max - range_min is not a finite positive number (empty, inverted,
     * NaN or unbounded range): lookups pass values through unchanged, or
     * give one entry for every value. point -1, entry -1, value the
     * difference. Any type but ICAL_TYPE_NONE. */
    ICAL_DIAG_EMPTY_RANGE     = 1,
    /* The point's input value is below that of the finite point before it,
     * where the order matters: piecewise builds, and least-squares builds
     * with ICAL_OPT_MONOTONIC (the repair reads the trend in stored order).
     * value: the input value. */
    ICAL_DIAG_UNSORTED        = 2,
    /* Piecewise builds: the point is kept and has the input value of the
     * point kept before it but a different calibrated value; the window
     * through both has zero denominators and the table drops to 0 there.
     * (A least-squares fit takes repeated inputs as replicates; too few
     * distinct inputs are FIT_SINGULAR or DEGREE_REDUCED.) value: the input. */
    ICAL_DIAG_DUPLICATE_INPUT = 3,
    /* The point's input value lies below range_min or above range_max:
     * lookups clamp at the range's ends and never reach it. Every build
     * from points. value: the input value. */
    ICAL_DIAG_OUTSIDE_RANGE   = 4,
    /* Piecewise builds: the point is kept and lies closer than one grid step
     * (but not at the same input) to the point kept before it: the table
     * cannot follow the points and its window lags behind them.
     * value: the input value. */
    ICAL_DIAG_DENSE_POINTS    = 5,
    /* A point's input or calibrated value (point >= 0; value: the first
     * non-finite one; no other finding for that point) or a table entry
     * (entry >= 0; one finding per run of consecutive non-finite entries, at
     * its first) is NaN or infinite. Table entries are not reported when
     * FIT_SINGULAR already explains them. */
    ICAL_DIAG_NONFINITE       = 6,
    /* The points are finite and sorted by input, their calibrated values go
     * one way from the first point to the last (rising or falling), and the
     * table built from them turns back against that way further than the
     * points themselves ever do: an entry lies below the highest entry
     * before it (rising; above the lowest when falling) by more than the
     * points' own deepest such turn, in index order, plus 1e-9 of their
     * calibrated span. With monotonic points any turn counts; a table that
     * follows noisy points no further than they go does not. One finding
     * per run of such entries, at its first; value: that entry. Builds from
     * points other than the density fit, on a usable range, unless
     * FIT_SINGULAR. */
    ICAL_DIAG_NOT_MONOTONIC   = 7,
    /* Density fit: the least-squares line of the points' transmittance
     * 10^-calibrated against input does not rise, so no black and incident
     * level follow from it and the table is the density curve of the range,
     * not of the points. point -1, entry -1, value NaN. */
    ICAL_DIAG_DENSITY_RISES   = 8,
    /* Density fit: a level derived from the points (black where the fitted
     * transmittance is 0, incident where it is 1) lies outside the range
     * (black below range_min or at or above range_max; incident at or above
     * range_max or at or below range_min), so the stored level was limited
     * to the range and is not the one the table rests on; one finding per
     * level, value: the derived level. Density type: incident_level is not
     * a finite amount above black_level (the table was not built from the
     * levels), or fewer than two grid entries lie between the levels (the
     * table is flat); value: black_level when it is not finite or not below
     * range_max, else incident_level. point -1, entry -1. */
    ICAL_DIAG_LEVELS_LIMITED  = 9,
    /* The points do not determine the curve: fewer distinct input values
     * than the build fits coefficients (two-point line and piecewise: 2;
     * least-squares: degree + 1, or the number of samples when fewer), or
     * fewer than two samples for the exponential fit. The table then holds
     * NaN, a constant, or what it held before. Only when every point is
     * finite. point -1, entry -1, value NaN. */
    ICAL_DIAG_FIT_SINGULAR    = 10,
    /* Least-squares fits: fewer samples than degree + 1, all at distinct
     * inputs, so a polynomial of lower degree went through them exactly.
     * With FIT_SINGULAR this covers every fit with fewer distinct inputs than
     * degree + 1. point -1, entry -1, value: the degree fitted. */
    ICAL_DIAG_DEGREE_REDUCED  = 11,
    /* Exponential fit: the point's calibrated value is not above 0, so the
     * fit leaves it out. value: the calibrated value. */
    ICAL_DIAG_POINTS_DROPPED  = 12
};

/* ICalDiagnose - examine a calibration and report what makes its table
 * untrustworthy. Findings come in a fixed order: the range; then each
 * point in index order (a point's findings in ascending code order); then
 * the points as a whole (DENSITY_RISES, LEVELS_LIMITED, FIT_SINGULAR,
 * DEGREE_REDUCED); then the table in entry order. A calibration without
 * findings has a table that follows its points (or levels) over a usable
 * range. The table is judged as it stands: a rebuild still pending after
 * deferred changes is not seen.
 *   cal       the calibration (must be registered)
 *   findings  receives at most capacity findings; may be null when
 *             capacity is 0
 *   capacity  room in findings
 *   count     receives the number of findings, also when it exceeds
 *             capacity
 * A few passes over the points and one over the table, whatever their
 * sizes; changes nothing and allocates nothing.
 * Returns CAL_OK; CAL_ERR_INVALID for a null or unregistered calibration, a
 * null count, or null findings with a nonzero capacity (nothing written). */
CALMGR_API int32_t ICalDiagnose(const IntensityCal* cal, CalFinding* findings, uint32_t capacity,
                                uint32_t* count);

/* CalDiagText - one line of English for an ICAL_DIAG_* code, starting in
 * lower case and written to follow a place, as in "point 3 (64): <text>"
 * (static storage, never changes); "unknown finding" for other codes. */
CALMGR_API const char* CalDiagText(uint32_t code);

/* Lookups that say what fell outside the calibrated range. A value is
 * below when it is less than range_min and above when it is greater than
 * range_max (compared as the sample widened to double); 16-bit samples past
 * a direct 4096-entry table are above (its range ends at 4095). Nothing is
 * outside without a usable calibration (null, type ICAL_TYPE_NONE, no table,
 * or a range whose maximum is not above its minimum: the values pass
 * through unchanged), and bit-packed samples are never outside. Only float
 * and double samples can be NaN; NaN is neither below nor above. Counts
 * are of values (three per RGB pixel). */
typedef struct CalLookupStats {
    uint64_t below;   /* values below range_min */
    uint64_t above;   /* values above range_max (16-bit samples past a direct table included) */
    uint64_t nan;     /* NaN values */
} CalLookupStats;

enum {
    ICAL_POLICY_CLAMP         = 0,   /* as ICalLookupEx: outside values take the table's end, NaN the first entry */
    ICAL_POLICY_OUTSIDE_NAN   = 1,   /* values below or above give NaN (the default quiet NaN) */
    ICAL_POLICY_NAN_PROPAGATE = 2    /* NaN samples give themselves, converted to the output type
                                        (may be combined with OUTSIDE_NAN) */
};

/* ICalLookupPolicy - ICalLookupEx with a 64-bit count, a policy for values
 * outside the calibrated range and for NaN samples, and optional counts.
 *   cal, type, samples, out   as for ICalLookupEx
 *   count    number of pixels (64-bit)
 *   policy   ICAL_POLICY_* bits; values the policy does not replace are
 *            exactly ICalLookupEx's
 *   stats    null, or receives the counts of values below, above and NaN,
 *            whatever the policy
 * With ICAL_POLICY_CLAMP and null stats this is ICalLookupEx itself. Counts
 * and the NaN policies cost a pass over each cache-sized chunk of the run;
 * nothing is allocated. out may be samples itself where ICalLookupEx allows
 * it (equally wide samples and outputs).
 * Returns CAL_OK (stats receives zeros for a count of 0); CAL_ERR_INVALID
 * for unknown policy bits, null samples or out with a nonzero count, or a
 * count whose values could not be held in memory (nothing written, stats
 * included). */
CALMGR_API int32_t ICalLookupPolicy(const IntensityCal* cal, uint32_t type, const void* samples,
                                    uint64_t count, void* out, uint32_t policy,
                                    CalLookupStats* stats);

/* ICalInverse - calibrated values back to input values: for each value v
 * the input x in [range_min, range_max] whose lookup of a double sample
 * (ICalLookupEx on ICAL_SAMPLE_F64, the interpolating route) gives v.
 * The table is read as the straight segments between neighbouring entries
 * on its grid; on each stretch where it rises or falls, v is found on the
 * segment that holds it and x is settled on the double whose lookup comes
 * closest to v (on a table whose segments are not steep, within 4 ulps of
 * the largest entry's magnitude). Direct modes play no part: doubles are
 * always interpolated.
 * v is unresolved (its input is NaN) when no input reaches it (v lies
 * outside the values the table takes, is NaN, or lies only on segments
 * next to a NaN or infinite entry) or more than one does (the table turns
 * and reaches v on two stretches, or holds v along a flat run). The table
 * itself decides: table_min and table_max are not consulted. A calibration
 * of type none, without a table, or whose range is empty, inverted or not
 * finite resolves no value.
 *   cal         the calibration
 *   values      count calibrated values
 *   count       number of values; 0 writes nothing but *unresolved
 *   inputs      receives count input values, NaN where unresolved; may be
 *               values itself
 *   unresolved  null, or receives the number of unresolved values
 * Changes nothing in the calibration and allocates nothing. One monotonic
 * table is searched through an index built per call; a table that turns
 * more than 64 times is searched entry by entry, which is slower.
 * Returns CAL_OK; CAL_ERR_INVALID for a null cal, values or inputs with a
 * nonzero count (nothing written). */
CALMGR_API int32_t ICalInverse(const IntensityCal* cal, const double* values, uint64_t count,
                               double* inputs, uint64_t* unresolved);

/* Fit reports: coefficients and their statistics, computed stably.
 * A report describes the least-squares polynomial y = c0 + c1 x + ... +
 * c[degree] x^degree through n samples, all weighted alike. Values whose
 * magnitude lies beyond the range of double come out as infinities (for
 * example a covariance, the square of a standard error, for samples near
 * 1e300), or as 0.0 below it. */
#define CAL_FIT_MAX_COEFFS 16

typedef struct CalFitReport {
    int16_t degree;                 /* the degree fitted */
    int16_t reserved;               /* 0 */
    int32_t num_samples;            /* n, the samples fitted */
    double  coeffs[CAL_FIT_MAX_COEFFS];         /* c0 ... c[degree] of sum c_k x^k; the rest 0.0 */
    double  std_errors[CAL_FIT_MAX_COEFFS];     /* standard error of each coefficient; the rest 0.0 */
    double  covariance[CAL_FIT_MAX_COEFFS][CAL_FIT_MAX_COEFFS];  /* s^2 (X'X)^-1: [j][k] for c_j, c_k; the rest 0.0 */
    double  residual_sd;            /* s = sqrt(SSR / (n - degree - 1)); 0.0 when n == degree + 1 */
    double  r_squared;              /* 1 - SSR/SST; 1.0 when SST == 0 */
    double  ssr;                    /* sum of squared residuals */
    double  condition;              /* 2-norm condition number of the centred, scaled design */
} CalFitReport;

/* PolynomialFitReport - the least-squares polynomial of degree 1..15
 * through (x, y) samples, with its statistics: the coefficients in powers
 * of x, their covariance s^2 (X'X)^-1 (X the design of powers of x) and
 * standard errors, the residual standard deviation s, R^2 = 1 - SSR/SST
 * (SST the sum of squares about the mean of y), SSR, and the condition
 * number of the design whose columns are the powers 0..degree of
 * (x - m) / h, m the middle and h half the width of the span of x.
 * The fit works in that centred, scaled variable with double-double
 * arithmetic and carries the result back to powers of x, so its numbers
 * agree with exact arithmetic on the samples as given to the digits the
 * data determine (12 or more on the NIST StRD polynomial datasets,
 * Filip and Wampler5 included). Samples with magnitudes near the ends of
 * the double range are scaled by powers of two first and fit as well as
 * any. Repeated x values count as often as they occur. With exactly
 * degree + 1 samples the polynomial passes through them all: s is 0.0
 * and so are the covariance and the standard errors (no degree of freedom
 * is left to estimate them).
 *   samples      num_samples (x, y) samples
 *   num_samples  number of samples, up to 2^31 - 1
 *   degree       1 .. 15
 *   report       receives the report
 * The samples are read three times and not copied: the call needs no
 * memory beyond its stack.
 * Returns CAL_OK; FIT_ERR_ARGS for null pointers, fewer than degree + 1
 * samples, a degree outside 1..15 or a NaN or infinite sample;
 * CAL_ERR_INVALID when fewer than degree + 1 distinct x values exist, or
 * when they are so close to that that the polynomial is not determined in
 * double-double arithmetic (condition number above 1e15). Nothing is
 * written unless CAL_OK. */
CALMGR_API int32_t PolynomialFitReport(const RealPoint* samples, int32_t num_samples, int16_t degree,
                                       CalFitReport* report);

/* ICalFitReport - the report (as PolynomialFitReport) of the least-squares
 * fit behind the table of a standard-curve calibration (type 0 with three
 * or more points), on exactly the samples its fitted-curve builder fits:
 *   fit types 1, 2, 3     the points, degree 1 .. 3: the table's curve;
 *   fit types 11, 12, 13  input against ln of the calibrated value, over
 *                         the points with a positive calibrated value,
 *                         degree 1 .. 3 (the table holds e^fit);
 *   fit types 21, 22, 23  input against e^-calibrated, degree 1 .. 3 (the
 *                         table holds -ln fit);
 *   fit type 10           input against the transmittance 10^-calibrated,
 *                         degree 1 (the line that sets the density levels).
 * The statistics (coefficients, standard errors, residuals, R^2) are those
 * of that fitted space, not of the calibrated values. The builder's fits
 * solve the normal equations in double, so the table may differ from the
 * reported polynomial in its last digits.
 *   cal     the calibration
 *   report  receives the report; num_samples counts the points used
 * Returns CAL_OK; CAL_ERR_INVALID for a null cal or report, a calibration
 * of another type, with two points (its table is the line through both)
 * or of another fit type, or when the fit is not determined: fewer points
 * used than degree + 1, fewer distinct input values, or a point (after the
 * transform) that is not finite. Nothing is written unless CAL_OK. */
CALMGR_API int32_t ICalFitReport(const IntensityCal* cal, CalFitReport* report);

#ifdef __cplusplus
}
#endif

#endif /* CALMGR_H */
