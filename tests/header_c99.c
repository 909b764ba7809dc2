/* The public header must compile as plain C99. */
#include "calmgr.h"

int calmgr_header_c99_probe(void) {
    CalPoint p = {0.0, 1.0};
    return (int)sizeof p + ICAL_SET_OPTIONS + SCAL_GET_NEXT;
}
