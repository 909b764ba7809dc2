// An SVG picture of an intensity calibration: the table as a curve over
// its input range, the calibration points marked, axes with ticks and
// labels in the calibration's units.
#pragma once

#include "cal_info.h"

#include <string>

namespace tool {

std::string svg_plot(const CalSnapshot& info);

}  // namespace tool
