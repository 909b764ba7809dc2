/*
 * calmgr.hpp - header-only C++17 layer over the C interface of calmgr.
 *
 * Owning, move-only wrappers for intensity and spatial calibrations, typed
 * accessors for every control, lookups over contiguous buffers and the
 * polynomial fits. Every number comes from the C functions unchanged; this
 * layer only checks buffer sizes, splits runs that exceed the C interface's
 * counts, and turns every status other than CAL_OK into calmgr::Error.
 *
 * Buffers are passed as calmgr::Span<T>, a minimal view (pointer and
 * length) that converts implicitly from std::vector, std::array, C arrays
 * and, under C++20, std::span - anything with data() and size() of a
 * matching element type. It exists because std::span needs C++20 and this
 * header must also compile as C++17.
 *
 * Like the library itself, the wrappers take no locks: serialise calls.
 */
#ifndef CALMGR_HPP
#define CALMGR_HPP

#include "calmgr.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace calmgr {

// ---------------------------------------------------------------------------
// Status codes and the exception that carries them
// ---------------------------------------------------------------------------

/* The symbolic name of a status code, "unknown status" for others. */
inline const char* status_name(int32_t status) noexcept {
    switch (status) {
        case CAL_OK: return "CAL_OK";
        case CAL_ERR_INVALID: return "CAL_ERR_INVALID";
        case CAL_ERR_TARGET: return "CAL_ERR_TARGET";
        case CAL_ERR_NOMEM: return "CAL_ERR_NOMEM";
        case FIT_ERR_ARGS: return "FIT_ERR_ARGS";
        default: return "unknown status";
    }
}

/* Thrown for every status other than CAL_OK, and with CAL_ERR_INVALID for
 * arguments this layer refuses before calling the library (mismatched
 * buffer sizes, counts beyond the C interface's 16-bit fields). */
class Error : public std::runtime_error {
public:
    Error(int32_t status, const std::string& what)
        : std::runtime_error(what + ": " + calmgr::status_name(status) + " (" +
                             std::to_string(status) + ")"),
          status_(status) {}
    int32_t status() const noexcept { return status_; }
    const char* status_name() const noexcept { return calmgr::status_name(status_); }

private:
    int32_t status_;
};

namespace detail {
inline void check(int32_t status, const char* what) {
    if (status != CAL_OK) throw Error(status, what);
}
inline void require(bool ok, const char* what) {
    if (!ok) throw Error(CAL_ERR_INVALID, what);
}
// Counts the C controls read as signed 16-bit values.
constexpr std::size_t max_count16 = 32767;

// "ICalControl(ICAL_SET_POINTS)" and the like, for error messages.
inline std::string control_call(const char* function, uint32_t code) {
    static const char* const ical[] = {
        "ICAL_GET_NAME", "ICAL_SET_NAME", "ICAL_GET_TYPE", "ICAL_SET_TYPE",
        "ICAL_GET_RANGE_MIN", "ICAL_SET_RANGE_MIN", "ICAL_GET_RANGE_MAX", "ICAL_SET_RANGE_MAX",
        "ICAL_GET_NEXT", "ICAL_GET_NUM_POINTS", "ICAL_GET_POINTS", "ICAL_SET_POINTS",
        "ICAL_GET_POINT", "ICAL_SET_POINT", "ICAL_GET_BLACK_LEVEL", "ICAL_SET_BLACK_LEVEL",
        "ICAL_GET_INCIDENT_LEVEL", "ICAL_SET_INCIDENT_LEVEL", "ICAL_GET_TABLE_MIN",
        "ICAL_GET_TABLE_MAX", "ICAL_GET_TABLE_SIZE", "ICAL_SET_TABLE_SIZE", "ICAL_GET_TABLE",
        "ICAL_SET_FIT_TYPE", "ICAL_GET_FIT_TYPE", "ICAL_GET_UNITS", "ICAL_SET_UNITS",
        "ICAL_SET_TABLE", "ICAL_GET_ATTRIBUTE", "ICAL_SET_ATTRIBUTE", "ICAL_GET_OPTIONS",
        "ICAL_SET_OPTIONS"};
    static const char* const scal[] = {
        "SCAL_GET_NAME", "SCAL_SET_NAME", "SCAL_GET_UNITS", "SCAL_SET_UNITS",
        "SCAL_GET_SCALE", "SCAL_SET_SCALE", "SCAL_GET_PIXEL_SIZE", "SCAL_SET_PIXEL_SIZE",
        "SCAL_GET_ORIGIN", "SCAL_SET_ORIGIN", "SCAL_GET_AUX_VALUE", "SCAL_SET_AUX_VALUE",
        "SCAL_GET_PIXEL_AREA", "SCAL_GET_NEXT"};
    const bool intensity = function[0] == 'I';
    const std::size_t n = intensity ? std::size(ical) : std::size(scal);
    const std::string name =
        code < n ? (intensity ? ical : scal)[code] : "code " + std::to_string(code);
    return std::string(function) + "(" + name + ")";
}
}  // namespace detail

