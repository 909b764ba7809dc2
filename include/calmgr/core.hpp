/*
 * calmgr/core.hpp - statuses as calmgr::Error and the Span view that every
 * buffer of the C++ layer travels in.
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
#if __cplusplus >= 202002L
#include <span>
#endif

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
 * what this layer refuses before calling the library: an empty (moved-from
 * or released) object, mismatched buffer sizes, counts beyond the C
 * interface's 16-bit fields, empty or inverted ranges, unknown fit types.
 * what() reads "<call or cause>: <status name> (<status>)". */
class Error : public std::runtime_error {
public:
    Error(int32_t status, const std::string& cause)
        : Error(status, cause, calmgr::status_name(status)) {}
    /* For statuses of other calmgr libraries, with their own names. */
    Error(int32_t status, const std::string& cause, const char* status_name)
        : std::runtime_error(cause + ": " + status_name + " (" + std::to_string(status) + ")"),
          cause_(cause), status_(status), status_name_(status_name) {}
    [[nodiscard]] int32_t status() const noexcept { return status_; }
    [[nodiscard]] const char* status_name() const noexcept { return status_name_; }
    /* what() without the status: the call or the cause in words. */
    [[nodiscard]] const std::string& cause() const noexcept { return cause_; }

private:
    std::string cause_;
    int32_t status_;
    const char* status_name_;
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

template <class C>
using remove_cvref_t = std::remove_cv_t<std::remove_reference_t<C>>;

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

// A zero-terminated copy of at most 127 characters, as the library stores.
inline std::array<char, 128> c_string(std::string_view text) {
    std::array<char, 128> buffer{};
    std::memcpy(buffer.data(), text.data(), std::min<std::size_t>(text.size(), 127));
    return buffer;
}
}  // namespace detail

// ---------------------------------------------------------------------------
// Span: a contiguous view usable from C++17
// ---------------------------------------------------------------------------

template <class T>
class Span;

namespace detail {
template <class C> struct is_calmgr_span : std::false_type {};
template <class T> struct is_calmgr_span<Span<T>> : std::true_type {};

template <class C> struct is_std_span : std::false_type {};
#if __cplusplus >= 202002L
template <class E, std::size_t N> struct is_std_span<std::span<E, N>> : std::true_type {};
#endif

// Views whose elements outlive the view itself (calmgr::Span, std::span): a
// temporary of such a type may be written through.
template <class C>
constexpr bool is_view() {
    using D = remove_cvref_t<C>;
    return is_calmgr_span<D>::value || is_std_span<D>::value;
}

// The element type of anything with std::data().
template <class C>
using element_of = std::remove_pointer_t<decltype(std::data(std::declval<C&>()))>;

// Whether C has data() and size() with elements a Span<T> may view: only
// qualification conversions, as std::span allows.
template <class C, class T, class = void>
struct is_compatible_container : std::false_type {};
template <class C, class T>
struct is_compatible_container<C, T, std::void_t<element_of<C>, decltype(std::size(std::declval<C&>()))>>
    : std::bool_constant<std::is_convertible_v<element_of<C> (*)[], T (*)[]> &&
                         !is_calmgr_span<remove_cvref_t<C>>::value> {};
}  // namespace detail

/* A pointer and a length. Converts implicitly from std::vector, std::array,
 * C arrays and, under C++20, std::span: anything with data() and size() of
 * a matching element type (qualification conversions only, as std::span).
 *
 * A Span of writable elements is an output buffer, so it binds only to an
 * lvalue container or to a view: a temporary std::vector would take the
 * results with it when it is destroyed at the end of the call, so
 * `cal.lookup(in, std::vector<double>(n))` does not compile. */
template <class T>
class Span {
    template <class C>
    static constexpr bool compatible = detail::is_compatible_container<C, T>::value;
    template <class C>
    static constexpr bool safe_to_keep =
        std::is_const_v<T> || std::is_lvalue_reference_v<C> || detail::is_view<C>();

public:
    using element_type = T;

    constexpr Span() noexcept = default;
    constexpr Span(T* data, std::size_t size) noexcept : data_(data), size_(size) {}
    template <class C, std::enable_if_t<compatible<C> && safe_to_keep<C>, int> = 0>
    constexpr Span(C&& container) noexcept  // NOLINT: implicit by design
        : data_(std::data(container)), size_(std::size(container)) {}
    /* Output buffers never bind to temporary containers (see above). */
    template <class C, std::enable_if_t<compatible<C> && !safe_to_keep<C>, int> = 0>
    Span(C&& temporary_container) = delete;
    /* A read-only view of a writable one. */
    template <class U, std::enable_if_t<std::is_same_v<const U, T> && !std::is_const_v<U>, int> = 0>
    constexpr Span(Span<U> other) noexcept : data_(other.data()), size_(other.size()) {}

    [[nodiscard]] constexpr T* data() const noexcept { return data_; }
    [[nodiscard]] constexpr std::size_t size() const noexcept { return size_; }
    [[nodiscard]] constexpr bool empty() const noexcept { return size_ == 0; }
    [[nodiscard]] constexpr T* begin() const noexcept { return data_; }
    [[nodiscard]] constexpr T* end() const noexcept { return data_ + size_; }
    constexpr T& operator[](std::size_t i) const noexcept { return data_[i]; }
    [[nodiscard]] constexpr Span subspan(std::size_t offset, std::size_t count) const noexcept {
        return Span(data_ + offset, count);
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace calmgr

#endif /* CALMGR_CORE_HPP */
