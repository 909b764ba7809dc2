// Intensity calibrations to and from JSON. Saving reads every setting
// through ICalControl; loading validates the whole document first, then
// builds a new calibration with every rebuild deferred and triggers one
// rebuild at the end (type 2 takes its table from the document instead).
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

// Reads one setting; ICalControl's getters do not change the calibration.
template <typename T>
T get(const IntensityCal* cal, uint32_t code) {
    T v{};
    const int32_t st = ICalControl(const_cast<IntensityCal*>(cal), code, 0, 0, &v);
    if (st != CAL_OK) fail(st, "reading control " + std::to_string(code) + " failed with status " + std::to_string(st));
    return v;
}

std::string get_text(const IntensityCal* cal, uint32_t code, const char* field) {
    char buf[128] = {};
    if (ICalControl(const_cast<IntensityCal*>(cal), code, 0, 0, buf) != CAL_OK)
        fail(CAL_ERR_INVALID, std::string("reading ") + field + " failed");
    buf[127] = '\0';
    if (!is_valid_utf8(buf)) fail(CALIO_ERR_VALUE, std::string(field) + ": not valid UTF-8");
    return buf;
}

std::string finite(double v, const std::string& field) {
    if (!std::isfinite(v)) fail(CALIO_ERR_VALUE, field + ": not finite, cannot be saved");
    return format_double(v);
}

bool known_fit_type(int64_t t) { return (t >= 0 && t <= 13) || (t >= 21 && t <= 23); }

IntensityFields read_fields(const Json& root) {
    IntensityFields f;
    f.name = read_name(member(root, "name"), "name");
    f.units = read_name(member(root, "units"), "units");
    f.type = read_int(member(root, "type"), "type", 0, 3);
    f.range_min = read_finite(member(root, "range_min"), "range_min");
    f.range_max = read_finite(member(root, "range_max"), "range_max");
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
    f.fit_type = read_int(member(root, "fit_type"), "fit_type", 0, 23);
    if (!known_fit_type(f.fit_type))
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

// Owns a calibration under construction until it is handed out.
struct Building {
    IntensityCal* cal;
    ~Building() { if (cal != nullptr) ICalDestroy(cal); }
    void control(uint32_t code, int32_t value, int32_t index, const void* data, const char* field) {
        const int32_t st = ICalControl(cal, code, value, index, const_cast<void*>(data));
        if (st != CAL_OK)
            fail(st == CAL_ERR_NOMEM ? int32_t{CAL_ERR_NOMEM} : int32_t{CALIO_ERR_FORMAT},
                 std::string(field) + ": the calibration refused the value (status " + std::to_string(st) + ")");
    }
};

}  // namespace

