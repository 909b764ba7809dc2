// CalVersion: the library's own version, from the same header macros that
// applications compile against, so the two can be compared at run time.
#include "calmgr.h"

#define CALMGR_STR_(x) #x
#define CALMGR_STR(x) CALMGR_STR_(x)

extern "C" CALMGR_API const char* CalVersion(void) {
    return CALMGR_STR(CALMGR_VERSION_MAJOR) "." CALMGR_STR(CALMGR_VERSION_MINOR) "." CALMGR_STR(
        CALMGR_VERSION_PATCH);
}
