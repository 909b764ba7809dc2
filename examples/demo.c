/* A small tour of calmgr: build an intensity calibration from two points,
 * switch it to optical density, convert rows of 8-bit and 16-bit pixels,
 * then attach it and a spatial calibration to an image and convert pixel
 * positions to micrometres.
 * Build against an installed copy:  cc demo.c $(pkg-config --cflags --libs calmgr) */
#include <calmgr.h>

#include <stdio.h>

static int check(int32_t status, const char* what) {
    if (status != CAL_OK) fprintf(stderr, "%s failed with status %d\n", what, (int)status);
    return status == CAL_OK;
}

static void print_row(const char* label, const double* values, int n) {
    int i;
    printf("%-28s", label);
    for (i = 0; i < n; ++i) printf(" %8.4f", values[i] + 0.0); /* no "-0.0000" */
    printf("\n");
}

int main(void) {
    const uint8_t row8[6] = {0, 10, 50, 100, 200, 255};
    const uint16_t row16[6] = {0, 1000, 2000, 3000, 4000, 4095};
    const CalPoint line[2] = {{10.0, 0.0}, {250.0, 3.0}};
    double out[6];
    double table_min, table_max;
    char name[128];
    IntensityCal* cal = ICalCreate();
    if (cal == NULL) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    ICalControl(cal, ICAL_GET_NAME, 0, 0, name);
    printf("created \"%s\"\n", name);

    /* Two points: a straight line through (10, 0) and (250, 3). */
    if (!check(ICalControl(cal, ICAL_SET_POINTS, 2, 0, (void*)line), "set points")) return 1;
    ICalLookupEx(cal, ICAL_SAMPLE_U8, row8, 6, out);
    print_row("line, 8-bit 0..255:", out, 6);

    /* Optical density: black level 5, incident level 250. */
    {
        double black = 5.0, incident = 250.0;
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
        ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &incident);
    }
    if (!check(ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_DENSITY, 0, NULL), "set type")) return 1;
    ICalLookupEx(cal, ICAL_SAMPLE_U8, row8, 6, out);
    print_row("density, 8-bit 0..255:", out, 6);

    /* The same curve over a 12-bit range, for 16-bit pixels. */
    {
        double range_max = 4095.0, black = 80.0, incident = 4000.0;
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &range_max);
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &black);
        ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &incident);
        if (!check(ICalControl(cal, ICAL_SET_TABLE_SIZE, 4096, 0, NULL), "set table size")) return 1;
    }
    ICalLookupEx(cal, ICAL_SAMPLE_U16, row16, 6, out);
    print_row("density, 16-bit 0..4095:", out, 6);
    ICalControl(cal, ICAL_GET_TABLE_MIN, 0, 0, &table_min);
    ICalControl(cal, ICAL_GET_TABLE_MAX, 0, 0, &table_max);
    printf("table minimum %.6f, maximum %.6f\n", table_min + 0.0, table_max + 0.0);

    /* A spatial calibration of 2.5 pixels per micrometre with its origin at
     * pixel (10, 10); both calibrations are attached to image 1 and found
     * again through the image. */
    {
        const CalImageHandle image = 1;
        const PixelPoint pixels[3] = {{10, 10}, {35, 10}, {0, 60}};
        RealPoint microns[3];
        double scale = 2.5, origin = 10.0, area;
        SpatialCal* scal = SCalCreate();
        int i;
        if (scal == NULL) {
            fprintf(stderr, "out of memory\n");
            return 1;
        }
        SCalControl(scal, SCAL_SET_UNITS, 0, 0, (void*)"um");
        SCalControl(scal, SCAL_SET_SCALE, 0, 0, &scale);
        SCalControl(scal, SCAL_SET_SCALE, 1, 0, &scale);
        SCalControl(scal, SCAL_SET_ORIGIN, 0, 0, &origin);
        SCalControl(scal, SCAL_SET_ORIGIN, 1, 0, &origin);
        SCalControl(scal, SCAL_GET_PIXEL_AREA, 0, 0, &area);
        if (!check(ICalSetHandle(image, cal), "attach intensity calibration") ||
            !check(SCalSetHandle(image, scal), "attach spatial calibration"))
            return 1;
        printf("image %u: intensity calibration %s, spatial calibration %s\n", (unsigned)image,
               ICalGetHandle(image) == cal ? "attached" : "missing",
               SCalGetHandle(image) == scal ? "attached" : "missing");
        if (!check(SCalPixToCU(SCalGetHandle(image), pixels, microns, 3), "convert")) return 1;
        for (i = 0; i < 3; ++i)
            printf("pixel (%d, %d) -> (%.2f, %.2f) um\n", (int)pixels[i].x, (int)pixels[i].y,
                   microns[i].x + 0.0, microns[i].y + 0.0);
        printf("pixel area %.4f um^2\n", area);
        ICalSetHandle(image, NULL);
        SCalSetHandle(image, NULL);
        if (!check(SCalDestroy(scal), "destroy spatial calibration")) return 1;
    }

    return check(ICalDestroy(cal), "destroy") ? 0 : 1;
}
