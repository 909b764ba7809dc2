// Fitted-curve builder for standard curves with other than two points.
#include "intensity/ical.h"

namespace calmgr {

// Fitted curves are not built yet: such a calibration is refused and its
// table left as it is.
int32_t build_fitted_table(IntensityCal*) { return CAL_ERR_INVALID; }

}  // namespace calmgr