// ---------------------------------------------------------------------------
// Span: a contiguous view usable from C++17
// ---------------------------------------------------------------------------

template <class T>
class Span {
    template <class C>
    using element_of = std::remove_pointer_t<decltype(std::data(std::declval<C&>()))>;
    // Same rule as std::span: only qualification conversions (T from U or
    // const U), never between element types of different representation.
    template <class C>
    using compatible = std::enable_if_t<
        std::is_convertible_v<element_of<C> (*)[], T (*)[]> &&
        !std::is_same_v<std::remove_cv_t<C>, Span>>;

public:
    using element_type = T;

    constexpr Span() noexcept = default;
    constexpr Span(T* data, std::size_t size) noexcept : data_(data), size_(size) {}
    template <class C, class = compatible<C>>
    constexpr Span(C&& container) noexcept  // NOLINT: implicit by design
        : data_(std::data(container)), size_(std::size(container)) {}

    constexpr T* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }
    constexpr T* begin() const noexcept { return data_; }
    constexpr T* end() const noexcept { return data_ + size_; }
    constexpr T& operator[](std::size_t i) const noexcept { return data_[i]; }
    constexpr Span subspan(std::size_t offset, std::size_t count) const noexcept {
        return Span(data_ + offset, count);
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------
// Enumerations
// ---------------------------------------------------------------------------

/* Whether a setter rebuilds the table at once or leaves that to a later one. */
enum class Rebuild : int32_t { Now = 0, Deferred = 1 };

enum class CalType : uint32_t {
    Standard = ICAL_TYPE_STANDARD,
    Density = ICAL_TYPE_DENSITY,
    Table = ICAL_TYPE_TABLE,
    None = ICAL_TYPE_NONE
};

/* Fit types of the standard curve (points beyond two). */
enum class Fit : int16_t {
    Default = 0,
    Poly1 = 1, Poly2 = 2, Poly3 = 3,
    Interp1 = 4, Interp2 = 5, Interp3 = 6,
    Density = 10,
    Exp1 = 11, Exp2 = 12, Exp3 = 13,
    Log1 = 21, Log2 = 22, Log3 = 23
};

enum Options : uint16_t {
    Monotonic = ICAL_OPT_MONOTONIC,
    ClampNegative = ICAL_OPT_CLAMP_NEGATIVE
};

enum class Axis : int32_t { X = 0, Y = 1 };

/* Layout of a run of samples where the element type alone does not say it. */
enum class Layout { Plain, Rgb };

namespace detail {
template <class T> struct sample_code;
template <> struct sample_code<uint8_t> {
    static constexpr uint32_t plain = ICAL_SAMPLE_U8, rgb = ICAL_SAMPLE_U8_RGB;
};
template <> struct sample_code<uint16_t> {
    static constexpr uint32_t plain = ICAL_SAMPLE_U16, rgb = ICAL_SAMPLE_U16_RGB;
};
template <> struct sample_code<float> { static constexpr uint32_t plain = ICAL_SAMPLE_F32; };
template <> struct sample_code<double> { static constexpr uint32_t plain = ICAL_SAMPLE_F64; };

template <class Out> constexpr uint32_t out_flag = 0;
template <> constexpr uint32_t out_flag<float> = ICAL_LOOKUP_FLOAT;

// Largest pixel count handed to one ICalLookupEx call; a multiple of 8 so
// that bit-packed runs split on byte boundaries.
constexpr std::size_t lookup_chunk = std::size_t{1} << 28;

// Converts `pixels` pixels of `per_pixel` elements each, in chunks the
// 32-bit count can express; per-value results do not depend on chunking.
template <class In, class Out>
void lookup_run(const IntensityCal* cal, uint32_t code, const In* in, std::size_t pixels,
                std::size_t per_pixel, Out* out) {
    for (std::size_t done = 0; done < pixels;) {
        const std::size_t n = std::min(lookup_chunk, pixels - done);
        check(ICalLookupEx(cal, code | out_flag<Out>, in + done * per_pixel,
                           static_cast<uint32_t>(n), out + done * per_pixel),
              "ICalLookupEx");
        done += n;
    }
}

// A zero-terminated copy of at most 127 characters, as the library stores.
inline std::array<char, 128> c_string(std::string_view text) {
    std::array<char, 128> buffer{};
    std::memcpy(buffer.data(), text.data(), std::min<std::size_t>(text.size(), 127));
    return buffer;
}
}  // namespace detail

// ---------------------------------------------------------------------------
// Free lookups (no calibration: values pass through unchanged)
// ---------------------------------------------------------------------------

/* Converts samples through `cal` (null: unchanged). out.size() must equal
 * in.size(); with Layout::Rgb (8- and 16-bit only) in.size() must be a
 * multiple of 3. */
template <class In, class Out>
void lookup(const IntensityCal* cal, Span<const In> in, Span<Out> out,
            Layout layout = Layout::Plain) {
    static_assert(std::is_same_v<Out, double> || std::is_same_v<Out, float>,
                  "lookups write double or float");
    detail::require(out.size() == in.size(), "lookup: output size differs from input size");
    if (layout == Layout::Rgb) {
        if constexpr (std::is_integral_v<In>) {
            detail::require(in.size() % 3 == 0, "lookup: RGB input size is not a multiple of 3");
            detail::lookup_run(cal, detail::sample_code<In>::rgb, in.data(), in.size() / 3, 3,
                               out.data());
            return;
        } else {
            throw Error(CAL_ERR_INVALID, "lookup: RGB layout needs 8- or 16-bit samples");
        }
    }
    detail::lookup_run(cal, detail::sample_code<In>::plain, in.data(), in.size(), 1, out.data());
}

/* Bit-packed samples: `count` pixels, 8 per byte, most significant bit first.
 * packed must hold at least (count + 7) / 8 bytes, out exactly count values. */
template <class Out>
void lookup_bits(const IntensityCal* cal, Span<const uint8_t> packed, std::size_t count,
                 Span<Out> out) {
    static_assert(std::is_same_v<Out, double> || std::is_same_v<Out, float>,
                  "lookups write double or float");
    detail::require(packed.size() >= count / 8 + (count % 8 != 0),
                    "lookup_bits: too few bytes for the pixel count");
    detail::require(out.size() == count, "lookup_bits: output size differs from pixel count");
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(detail::lookup_chunk, count - done);
        detail::check(ICalLookupEx(cal, ICAL_SAMPLE_BITS | detail::out_flag<Out>,
                                   packed.data() + done / 8, static_cast<uint32_t>(n),
                                   out.data() + done),
                      "ICalLookupEx");
        done += n;
    }
}

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

