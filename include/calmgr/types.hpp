/*
 * calmgr/types.hpp - the scoped enumerations of the C++ layer, their names,
 * the input range and the table grid.
 * Every enumerator takes its value from the C header's constant, so the
 * two cannot drift apart. The names shared with the Python package are
 * listed in <calmgr.hpp>.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_TYPES_HPP
#define CALMGR_TYPES_HPP

#include "calmgr/core.hpp"

#include <cmath>
#include <optional>

namespace calmgr {

/* Whether a setter rebuilds the table at once or leaves that to a later one. */
enum class Rebuild : int32_t { Now = 0, Deferred = 1 };

/* How an intensity calibration's table is obtained. */
enum class CalType : uint32_t {
    Standard = ICAL_TYPE_STANDARD,  // from the calibration points
    Density = ICAL_TYPE_DENSITY,    // optical density from black and incident levels
    Table = ICAL_TYPE_TABLE,        // supplied whole by the caller
    None = ICAL_TYPE_NONE           // no calibration: lookups pass values through
};

/* Curve models for a standard calibration with three or more points (two
 * points always give the straight line through them). */
enum class Fit : int16_t {
    Piecewise = ICAL_FIT_PIECEWISE,
    Default = ICAL_FIT_PIECEWISE,  // the same as Piecewise: the library's default
    Poly1 = ICAL_FIT_POLY1, Poly2 = ICAL_FIT_POLY2, Poly3 = ICAL_FIT_POLY3,
    Interp1 = ICAL_FIT_INTERP1, Interp2 = ICAL_FIT_INTERP2, Interp3 = ICAL_FIT_INTERP3,
    Density = ICAL_FIT_DENSITY,
    Exp1 = ICAL_FIT_EXP1, Exp2 = ICAL_FIT_EXP2, Exp3 = ICAL_FIT_EXP3,
    Log1 = ICAL_FIT_LOG1, Log2 = ICAL_FIT_LOG2, Log3 = ICAL_FIT_LOG3
};

/* Repairs applied to a fitted table; combine with |. */
enum class Options : uint16_t {
    None = 0,
    Monotonic = ICAL_OPT_MONOTONIC,          // force the table monotonic in the points' direction
    ClampNegative = ICAL_OPT_CLAMP_NEGATIVE  // replace negative (and NaN) table values by 0
};

/* What a lookup gives for values outside [range_min, range_max] and for NaN
 * samples; combine with |. Policy::Clamp is ICalLookupEx's behaviour. */
enum class Policy : uint32_t {
    Clamp = ICAL_POLICY_CLAMP,                // outside values take the table's end, NaN the first entry
    OutsideNan = ICAL_POLICY_OUTSIDE_NAN,     // values outside the range give NaN
    NanPropagate = ICAL_POLICY_NAN_PROPAGATE  // NaN samples give NaN
};

