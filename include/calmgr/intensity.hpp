/*
 * calmgr/intensity.hpp - calmgr::IntensityCalibration, the owning, move-only
 * intensity calibration: builders, setters and ownership transfer. Every
 * getter and lookup comes from IntensityView.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_INTENSITY_HPP
#define CALMGR_INTENSITY_HPP

#include "calmgr/intensity_view.hpp"

namespace calmgr {

class [[nodiscard]] IntensityCalibration : public IntensityView {
public:
    /* A new calibration with the library's defaults: two points (0, 0) and
     * (255, 255), 256 entries over 0..255, the identity table. */
    IntensityCalibration() {
        cal_ = ICalCreate();
        if (cal_ == nullptr) throw Error(CAL_ERR_NOMEM, "ICalCreate");
    }
    /* Takes ownership of a handle that nobody else owns: one from ICalCreate,
     * CalLoadIntensity, CalIntensityFromJson or release(). The calibration
     * is destroyed with the returned object. Never pass a handle another
     * owner keeps (views, ICalGetHandle): it would be destroyed twice. A
     * null or unregistered handle is refused. */
    [[nodiscard]] static IntensityCalibration adopt_owned(IntensityCal* handle) {
        detail::require(handle != nullptr, "adopt_owned: null handle");
        detail::require(registered(handle), "adopt_owned: not a live intensity calibration");
        return IntensityCalibration(handle, Adopt{});
    }

    IntensityCalibration(const IntensityCalibration&) = delete;
    IntensityCalibration& operator=(const IntensityCalibration&) = delete;
    IntensityCalibration(IntensityCalibration&& other) noexcept : IntensityView() {
        cal_ = std::exchange(other.cal_, nullptr);
    }
    IntensityCalibration& operator=(IntensityCalibration&& other) noexcept {
        if (this != &other) {
            reset();
            cal_ = std::exchange(other.cal_, nullptr);
        }
        return *this;
    }
    ~IntensityCalibration() { reset(); }

    /* Builders. Each refuses a range that is not usable (Range::usable())
     * and more than 32767 points or entries, and throws the library's
     * status when the table cannot be built, with the findings that say
     * why (see diagnose()); nothing is left behind. */

    /* A standard curve through the points: the straight line for two, the
     * fit type's curve for more. */
    [[nodiscard]] static IntensityCalibration from_points(Span<const CalPoint> points,
                                                          Fit fit = Fit::Piecewise,
                                                          Range range = Range{},
                                                          std::size_t table_size = 256,
                                                          Options options = Options::None) {
        IntensityCalibration cal;
        cal.set_range(range, Rebuild::Deferred);
        cal.set_table_size(table_size, Rebuild::Deferred);
        cal.set_points(points, Rebuild::Deferred);
        cal.set_options(options, Rebuild::Deferred);
        cal.set_fit_type(fit, Rebuild::Now);
        return cal;
    }
    /* Optical density from the black (dark) and incident readings. */
    [[nodiscard]] static IntensityCalibration from_density(double black_level, double incident_level,
                                                           Range range = Range{},
                                                           std::size_t table_size = 256) {
        IntensityCalibration cal;
        cal.set_range(range, Rebuild::Deferred);
        cal.set_table_size(table_size, Rebuild::Deferred);
        cal.set_black_level(black_level, Rebuild::Deferred);
        cal.set_incident_level(incident_level, Rebuild::Deferred);
        cal.set_type(CalType::Density, Rebuild::Now);
        return cal;
    }
    /* A whole table (2..32767 entries) spread over the range. */
    [[nodiscard]] static IntensityCalibration from_table(Span<const double> table, Range range) {
        IntensityCalibration cal;
        cal.set_type(CalType::Table, Rebuild::Deferred);
        cal.set_range(range, Rebuild::Deferred);
        cal.set_table(table);
        return cal;
    }

    /* The handle (null when empty), for the C functions; ownership stays. */
    [[nodiscard]] IntensityCal* get() const noexcept { return const_cast<IntensityCal*>(cal_); }
    /* Gives up ownership: the caller must ICalDestroy the handle. The object
     * is empty afterwards and refuses every use. */
    [[nodiscard]] IntensityCal* release() noexcept {
        return const_cast<IntensityCal*>(std::exchange(cal_, nullptr));
    }
    /* Destroys the calibration now; the object is empty afterwards. */
    void reset() noexcept {
        if (cal_ != nullptr) ICalDestroy(const_cast<IntensityCal*>(std::exchange(cal_, nullptr)));
    }

    void set_name(std::string_view name) { set_string(ICAL_SET_NAME, name); }
    void set_units(std::string_view units) { set_string(ICAL_SET_UNITS, units); }
    void set_type(CalType type, Rebuild rebuild = Rebuild::Now) {
        detail::require(static_cast<uint32_t>(type) <= ICAL_TYPE_NONE, "set_type: not a calibration type (0..3)");
        rebuilding_control(ICAL_SET_TYPE, static_cast<int32_t>(type), static_cast<int32_t>(rebuild), nullptr);
    }

    /* One limit at a time, as the library stores it: the range may pass
     * through an empty or inverted state (diagnose() reports it). */
    void set_range_min(double v, Rebuild r = Rebuild::Now) { set_double(ICAL_SET_RANGE_MIN, v, r); }
    void set_range_max(double v, Rebuild r = Rebuild::Now) { set_double(ICAL_SET_RANGE_MAX, v, r); }
    /* Both limits, rebuilding once at the end unless deferred. A range that
     * is not usable (not finite, or max not above min) is refused. */
    void set_range(Range range, Rebuild r = Rebuild::Now) {
        detail::require(range.usable(),
                        "set_range: the range is empty, inverted or not finite (max must be above min)");
        set_range_min(range.min, Rebuild::Deferred);
        set_range_max(range.max, r);
    }

    void set_points(Span<const CalPoint> points, Rebuild r = Rebuild::Now) {
        detail::require(points.size() >= 2, "set_points: fewer than 2 points");
        detail::require(points.size() <= detail::max_count16, "set_points: more than 32767 points");
        rebuilding_control(ICAL_SET_POINTS, static_cast<int32_t>(points.size()), static_cast<int32_t>(r),
                const_cast<CalPoint*>(points.data()));
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

    void set_black_level(double v, Rebuild r = Rebuild::Now) { set_double(ICAL_SET_BLACK_LEVEL, v, r); }
    void set_incident_level(double v, Rebuild r = Rebuild::Now) {
        set_double(ICAL_SET_INCIDENT_LEVEL, v, r);
    }

    void set_table_size(std::size_t n, Rebuild r = Rebuild::Now) {
        detail::require(n <= detail::max_count16, "set_table_size: more than 32767 entries");
        control(ICAL_SET_TABLE_SIZE, static_cast<int32_t>(n), static_cast<int32_t>(r), nullptr);
    }
    void set_table(Span<const double> table) {
        detail::require(table.size() <= detail::max_count16, "set_table: more than 32767 entries");
        control(ICAL_SET_TABLE, static_cast<int32_t>(table.size()), 0,
                const_cast<double*>(table.data()));
    }

    /* A fit type the library does not store (see is_fit_code) is refused:
     * the control itself would ignore it without a word. */
    void set_fit_type(Fit fit, Rebuild r = Rebuild::Now) {
        detail::require(is_fit_code(static_cast<int16_t>(fit)),
                        "set_fit_type: not a fit type (0..13, 21..23)");
        rebuilding_control(ICAL_SET_FIT_TYPE, static_cast<int32_t>(fit), static_cast<int32_t>(r), nullptr);
    }
    void set_options(Options options, Rebuild r = Rebuild::Now) {
        rebuilding_control(ICAL_SET_OPTIONS, static_cast<int32_t>(options), static_cast<int32_t>(r), nullptr);
    }
    void set_attribute(int16_t a) { control(ICAL_SET_ATTRIBUTE, a, 0, nullptr); }

    /* Rebuilds the table from the current settings, whatever the type, by
     * storing the range minimum again without deferral. */
    void rebuild() { set_range_min(range_min(), Rebuild::Now); }

private:
    struct Adopt {};
    IntensityCalibration(IntensityCal* handle, Adopt) noexcept : IntensityView() { cal_ = handle; }

    static bool registered(const IntensityCal* handle) {
        IntensityCal* cal = nullptr;
        do {
            detail::check(ICalControl(cal, ICAL_GET_NEXT, 0, 0, &cal), "ICalControl(ICAL_GET_NEXT)");
            if (cal == handle) return true;
        } while (cal != nullptr);
        return false;
    }
    void set_string(uint32_t code, std::string_view text) {
        auto buffer = detail::c_string(text);
        control(code, 0, 0, buffer.data());
    }
    void set_double(uint32_t code, double v, Rebuild r) {
        rebuilding_control(code, 0, static_cast<int32_t>(r), &v);
    }
};

}  // namespace calmgr

#endif /* CALMGR_INTENSITY_HPP */