// ---------------------------------------------------------------------------
// Spatial calibration
// ---------------------------------------------------------------------------

class SpatialCalibration {
public:
    SpatialCalibration() : cal_(SCalCreate()) {
        if (cal_ == nullptr) throw Error(CAL_ERR_NOMEM, "SCalCreate");
    }
    explicit SpatialCalibration(SpatialCal* adopt) : cal_(adopt) {
        detail::require(adopt != nullptr, "SpatialCalibration: null handle");
    }
    SpatialCalibration(const SpatialCalibration&) = delete;
    SpatialCalibration& operator=(const SpatialCalibration&) = delete;
    SpatialCalibration(SpatialCalibration&& other) noexcept
        : cal_(std::exchange(other.cal_, nullptr)) {}
    SpatialCalibration& operator=(SpatialCalibration&& other) noexcept {
        if (this != &other) {
            reset();
            cal_ = std::exchange(other.cal_, nullptr);
        }
        return *this;
    }
    ~SpatialCalibration() { reset(); }

    SpatialCal* get() const noexcept { return cal_; }
    explicit operator bool() const noexcept { return cal_ != nullptr; }
    SpatialCal* release() noexcept { return std::exchange(cal_, nullptr); }
    void reset() noexcept {
        if (cal_ != nullptr) SCalDestroy(std::exchange(cal_, nullptr));
    }

    std::string name() const { return get_string(SCAL_GET_NAME); }
    void set_name(std::string_view name) { set_string(SCAL_SET_NAME, name); }
    std::string units() const { return get_string(SCAL_GET_UNITS); }
    void set_units(std::string_view units) { set_string(SCAL_SET_UNITS, units); }

    /* Pixels per unit. */
    double scale(Axis a) const { return get_double(SCAL_GET_SCALE, a); }
    void set_scale(Axis a, double v) { set_double(SCAL_SET_SCALE, a, v); }
    /* Units per pixel. */
    double pixel_size(Axis a) const { return get_double(SCAL_GET_PIXEL_SIZE, a); }
    void set_pixel_size(Axis a, double v) { set_double(SCAL_SET_PIXEL_SIZE, a, v); }
    double origin(Axis a) const { return get_double(SCAL_GET_ORIGIN, a); }
    void set_origin(Axis a, double v) { set_double(SCAL_SET_ORIGIN, a, v); }
    double aux_value() const { return get_double(SCAL_GET_AUX_VALUE, Axis::X); }
    void set_aux_value(double v) { set_double(SCAL_SET_AUX_VALUE, Axis::X, v); }
    double pixel_area() const { return get_double(SCAL_GET_PIXEL_AREA, Axis::X); }

