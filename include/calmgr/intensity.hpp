/*
 * calmgr/intensity.hpp - calmgr::IntensityCalibration, an owning wrapper of an
 * intensity calibration with typed controls and lookups.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_INTENSITY_HPP
#define CALMGR_INTENSITY_HPP

#include "calmgr/core.hpp"

namespace calmgr {

// ---------------------------------------------------------------------------
// Intensity calibration
// ---------------------------------------------------------------------------

class IntensityCalibration {
public:
    /* A new calibration with the library's defaults. */
    IntensityCalibration() : cal_(ICalCreate()) {
        if (cal_ == nullptr) throw Error(CAL_ERR_NOMEM, "ICalCreate");
    }
    /* Takes ownership of a handle from ICalCreate (null is refused). */
    explicit IntensityCalibration(IntensityCal* adopt) : cal_(adopt) {
        detail::require(adopt != nullptr, "IntensityCalibration: null handle");
    }
    IntensityCalibration(const IntensityCalibration&) = delete;
    IntensityCalibration& operator=(const IntensityCalibration&) = delete;
    IntensityCalibration(IntensityCalibration&& other) noexcept
        : cal_(std::exchange(other.cal_, nullptr)) {}
    IntensityCalibration& operator=(IntensityCalibration&& other) noexcept {
        if (this != &other) {
            reset();
            cal_ = std::exchange(other.cal_, nullptr);
        }
        return *this;
    }
    ~IntensityCalibration() { reset(); }

    /* Builders: points with a fit type (two points always give the line);
     * optical density from black and incident levels; a whole table. */
    static IntensityCalibration from_points(Span<const CalPoint> points, Fit fit = Fit::Default) {
        IntensityCalibration cal;
        cal.set_points(points, Rebuild::Deferred);
        cal.set_fit_type(fit, Rebuild::Now);
        return cal;
    }
    static IntensityCalibration from_density(double black_level, double incident_level) {
        IntensityCalibration cal;
        cal.set_black_level(black_level, Rebuild::Deferred);
        cal.set_incident_level(incident_level, Rebuild::Deferred);
        cal.set_type(CalType::Density, Rebuild::Now);
        return cal;
    }
    static IntensityCalibration from_table(Span<const double> table, double range_min,
                                           double range_max) {
        IntensityCalibration cal;
        cal.set_type(CalType::Table, Rebuild::Deferred);
        cal.set_range_min(range_min, Rebuild::Deferred);
        cal.set_range_max(range_max, Rebuild::Deferred);
        cal.set_table(table);
        return cal;
    }

    IntensityCal* get() const noexcept { return cal_; }
    explicit operator bool() const noexcept { return cal_ != nullptr; }
    /* Gives up ownership; the caller must ICalDestroy the handle. */
    IntensityCal* release() noexcept { return std::exchange(cal_, nullptr); }
    /* Destroys the calibration now; the object is then empty. */
    void reset() noexcept {
        if (cal_ != nullptr) ICalDestroy(std::exchange(cal_, nullptr));
    }

    std::string name() const { return get_string(ICAL_GET_NAME); }
    void set_name(std::string_view name) { set_string(ICAL_SET_NAME, name); }
    std::string units() const { return get_string(ICAL_GET_UNITS); }
    void set_units(std::string_view units) { set_string(ICAL_SET_UNITS, units); }

    CalType type() const {
        uint32_t t = 0;
        control(ICAL_GET_TYPE, 0, 0, &t);
        return static_cast<CalType>(t);
    }
    void set_type(CalType type, Rebuild rebuild = Rebuild::Now) {
        control(ICAL_SET_TYPE, static_cast<int32_t>(type), static_cast<int32_t>(rebuild), nullptr);
    }

    double range_min() const { return get_double(ICAL_GET_RANGE_MIN); }
    void set_range_min(double v, Rebuild r = Rebuild::Now) { set_double(ICAL_SET_RANGE_MIN, v, r); }
    double range_max() const { return get_double(ICAL_GET_RANGE_MAX); }
    void set_range_max(double v, Rebuild r = Rebuild::Now) { set_double(ICAL_SET_RANGE_MAX, v, r); }
    /* Both limits, rebuilding once at the end unless deferred. */
    void set_range(double min, double max, Rebuild r = Rebuild::Now) {
        set_range_min(min, Rebuild::Deferred);
        set_range_max(max, r);
    }

    std::size_t num_points() const {
        uint16_t n = 0;
        control(ICAL_GET_NUM_POINTS, 0, 0, &n);
        return n;
    }
    std::vector<CalPoint> points() const {
        std::vector<CalPoint> points(num_points());
        if (!points.empty()) control(ICAL_GET_POINTS, 0, 0, points.data());
        return points;
    }
    void set_points(Span<const CalPoint> points, Rebuild r = Rebuild::Now) {
        detail::require(points.size() <= detail::max_count16, "set_points: more than 32767 points");
        control(ICAL_SET_POINTS, static_cast<int32_t>(points.size()), static_cast<int32_t>(r),
                const_cast<CalPoint*>(points.data()));
    }
    CalPoint point(std::size_t index) const {
        CalPoint p{};
        control(ICAL_GET_POINT, 0, point_index(index), &p.input);
        control(ICAL_GET_POINT, 1, point_index(index), &p.calibrated);
        return p;
    }
    /* Changes one point; a standard calibration rebuilds after each half. */
    void set_point(std::size_t index, CalPoint p) {
        set_point_input(index, p.input);
        set_point_calibrated(index, p.calibrated);
    }
    void set_point_input(std::size_t index, double v) {
        control(ICAL_SET_POINT, 0, point_index(index), &v);
    }
    void set_point_calibrated(std::size_t index, double v) {
        control(ICAL_SET_POINT, 1, point_index(index), &v);
    }

    double black_level() const { return get_double(ICAL_GET_BLACK_LEVEL); }
    void set_black_level(double v, Rebuild r = Rebuild::Now) {
        set_double(ICAL_SET_BLACK_LEVEL, v, r);
    }
    double incident_level() const { return get_double(ICAL_GET_INCIDENT_LEVEL); }
    void set_incident_level(double v, Rebuild r = Rebuild::Now) {
        set_double(ICAL_SET_INCIDENT_LEVEL, v, r);
    }

    double table_min() const { return get_double(ICAL_GET_TABLE_MIN); }
    double table_max() const { return get_double(ICAL_GET_TABLE_MAX); }
    std::size_t table_size() const {
        uint16_t n = 0;
        control(ICAL_GET_TABLE_SIZE, 0, 0, &n);
        return n;
    }
    void set_table_size(std::size_t n, Rebuild r = Rebuild::Now) {
        detail::require(n <= detail::max_count16, "set_table_size: more than 32767 entries");
        control(ICAL_SET_TABLE_SIZE, static_cast<int32_t>(n), static_cast<int32_t>(r), nullptr);
    }
    std::vector<double> table() const {
        std::vector<double> table(table_size());
        if (!table.empty()) control(ICAL_GET_TABLE, 0, 0, table.data());
        return table;
    }
    void set_table(Span<const double> table) {
        detail::require(table.size() <= detail::max_count16, "set_table: more than 32767 entries");
        control(ICAL_SET_TABLE, static_cast<int32_t>(table.size()), 0,
                const_cast<double*>(table.data()));
    }

    Fit fit_type() const {
        int16_t f = 0;
        control(ICAL_GET_FIT_TYPE, 0, 0, &f);
        return static_cast<Fit>(f);
    }
    void set_fit_type(Fit fit, Rebuild r = Rebuild::Now) {
        control(ICAL_SET_FIT_TYPE, static_cast<int32_t>(fit), static_cast<int32_t>(r), nullptr);
    }

    uint16_t options() const {
        uint16_t o = 0;
        control(ICAL_GET_OPTIONS, 0, 0, &o);
        return o;
    }
    void set_options(uint16_t options, Rebuild r = Rebuild::Now) {
        control(ICAL_SET_OPTIONS, options, static_cast<int32_t>(r), nullptr);
    }

    int16_t attribute() const {
        int16_t a = 0;
        control(ICAL_GET_ATTRIBUTE, 0, 0, &a);
        return a;
    }
    void set_attribute(int16_t a) { control(ICAL_SET_ATTRIBUTE, a, 0, nullptr); }

    /* Rebuilds the table from the current settings, whatever the type, by
     * storing the range minimum again without deferral. */
    void rebuild() { set_range_min(range_min(), Rebuild::Now); }

    /* Lookups into caller buffers: out.size() must equal in.size(). RGB
     * layout (three values per pixel) applies to 8- and 16-bit samples. */
    void lookup(Span<const uint8_t> in, Span<double> out, Layout l = Layout::Plain) const {
        calmgr::lookup<uint8_t, double>(cal_, in, out, l);
    }
    void lookup(Span<const uint8_t> in, Span<float> out, Layout l = Layout::Plain) const {
        calmgr::lookup<uint8_t, float>(cal_, in, out, l);
    }
    void lookup(Span<const uint16_t> in, Span<double> out, Layout l = Layout::Plain) const {
        calmgr::lookup<uint16_t, double>(cal_, in, out, l);
    }
    void lookup(Span<const uint16_t> in, Span<float> out, Layout l = Layout::Plain) const {
        calmgr::lookup<uint16_t, float>(cal_, in, out, l);
    }
    void lookup(Span<const float> in, Span<double> out) const {
        calmgr::lookup<float, double>(cal_, in, out);
    }
    void lookup(Span<const float> in, Span<float> out) const {
        calmgr::lookup<float, float>(cal_, in, out);
    }
    void lookup(Span<const double> in, Span<double> out) const {
        calmgr::lookup<double, double>(cal_, in, out);
    }
    void lookup(Span<const double> in, Span<float> out) const {
        calmgr::lookup<double, float>(cal_, in, out);
    }
    /* Returning form: lookup<float>(samples) for floats, doubles by default. */
    template <class Out = double, class In>
    std::vector<Out> lookup(const std::vector<In>& in, Layout layout = Layout::Plain) const {
        std::vector<Out> out(in.size());
        calmgr::lookup<In, Out>(cal_, Span<const In>(in), Span<Out>(out), layout);
        return out;
    }
    /* Bit-packed samples: count pixels, 8 per byte, most significant first. */
    void lookup_bits(Span<const uint8_t> packed, std::size_t count, Span<double> out) const {
        calmgr::lookup_bits<double>(cal_, packed, count, out);
    }
    void lookup_bits(Span<const uint8_t> packed, std::size_t count, Span<float> out) const {
        calmgr::lookup_bits<float>(cal_, packed, count, out);
    }


private:
    void control(uint32_t code, int32_t value, int32_t index, void* data) const {
        detail::require(cal_ != nullptr, "intensity calibration is empty (moved from or reset)");
        const int32_t status = ICalControl(cal_, code, value, index, data);
        if (status != CAL_OK) throw Error(status, detail::control_call("ICalControl", code));
    }
    static int32_t point_index(std::size_t index) {
        detail::require(index <= 0xFFFF, "point index above 65535");
        return static_cast<int32_t>(index);
    }
    std::string get_string(uint32_t code) const {
        char buffer[128] = {};
        control(code, 0, 0, buffer);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
    void set_string(uint32_t code, std::string_view text) {
        auto buffer = detail::c_string(text);
        control(code, 0, 0, buffer.data());
    }
    double get_double(uint32_t code) const {
        double v = 0.0;
        control(code, 0, 0, &v);
        return v;
    }
    void set_double(uint32_t code, double v, Rebuild r) {
        control(code, 0, static_cast<int32_t>(r), &v);
    }

    IntensityCal* cal_;
};

}  // namespace calmgr

#endif /* CALMGR_INTENSITY_HPP */