constexpr Options operator|(Options a, Options b) noexcept {
    return static_cast<Options>(static_cast<uint16_t>(static_cast<uint16_t>(a) | static_cast<uint16_t>(b)));
}
constexpr Options operator&(Options a, Options b) noexcept {
    return static_cast<Options>(static_cast<uint16_t>(static_cast<uint16_t>(a) & static_cast<uint16_t>(b)));
}
constexpr Policy operator|(Policy a, Policy b) noexcept {
    return static_cast<Policy>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
constexpr Policy operator&(Policy a, Policy b) noexcept {
    return static_cast<Policy>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}
/* Whether every bit of `bits` is set in `set`. */
constexpr bool has(Options set, Options bits) noexcept { return (set & bits) == bits; }
constexpr bool has(Policy set, Policy bits) noexcept { return (set & bits) == bits; }

enum class Axis : int32_t { X = 0, Y = 1 };

/* Layout of a run of 8- or 16-bit samples: one value per pixel, or three
 * (RGB, interleaved; each converted on its own through the same table). */
enum class Layout { Plain, Rgb };

// ---------------------------------------------------------------------------
// Fit names
// ---------------------------------------------------------------------------

struct FitName {
    Fit fit;
    const char* name;         // the canonical name, shared with Python
    const char* description;  // a short phrase for people
};

/* Every named fit type with its canonical name, in code order. */
inline constexpr FitName fit_names[] = {
    {Fit::Piecewise, "piecewise", "piecewise linear interpolation"},
    {Fit::Poly1, "poly1", "least-squares polynomial of degree 1"},
    {Fit::Poly2, "poly2", "least-squares polynomial of degree 2"},
    {Fit::Poly3, "poly3", "least-squares polynomial of degree 3"},
    {Fit::Interp1, "interp1", "piecewise interpolation of order 1"},
    {Fit::Interp2, "interp2", "piecewise interpolation of order 2"},
    {Fit::Interp3, "interp3", "piecewise interpolation of order 3"},
    {Fit::Density, "density", "optical density fitted to the points"},
    {Fit::Exp1, "exp1", "exponential of a polynomial of degree 1"},
    {Fit::Exp2, "exp2", "exponential of a polynomial of degree 2"},
    {Fit::Exp3, "exp3", "exponential of a polynomial of degree 3"},
    {Fit::Log1, "log1", "-ln of a polynomial of degree 1 in e^-value"},
    {Fit::Log2, "log2", "-ln of a polynomial of degree 2 in e^-value"},
    {Fit::Log3, "log3", "-ln of a polynomial of degree 3 in e^-value"}};

/* Whether the library's fit-type control stores `code` (it ignores other
 * codes silently). 7, 8 and 9 are stored and build as Fit::Piecewise. */
constexpr bool is_fit_code(long long code) noexcept {
    return (code >= ICAL_FIT_PIECEWISE && code <= ICAL_FIT_EXP3) ||
           (code >= ICAL_FIT_LOG1 && code <= ICAL_FIT_LOG3);
}

/* The canonical name of a fit type; "" for the unnamed codes 7, 8 and 9
 * and for codes the library does not know. */
constexpr std::string_view fit_name(Fit fit) noexcept {
    for (const FitName& f : fit_names)
        if (f.fit == fit) return f.name;
    return {};
}

/* The fit type for a name, ignoring case: a canonical name or one of the
 * aliases "default" (piecewise) and "od" (density). Empty when unknown. */
inline std::optional<Fit> fit_from_name(std::string_view name) noexcept {
    auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return (x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x) == y;
               });
    };
    if (same(name, "default")) return Fit::Piecewise;
    if (same(name, "od")) return Fit::Density;
    for (const FitName& f : fit_names)
        if (same(name, f.name)) return f.fit;
    return std::nullopt;
}

/* The fit type for a numeric code the library stores (see is_fit_code);
 * empty otherwise. */
constexpr std::optional<Fit> fit_from_code(long long code) noexcept {
    if (!is_fit_code(code)) return std::nullopt;
    return static_cast<Fit>(code);
}

// ---------------------------------------------------------------------------
// The input range and the table grid
// ---------------------------------------------------------------------------

/* The input values that the first and the last table entry stand for. */
struct Range {
    double min = 0.0;
    double max = 255.0;

    /* Whether lookups can use it: both finite and max above min. On any
     * other range the library passes values through unchanged. */
    [[nodiscard]] bool usable() const noexcept {
        return std::isfinite(min) && std::isfinite(max) && max > min;
    }
};

/* How a table builder places entry i on its input range, with
 * step = (max - min) / (table_size - 1):
 *  - RunningSum: x starts at min and advances by x += step after each entry
 *    (the two-point line, the least-squares, exponential and logarithmic
 *    fits through PolynomialFitRange, and the optical-density grid);
 *  - Product: x = min + i * step for each entry (piecewise interpolation,
 *    and the grid on which lookups read a caller-supplied table).
 * The two differ by the rounding of the running sum, a few units in the
 * last place at most. */
enum class GridRule { RunningSum, Product };

namespace detail {
// a * b rounded on its own: the store through a volatile keeps a compiler
// that contracts floating-point expressions (GCC does by default outside
// ISO C) from fusing it into a following addition.
inline double separate_product(double a, double b) noexcept {
    volatile double p = a * b;
    return p;
}
}  // namespace detail

/* The input values of the entries of a table of `table_size` entries over
 * `range`, computed exactly as the builder that follows `rule` computes
 * them (bit for bit). Empty for 0 entries; {range.min} for one. */
[[nodiscard]] inline std::vector<double> grid_inputs(Range range, std::size_t table_size,
                                                     GridRule rule = GridRule::RunningSum) {
    std::vector<double> inputs(table_size);
    if (table_size == 0) return inputs;
    const double step = (range.max - range.min) / static_cast<double>(table_size - 1);
    double x = range.min;
    for (std::size_t i = 0; i < table_size; ++i) {
        if (rule == GridRule::RunningSum) {
            inputs[i] = x;
            x += step;
        } else {
            inputs[i] = range.min + detail::separate_product(static_cast<double>(i), step);
        }
    }
    return inputs;
}

}  // namespace calmgr

#endif /* CALMGR_TYPES_HPP */
