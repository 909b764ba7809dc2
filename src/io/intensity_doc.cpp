// Intensity calibrations to and from JSON, through the C++ layer. Saving
// reads a snapshot of every setting; loading validates the whole document
// first, then builds a new calibration with every rebuild deferred and
// triggers one rebuild at the end (type 2 takes its table from the
// document instead).
#include "calmgr.hpp"
#include "calmgr_io.h"
#include "io/documents.h"
#include "io/io_error.h"
#include "io/json_read.h"
#include "io/json_write.h"

#include <cmath>
#include <string>
#include <vector>

namespace calmgr::io {
namespace {

constexpr const char* kFormat = "calmgr.intensity";
constexpr int64_t kMaxCount = 32767;  // counts travel as signed 16-bit values

// What a document holds, checked before any calibration exists.
struct IntensityFields {
    std::string name, units;
    int64_t type = 0;
    double range_min = 0, range_max = 0;
    int64_t table_size = 0;
    std::vector<CalPoint> points;
    int64_t fit_type = 0;
    int64_t options = 0;
    double black_level = 0, incident_level = 0;
    int64_t attribute = 0;
    std::vector<double> table;
};

IntensityFields read_fields(const Json& root) {
    IntensityFields f;
    f.name = read_name(member(root, "name"), "name");
    f.units = read_name(member(root, "units"), "units");
    f.type = read_int(member(root, "type"), "type", 0, 3);
    f.range_min = read_finite(member(root, "range_min"), "range_min");
    f.range_max = read_finite(member(root, "range_max"), "range_max");
    if (!(f.range_max > f.range_min))
        fail(CALIO_ERR_FORMAT, "range_max: " + format_double(f.range_max) + " is not above range_min " +
                                   format_double(f.range_min) + " (an empty or inverted range)");
    const bool none = f.type == ICAL_TYPE_NONE;
    f.table_size = read_int(member(root, "table_size"), "table_size", none ? 0 : 2, none ? 0 : kMaxCount);
    const Json& pts = member(root, "points");
    if (!pts.is_array()) fail(CALIO_ERR_FORMAT, std::string("points: expected an array, found ") + pts.type_name());
    const size_t lo = none ? 0 : 2, hi = none ? 0 : kMaxCount;
    if (pts.size() < lo || pts.size() > hi)
        fail(CALIO_ERR_FORMAT, "points: " + std::to_string(pts.size()) + " points, expected " +
                                   (none ? std::string("none for type 3") : "2.." + std::to_string(kMaxCount)));
    for (size_t i = 0; i < pts.size(); ++i) {
        const std::string field = "points[" + std::to_string(i) + "]";
        if (!pts[i].is_array() || pts[i].size() != 2)
            fail(CALIO_ERR_FORMAT, field + ": expected an [input, calibrated] pair");
        f.points.push_back({read_finite(pts[i][0], field + "[0]"), read_finite(pts[i][1], field + "[1]")});
    }
    f.fit_type = read_int(member(root, "fit_type"), "fit_type", ICAL_FIT_PIECEWISE, ICAL_FIT_LOG3);
    if (!calmgr::is_fit_code(f.fit_type))
        fail(CALIO_ERR_FORMAT, "fit_type: " + std::to_string(f.fit_type) + " is not a fit type (0..13, 21..23)");
    f.options = read_int(member(root, "options"), "options", 0, 0xFFFF);
    f.black_level = read_finite(member(root, "black_level"), "black_level");
    f.incident_level = read_finite(member(root, "incident_level"), "incident_level");
    f.attribute = read_int(member(root, "attribute"), "attribute", -32768, 32767);
    const auto table = root.find("table");
    if (f.type == ICAL_TYPE_TABLE) {
        if (table == root.end()) fail(CALIO_ERR_FORMAT, "table: missing (required for type 2)");
        if (!table->is_array()) fail(CALIO_ERR_FORMAT, std::string("table: expected an array, found ") + table->type_name());
        if (static_cast<int64_t>(table->size()) != f.table_size)
            fail(CALIO_ERR_FORMAT, "table: " + std::to_string(table->size()) + " entries, table_size says " +
                                       std::to_string(f.table_size));
        for (size_t i = 0; i < table->size(); ++i)
            f.table.push_back(read_any_double((*table)[i], "table[" + std::to_string(i) + "]"));
    } else if (table != root.end()) {
        fail(CALIO_ERR_FORMAT, "table: only a type 2 calibration holds a table");
    }
    return f;
}

}  // namespace

std::string intensity_to_json(const IntensityCal* cal) {
    const IntensitySnapshot s = IntensityView(cal).snapshot();
    ObjectWriter w;
    w.field("format", quote(kFormat));
    w.field("version", std::to_string(CALIO_FORMAT_VERSION));
    w.field("name", text_value(s.name, "name"));
    w.field("units", text_value(s.units, "units"));
    w.field("type", std::to_string(static_cast<uint32_t>(s.type)));
    w.field("range_min", finite_number(s.range.min, "range_min"));
    w.field("range_max", finite_number(s.range.max, "range_max"));
    // The loader refuses such a range; saving it would write a file that
    // cannot be read back.
    if (!(s.range.max > s.range.min))
        fail(CALIO_ERR_VALUE, "range_max: not above range_min (an empty or inverted range), cannot be saved");
    w.field("table_size", std::to_string(s.table.size()));
    std::vector<std::string> items;
    for (size_t i = 0; i < s.points.size(); ++i) {
        const std::string field = "points[" + std::to_string(i) + "]";
        std::string pair(1, '[');
        pair += finite_number(s.points[i].input, field + "[0]");
        pair += ", ";
        pair += finite_number(s.points[i].calibrated, field + "[1]");
        pair += ']';
        items.push_back(std::move(pair));
    }
    w.field("points", json_array(items.data(), items.size(), 1));
    w.field("fit_type", std::to_string(static_cast<int16_t>(s.fit)));
    w.field("options", std::to_string(static_cast<uint16_t>(s.options)));
    w.field("black_level", finite_number(s.black_level, "black_level"));
    w.field("incident_level", finite_number(s.incident_level, "incident_level"));
    w.field("attribute", std::to_string(s.attribute));
    if (s.type == CalType::Table) {
        items.clear();
        for (double v : s.table) items.push_back(format_any_double(v));
        w.field("table", json_array(items.data(), items.size(), 8));
    }
    return w.finish();
}

IntensityCal* intensity_from_json(const std::string& text) {
    const Json root = parse_document(text);
    check_header(root, kFormat);
    const IntensityFields f = read_fields(root);
    const auto type = static_cast<CalType>(f.type);
    const Rebuild defer = Rebuild::Deferred;

    auto cal = new_calibration<IntensityCalibration>();
    set_field("name", [&] { cal.set_name(f.name); });
    set_field("units", [&] { cal.set_units(f.units); });
    set_field("range_min", [&] { cal.set_range_min(f.range_min, defer); });
    set_field("range_max", [&] { cal.set_range_max(f.range_max, defer); });
    set_field("black_level", [&] { cal.set_black_level(f.black_level, defer); });
    set_field("incident_level", [&] { cal.set_incident_level(f.incident_level, defer); });
    set_field("options", [&] { cal.set_options(static_cast<Options>(f.options), defer); });
    set_field("fit_type", [&] { cal.set_fit_type(static_cast<Fit>(f.fit_type), defer); });
    set_field("attribute", [&] { cal.set_attribute(static_cast<int16_t>(f.attribute)); });
    if (type == CalType::None) {
        set_field("type", [&] { cal.set_type(CalType::None); });
    } else {
        set_field("type", [&] { cal.set_type(type, defer); });
        set_field("points", [&] { cal.set_points(f.points, defer); });
        if (type == CalType::Table) {
            set_field("table", [&] { cal.set_table(f.table); });
        } else {
            set_field("table_size", [&] { cal.set_table_size(static_cast<size_t>(f.table_size), defer); });
            // One rebuild from all the settings above.
            try {
                cal.set_type(type);
            } catch (const Error& e) {
                fail(e.status() == CAL_ERR_NOMEM ? int32_t{CAL_ERR_NOMEM} : int32_t{CALIO_ERR_FORMAT},
                     "the table cannot be built from these settings (status " + std::to_string(e.status()) +
                         "): check fit_type, points, black_level and incident_level");
            }
        }
    }
    return cal.release();
}

}  // namespace calmgr::io
