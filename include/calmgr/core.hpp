/*
 * calmgr/core.hpp - statuses as calmgr::Error, the Span view, the enumerations
 * and lookups through any calibration handle.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_CORE_HPP
#define CALMGR_CORE_HPP

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
inline constexpr std::size_t max_count16 = 32767;

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

template <class Out> inline constexpr uint32_t out_flag = 0;
template <> inline constexpr uint32_t out_flag<float> = ICAL_LOOKUP_FLOAT;

// Largest pixel count handed to one ICalLookupEx call; a multiple of 8 so
// that bit-packed runs split on byte boundaries.
inline constexpr std::size_t lookup_chunk = std::size_t{1} << 28;

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

}  // namespace calmgr

#endif /* CALMGR_CORE_HPP */