    /* Pixel positions to calibrated units; out.size() must equal in.size(). */
    void to_units(Span<const PixelPoint> in, Span<RealPoint> out) const {
        detail::require(cal_ != nullptr, "spatial calibration is empty (moved from or reset)");
        detail::require(out.size() == in.size(), "to_units: output size differs from input size");
        for (std::size_t done = 0; done < in.size();) {
            const std::size_t n = std::min<std::size_t>(0xFFFF, in.size() - done);
            detail::check(SCalPixToCU(cal_, in.data() + done, out.data() + done,
                                      static_cast<uint32_t>(n)),
                          "SCalPixToCU");
            done += n;
        }
    }
    std::vector<RealPoint> to_units(Span<const PixelPoint> in) const {
        std::vector<RealPoint> out(in.size());
        to_units(in, Span<RealPoint>(out));
        return out;
    }
    RealPoint to_units(PixelPoint p) const {
        RealPoint r{};
        to_units(Span<const PixelPoint>(&p, 1), Span<RealPoint>(&r, 1));
        return r;
    }

private:
    void control(uint32_t code, int32_t value, void* data) const {
        detail::require(cal_ != nullptr, "spatial calibration is empty (moved from or reset)");
        const int32_t status = SCalControl(cal_, code, value, 0, data);
        if (status != CAL_OK) throw Error(status, detail::control_call("SCalControl", code));
    }
    std::string get_string(uint32_t code) const {
        char buffer[128] = {};
        control(code, 0, buffer);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
    void set_string(uint32_t code, std::string_view text) {
        auto buffer = detail::c_string(text);
        control(code, 0, buffer.data());
    }
    double get_double(uint32_t code, Axis a) const {
        double v = 0.0;
        control(code, static_cast<int32_t>(a), &v);
        return v;
    }
    void set_double(uint32_t code, Axis a, double v) {
        control(code, static_cast<int32_t>(a), &v);
    }

    SpatialCal* cal_;
};

// ---------------------------------------------------------------------------
// Registries
// ---------------------------------------------------------------------------

/* Every live intensity calibration, newest first (non-owning handles). */
inline std::vector<IntensityCal*> intensity_registry() {
    std::vector<IntensityCal*> all;
    IntensityCal* cal = nullptr;
    do {
        detail::check(ICalControl(cal, ICAL_GET_NEXT, 0, 0, &cal), "ICalControl");
        if (cal != nullptr) all.push_back(cal);
    } while (cal != nullptr);
    return all;
}

/* Every live spatial calibration, newest first (non-owning handles). */
inline std::vector<SpatialCal*> spatial_registry() {
    std::vector<SpatialCal*> all;
    SpatialCal* cal = nullptr;
    do {
        detail::check(SCalControl(cal, SCAL_GET_NEXT, 0, 0, &cal), "SCalControl");
        if (cal != nullptr) all.push_back(cal);
    } while (cal != nullptr);
    return all;
}

// ---------------------------------------------------------------------------
// Polynomial fits
// ---------------------------------------------------------------------------

/* Fits a polynomial of `degree` (1..7) to the samples and returns its values
 * at the abscissae xs. At most 32767 samples and 32767 abscissae. */
inline std::vector<double> polynomial_fit(Span<const RealPoint> samples, Span<const double> xs,
                                          int degree) {
    detail::require(samples.size() <= detail::max_count16, "polynomial_fit: more than 32767 samples");
    detail::require(xs.size() <= detail::max_count16, "polynomial_fit: more than 32767 abscissae");
    std::vector<double> values(xs.size());
    if (xs.empty()) return values;
    std::vector<RealPoint> at(xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) at[i] = RealPoint{xs[i], 0.0};
    detail::check(PolynomialFit(samples.data(), static_cast<int16_t>(samples.size()), at.data(),
                                static_cast<int16_t>(at.size()),
                                static_cast<int16_t>(std::clamp(degree, -1, 8))),
                  "PolynomialFit");
    for (std::size_t i = 0; i < at.size(); ++i) values[i] = at[i].y;
    return values;
}

/* As polynomial_fit, evaluated on `count` (2..32767) even steps from x_start
 * to x_end. */
inline std::vector<double> polynomial_fit_range(Span<const RealPoint> samples, double x_start,
                                                double x_end, std::size_t count, int degree) {
    detail::require(samples.size() <= detail::max_count16,
                    "polynomial_fit_range: more than 32767 samples");
    detail::require(count <= detail::max_count16, "polynomial_fit_range: more than 32767 values");
    std::vector<double> values(count);
    detail::check(PolynomialFitRange(samples.data(), static_cast<int16_t>(samples.size()),
                                     values.data(), x_start, x_end, static_cast<int16_t>(count),
                                     static_cast<int16_t>(std::clamp(degree, -1, 8))),
                  "PolynomialFitRange");
    return values;
}

}  // namespace calmgr

#endif /* CALMGR_HPP */