std::string intensity_to_json(const IntensityCal* cal) {
    ObjectWriter w;
    w.field("format", quote(kFormat));
    w.field("version", std::to_string(CALIO_FORMAT_VERSION));
    w.field("name", quote(get_text(cal, ICAL_GET_NAME, "name")));
    w.field("units", quote(get_text(cal, ICAL_GET_UNITS, "units")));
    const auto type = get<uint32_t>(cal, ICAL_GET_TYPE);
    w.field("type", std::to_string(type));
    w.field("range_min", finite(get<double>(cal, ICAL_GET_RANGE_MIN), "range_min"));
    w.field("range_max", finite(get<double>(cal, ICAL_GET_RANGE_MAX), "range_max"));
    const auto table_size = get<uint16_t>(cal, ICAL_GET_TABLE_SIZE);
    w.field("table_size", std::to_string(table_size));
    const auto num_points = get<uint16_t>(cal, ICAL_GET_NUM_POINTS);
    std::vector<CalPoint> points(num_points);
    if (num_points != 0) ICalControl(const_cast<IntensityCal*>(cal), ICAL_GET_POINTS, 0, 0, points.data());
    std::vector<std::string> items;
    for (size_t i = 0; i < points.size(); ++i) {
        const std::string field = "points[" + std::to_string(i) + "]";
        std::string pair(1, '[');
        pair += finite(points[i].input, field + "[0]");
        pair += ", ";
        pair += finite(points[i].calibrated, field + "[1]");
        pair += ']';
        items.push_back(std::move(pair));
    }
    w.field("points", json_array(items.data(), items.size(), 1));
    w.field("fit_type", std::to_string(get<int16_t>(cal, ICAL_GET_FIT_TYPE)));
    w.field("options", std::to_string(get<uint16_t>(cal, ICAL_GET_OPTIONS)));
    w.field("black_level", finite(get<double>(cal, ICAL_GET_BLACK_LEVEL), "black_level"));
    w.field("incident_level", finite(get<double>(cal, ICAL_GET_INCIDENT_LEVEL), "incident_level"));
    w.field("attribute", std::to_string(get<int16_t>(cal, ICAL_GET_ATTRIBUTE)));
    if (type == ICAL_TYPE_TABLE) {
        std::vector<double> table(table_size);
        if (table_size != 0) ICalControl(const_cast<IntensityCal*>(cal), ICAL_GET_TABLE, 0, 0, table.data());
        items.clear();
        for (double v : table) items.push_back(format_any_double(v));
        w.field("table", json_array(items.data(), items.size(), 8));
    }
    return w.finish();
}

IntensityCal* intensity_from_json(const std::string& text) {
    const Json root = parse_document(text);
    check_header(root, kFormat);
    const IntensityFields f = read_fields(root);

    Building b{ICalCreate()};
    if (b.cal == nullptr) fail(CAL_ERR_NOMEM, "out of memory");
    const int32_t defer = 1;
    b.control(ICAL_SET_NAME, 0, 0, f.name.c_str(), "name");
    b.control(ICAL_SET_UNITS, 0, 0, f.units.c_str(), "units");
    b.control(ICAL_SET_RANGE_MIN, 0, defer, &f.range_min, "range_min");
    b.control(ICAL_SET_RANGE_MAX, 0, defer, &f.range_max, "range_max");
    b.control(ICAL_SET_BLACK_LEVEL, 0, defer, &f.black_level, "black_level");
    b.control(ICAL_SET_INCIDENT_LEVEL, 0, defer, &f.incident_level, "incident_level");
    b.control(ICAL_SET_OPTIONS, static_cast<int32_t>(f.options), defer, nullptr, "options");
    b.control(ICAL_SET_FIT_TYPE, static_cast<int32_t>(f.fit_type), defer, nullptr, "fit_type");
    b.control(ICAL_SET_ATTRIBUTE, static_cast<int32_t>(f.attribute), 0, nullptr, "attribute");
    if (f.type == ICAL_TYPE_NONE) {
        b.control(ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr, "type");
    } else {
        b.control(ICAL_SET_TYPE, static_cast<int32_t>(f.type), defer, nullptr, "type");
        b.control(ICAL_SET_POINTS, static_cast<int32_t>(f.points.size()), defer, f.points.data(), "points");
        if (f.type == ICAL_TYPE_TABLE) {
            b.control(ICAL_SET_TABLE, static_cast<int32_t>(f.table.size()), 0, f.table.data(), "table");
        } else {
            b.control(ICAL_SET_TABLE_SIZE, static_cast<int32_t>(f.table_size), defer, nullptr, "table_size");
            // One rebuild from all the settings above.
            const int32_t st = ICalControl(b.cal, ICAL_SET_TYPE, static_cast<int32_t>(f.type), 0, nullptr);
            if (st != CAL_OK)
                fail(st == CAL_ERR_NOMEM ? int32_t{CAL_ERR_NOMEM} : int32_t{CALIO_ERR_FORMAT},
                     "the table cannot be built from these settings (status " + std::to_string(st) +
                         "): check fit_type, points, black_level and incident_level");
        }
    }
    IntensityCal* cal = b.cal;
    b.cal = nullptr;
    return cal;
}

}  // namespace calmgr::io
