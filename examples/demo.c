/* A small tour of calmgr: build an intensity calibration from two points,
 * switch it to optical density, and convert rows of 8-bit and 16-bit pixels.
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

    return check(ICalDestroy(cal), "destroy") ? 0 : 1;
}
