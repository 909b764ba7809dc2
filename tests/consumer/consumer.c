/* Uses an installed calmgr and calmgr_io through their public headers:
 * builds a calibration, converts pixels, saves it to a string and loads it
 * back. Exits 0 when everything agrees. */
#include <calmgr.h>
#include <calmgr_io.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    const CalPoint line[2] = {{0.0, 1.0}, {255.0, 3.0}};
    const uint8_t pixels[3] = {0, 128, 255};
    double a[3], b[3];
    char err[256];
    IntensityCal* cal = ICalCreate();
    IntensityCal* copy;
    char* json;
    if (cal == NULL || ICalControl(cal, ICAL_SET_POINTS, 2, 0, (void*)line) != CAL_OK) return 1;
    json = CalIntensityToJson(cal, err, sizeof err);
    if (json == NULL) {
        fprintf(stderr, "%s\n", err);
        return 1;
    }
    copy = CalIntensityFromJson(json, err, sizeof err);
    CalFreeJson(json);
    if (copy == NULL) {
        fprintf(stderr, "%s\n", err);
        return 1;
    }
    ICalLookupEx(cal, ICAL_SAMPLE_U8, pixels, 3, a);
    ICalLookupEx(copy, ICAL_SAMPLE_U8, pixels, 3, b);
    if (memcmp(a, b, sizeof a) != 0 || a[0] != 1.0 || a[2] != 3.0) {
        fprintf(stderr, "lookups differ\n");
        return 1;
    }
    ICalDestroy(copy);
    ICalDestroy(cal);
    printf("consumer: ok\n");
    return 0;
}
