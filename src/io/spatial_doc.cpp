// Spatial calibrations to and from JSON. The scales are saved as pixels
// per unit (what the calibration stores), not as pixel sizes, so that they
// read back bit for bit; the pixel area follows from them.
#include "calmgr.hpp"
#include "calmgr_io.h"
#include "io/documents.h"
#include "io/io_error.h"
#include "io/json_read.h"
#include "io/json_write.h"

#include <cmath>

namespace calmgr::io {
namespace {

constexpr const char* kFormat = "calmgr.spatial";

// Scales take what SCalControl takes: anything but 0 and NaN.
double read_scale(const Json& root, const char* field) {
    const double v = read_any_double(member(root, field), field);
    if (v == 0.0 || std::isnan(v)) fail(CALIO_ERR_FORMAT, std::string(field) + ": must not be 0 or NaN");
    return v;
}

}  // namespace

std::string spatial_to_json(const SpatialCal* cal) {
    const SpatialView view(cal);
    ObjectWriter w;
    w.field("format", quote(kFormat));
    w.field("version", std::to_string(CALIO_FORMAT_VERSION));
    w.field("name", text_value(view.name(), "name"));
    w.field("units", text_value(view.units(), "units"));
    w.field("x_scale", format_any_double(view.scale(Axis::X)));
    w.field("y_scale", format_any_double(view.scale(Axis::Y)));
    w.field("x_origin", finite_number(view.origin(Axis::X), "x_origin"));
    w.field("y_origin", finite_number(view.origin(Axis::Y), "y_origin"));
    w.field("aux_value", format_any_double(view.aux_value()));
    return w.finish();
}

SpatialCal* spatial_from_json(const std::string& text) {
    const Json root = parse_document(text);
    check_header(root, kFormat);
    const std::string name = read_name(member(root, "name"), "name");
    const std::string units = read_name(member(root, "units"), "units");
    const double x_scale = read_scale(root, "x_scale");
    const double y_scale = read_scale(root, "y_scale");
    const double x_origin = read_finite(member(root, "x_origin"), "x_origin");
    const double y_origin = read_finite(member(root, "y_origin"), "y_origin");
    const double aux = read_any_double(member(root, "aux_value"), "aux_value");

    auto cal = new_calibration<SpatialCalibration>();
    set_field("name", [&] { cal.set_name(name); });
    set_field("units", [&] { cal.set_units(units); });
    set_field("x_scale", [&] { cal.set_scale(Axis::X, x_scale); });
    set_field("y_scale", [&] { cal.set_scale(Axis::Y, y_scale); });
    set_field("x_origin", [&] { cal.set_origin(Axis::X, x_origin); });
    set_field("y_origin", [&] { cal.set_origin(Axis::Y, y_origin); });
    set_field("aux_value", [&] { cal.set_aux_value(aux); });
    return cal.release();
}

}  // namespace calmgr::io
