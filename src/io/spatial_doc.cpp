// Spatial calibrations to and from JSON. The scales are saved as pixels
// per unit (what the calibration stores), not as pixel sizes, so that they
// read back bit for bit; the pixel area follows from them.
#include "calmgr_io.h"
#include "io/documents.h"
#include "io/io_error.h"
#include "io/json_read.h"
#include "io/json_write.h"

#include <cmath>

namespace calmgr::io {
namespace {

constexpr const char* kFormat = "calmgr.spatial";

double get(const SpatialCal* cal, uint32_t code, int32_t axis) {
    double v = 0.0;
    const int32_t st = SCalControl(const_cast<SpatialCal*>(cal), code, axis, 0, &v);
    if (st != CAL_OK) fail(st, "reading control " + std::to_string(code) + " failed with status " + std::to_string(st));
    return v;
}

std::string get_text(const SpatialCal* cal, uint32_t code, const char* field) {
    char buf[128] = {};
    if (SCalControl(const_cast<SpatialCal*>(cal), code, 0, 0, buf) != CAL_OK)
        fail(CAL_ERR_INVALID, std::string("reading ") + field + " failed");
    buf[127] = '\0';
    if (!is_valid_utf8(buf)) fail(CALIO_ERR_VALUE, std::string(field) + ": not valid UTF-8");
    return buf;
}

std::string finite(double v, const char* field) {
    if (!std::isfinite(v)) fail(CALIO_ERR_VALUE, std::string(field) + ": not finite, cannot be saved");
    return format_double(v);
}

// Scales take what SCalControl takes: anything but 0 and NaN.
double read_scale(const Json& root, const char* field) {
    const double v = read_any_double(member(root, field), field);
    if (v == 0.0 || std::isnan(v)) fail(CALIO_ERR_FORMAT, std::string(field) + ": must not be 0 or NaN");
    return v;
}

struct Building {
    SpatialCal* cal;
    ~Building() { if (cal != nullptr) SCalDestroy(cal); }
    void control(uint32_t code, int32_t axis, const void* data, const char* field) {
        const int32_t st = SCalControl(cal, code, axis, 0, const_cast<void*>(data));
        if (st != CAL_OK)
            fail(CALIO_ERR_FORMAT, std::string(field) + ": the calibration refused the value (status " +
                                       std::to_string(st) + ")");
    }
};

}  // namespace

std::string spatial_to_json(const SpatialCal* cal) {
    ObjectWriter w;
    w.field("format", quote(kFormat));
    w.field("version", std::to_string(CALIO_FORMAT_VERSION));
    w.field("name", quote(get_text(cal, SCAL_GET_NAME, "name")));
    w.field("units", quote(get_text(cal, SCAL_GET_UNITS, "units")));
    w.field("x_scale", format_any_double(get(cal, SCAL_GET_SCALE, 0)));
    w.field("y_scale", format_any_double(get(cal, SCAL_GET_SCALE, 1)));
    w.field("x_origin", finite(get(cal, SCAL_GET_ORIGIN, 0), "x_origin"));
    w.field("y_origin", finite(get(cal, SCAL_GET_ORIGIN, 1), "y_origin"));
    w.field("aux_value", format_any_double(get(cal, SCAL_GET_AUX_VALUE, 0)));
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

    Building b{SCalCreate()};
    if (b.cal == nullptr) fail(CAL_ERR_NOMEM, "out of memory");
    b.control(SCAL_SET_NAME, 0, name.c_str(), "name");
    b.control(SCAL_SET_UNITS, 0, units.c_str(), "units");
    b.control(SCAL_SET_SCALE, 0, &x_scale, "x_scale");
    b.control(SCAL_SET_SCALE, 1, &y_scale, "y_scale");
    b.control(SCAL_SET_ORIGIN, 0, &x_origin, "x_origin");
    b.control(SCAL_SET_ORIGIN, 1, &y_origin, "y_origin");
    b.control(SCAL_SET_AUX_VALUE, 0, &aux, "aux_value");
    SpatialCal* cal = b.cal;
    b.cal = nullptr;
    return cal;
}

}  // namespace calmgr::io
