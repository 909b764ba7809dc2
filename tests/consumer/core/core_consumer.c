/* Uses the core library alone through calmgr.h: the loaded library has the
 * header's version, and a calibration converts pixels. Exits 0 when both
 * hold. */
#include <calmgr.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    const CalPoint line[2] = {{0.0, 1.0}, {255.0, 3.0}};
    const uint8_t pixels[3] = {0, 128, 255};
    double out[3];
    char header[32];
    IntensityCal* cal;
    snprintf(header, sizeof header, "%d.%d.%d", CALMGR_VERSION_MAJOR, CALMGR_VERSION_MINOR, CALMGR_VERSION_PATCH);
    if (strcmp(CalVersion(), header) != 0) {
        fprintf(stderr, "library version %s, header version %s\n", CalVersion(), header);
        return 1;
    }
    cal = ICalCreate();
    if (cal == NULL || ICalControl(cal, ICAL_SET_POINTS, 2, 0, (void*)line) != CAL_OK) return 1;
    ICalLookupEx(cal, ICAL_SAMPLE_U8, pixels, 3, out);
    ICalDestroy(cal);
    if (out[0] != 1.0 || out[2] != 3.0 || !(out[1] > 1.0 && out[1] < 3.0)) {
        fprintf(stderr, "unexpected lookup results\n");
        return 1;
    }
    printf("core consumer: ok\n");
    return 0;
}
