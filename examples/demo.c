/* A small tour of calmgr:
 *  1. a straight line through two calibration points;
 *  2. the typical request: five points set with the rebuild deferred, then
 *     fit type 2 (least-squares quadratic) set without deferral, a row of
 *     8-bit pixels converted to floats;
 *  3. optical density from a black and an incident level, for 8-bit and
 *     16-bit pixels;
 *  4. the calibration and a spatial calibration (2.5 pixels per micrometre,
 *     origin at pixel (10, 10)) attached to an image, found again through the
 *     image, and pixel positions converted to micrometres.
 * Build against an installed copy:  cc demo.c $(pkg-config --cflags --libs calmgr) */
#include <calmgr.h>

#include <stdio.h>

static int check(int32_t status, const char* what) {
    if (status != CAL_OK) fprintf(stderr, "%s failed with status %d\n", what, (int)status);
    return status == CAL_OK;
}

static void print_row(const char* label, const double* values, int n) {
    int i;
    printf("%-30s", label);
    for (i = 0; i < n; ++i) printf(" %8.4f", values[i] + 0.0); /* no "-0.0000" */
    printf("\n");
}

static void print_stats(IntensityCal* cal) {
    double table_min, table_max;
    ICalControl(cal, ICAL_GET_TABLE_MIN, 0, 0, &table_min);
    ICalControl(cal, ICAL_GET_TABLE_MAX, 0, 0, &table_max);
    printf("%-30s %8.4f .. %.4f\n", "  table minimum .. maximum:", table_min + 0.0, table_max + 0.0);
}

static const uint8_t row8[6] = {0, 10, 50, 100, 200, 255};

static int two_point_line(IntensityCal* cal) {
    const CalPoint line[2] = {{10.0, 0.0}, {250.0, 3.0}};
    double out[6];
    if (!check(ICalControl(cal, ICAL_SET_POINTS, 2, 0, (void*)line), "set points")) return 0;
    ICalLookupEx(cal, ICAL_SAMPLE_U8, row8, 6, out);
    print_row("line, 8-bit:", out, 6);
    return 1;
}

static int quadratic_fit(IntensityCal* cal) {
    const CalPoint wedge[5] = {{0, 0.02}, {64, 0.35}, {128, 0.91}, {192, 1.72}, {255, 2.81}};
    float out[6];
    double wide[6];
    int i;
    /* Deferred: the table is built once, by the fit type below. */
    if (!check(ICalControl(cal, ICAL_SET_POINTS, 5, 1, (void*)wedge), "set points")) return 0;
    if (!check(ICalControl(cal, ICAL_SET_FIT_TYPE, 2, 0, NULL), "set fit type")) return 0;
    ICalLookupEx(cal, ICAL_SAMPLE_U8 | ICAL_LOOKUP_FLOAT, row8, 6, out);
    for (i = 0; i < 6; ++i) wide[i] = out[i];
    print_row("quadratic fit, 8-bit -> float:", wide, 6);
    print_stats(cal);
    return 1;
}

static int optical_density(IntensityCal* cal) {
    const uint16_t row16[6] = {0, 1000, 2000, 3000, 4000, 4095};
    double out[6];
    double black = 5.0, incident = 250.0, range_max = 4095.0;
    ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
    ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &incident);
    if (!check(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, NULL), "set type")) return 0;
    ICalLookupEx(cal, ICAL_SAMPLE_U8, row8, 6, out);
    print_row("density, 8-bit:", out, 6);

    /* The same model over a 12-bit range with one entry per input. */
    black = 80.0;
    incident = 4000.0;
    ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &range_max);
    ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
    ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &incident);
    if (!check(ICalControl(cal, ICAL_SET_TABLE_SIZE, 4096, 0, NULL), "set table size")) return 0;
    ICalLookupEx(cal, ICAL_SAMPLE_U16, row16, 6, out);
    print_row("density, 16-bit:", out, 6);
    print_stats(cal);
    return 1;
}

static int attach_and_convert(IntensityCal* cal) {
    const CalImageHandle image = 1;
    const PixelPoint pixels[3] = {{10, 10}, {35, 10}, {0, 60}};
    RealPoint microns[3];
    double scale = 2.5, origin = 10.0, area;
    int i, ok;
    SpatialCal* scal = SCalCreate();
    if (scal == NULL) {
        fprintf(stderr, "out of memory\n");
        return 0;
    }
    SCalControl(scal, SCAL_SET_UNITS, 0, 0, (void*)"um");
    SCalControl(scal, SCAL_SET_SCALE, 0, 0, &scale);
    SCalControl(scal, SCAL_SET_SCALE, 1, 0, &scale);
    SCalControl(scal, SCAL_SET_ORIGIN, 0, 0, &origin);
    SCalControl(scal, SCAL_SET_ORIGIN, 1, 0, &origin);
    SCalControl(scal, SCAL_GET_PIXEL_AREA, 0, 0, &area);
    ok = check(ICalSetHandle(image, cal), "attach intensity calibration") &&
         check(SCalSetHandle(image, scal), "attach spatial calibration");
    if (ok) {
        printf("image %u: intensity calibration %s, spatial calibration %s\n", (unsigned)image,
               ICalGetHandle(image) == cal ? "attached" : "missing",
               SCalGetHandle(image) == scal ? "attached" : "missing");
        ok = check(SCalPixToCU(SCalGetHandle(image), pixels, microns, 3), "convert");
    }
    for (i = 0; ok && i < 3; ++i)
        printf("pixel (%d, %d) -> (%.2f, %.2f) um\n", (int)pixels[i].x, (int)pixels[i].y, microns[i].x + 0.0,
               microns[i].y + 0.0);
    if (ok) printf("pixel area %.4f um^2\n", area);
    ICalSetHandle(image, NULL);
    SCalSetHandle(image, NULL);
    return check(SCalDestroy(scal), "destroy spatial calibration") && ok;
}

int main(void) {
    char name[128];
    int ok;
    IntensityCal* cal = ICalCreate();
    if (cal == NULL) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    ICalControl(cal, ICAL_GET_NAME, 0, 0, name);
    printf("created \"%s\"\n", name);
    ok = two_point_line(cal) && quadratic_fit(cal) && attach_and_convert(cal) && optical_density(cal);
    return check(ICalDestroy(cal), "destroy") && ok ? 0 : 1;
}
