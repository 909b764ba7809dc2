/*
 * calmgr/lookup.hpp - lookups of sample runs through any calibration handle
 * (null: values pass through unchanged), split into calls the C interface's
 * counts can express; and lookups with a policy for values outside the
 * range and NaN samples, with the counts of both.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_LOOKUP_HPP
#define CALMGR_LOOKUP_HPP

#include "calmgr/types.hpp"

namespace calmgr {

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

template <class In>
inline constexpr bool is_sample = std::is_same_v<In, uint8_t> || std::is_same_v<In, uint16_t> ||
                                  std::is_same_v<In, float> || std::is_same_v<In, double>;
template <class Out>
inline constexpr bool is_output = std::is_same_v<Out, double> || std::is_same_v<Out, float>;

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

// The sample code and pixel count of a run, after its size checks.
template <class In, class Out>
std::pair<uint32_t, std::size_t> lookup_shape(std::size_t in_size, std::size_t out_size,
                                              Layout layout) {
    static_assert(is_sample<In>, "lookups read uint8_t, uint16_t, float or double samples");
    static_assert(is_output<Out>, "lookups write double or float");
    require(out_size == in_size, "lookup: output size differs from input size");
    if (layout == Layout::Plain) return {sample_code<In>::plain, in_size};
    if constexpr (std::is_integral_v<In>) {
        require(in_size % 3 == 0, "lookup: RGB input size is not a multiple of 3");
        return {sample_code<In>::rgb, in_size / 3};
    } else {
        throw Error(CAL_ERR_INVALID, "lookup: RGB layout needs 8- or 16-bit samples");
    }
}
}  // namespace detail

/* Converts samples through `cal` (null: values pass through unchanged).
 * out.size() must equal in.size(); with Layout::Rgb (8- and 16-bit only)
 * in.size() must be a multiple of 3. */
template <class In, class Out>
void lookup(const IntensityCal* cal, Span<const In> in, Span<Out> out,
            Layout layout = Layout::Plain) {
    const auto [code, pixels] = detail::lookup_shape<In, Out>(in.size(), out.size(), layout);
    detail::lookup_run(cal, code, in.data(), pixels, layout == Layout::Rgb ? 3 : 1, out.data());
}

/* Bit-packed samples: `count` pixels, 8 per byte, most significant bit
 * first; a clear bit gives the first table entry, a set bit the last
 * (without a calibration 0.0 and 1.0). packed must hold at least
 * (count + 7) / 8 bytes, out exactly count values. */
template <class Out>
void lookup_bits(const IntensityCal* cal, Span<const uint8_t> packed, std::size_t count,
                 Span<Out> out) {
    static_assert(detail::is_output<Out>, "lookups write double or float");
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
// Lookups with a policy for values outside the range and NaN samples
// ---------------------------------------------------------------------------

/* What a policy lookup saw: how many values lay below range_min or above
 * range_max (16-bit samples past a direct table included) and how many
 * were NaN, out of `total` values (three per RGB pixel). Counted whatever the
 * policy; nothing is outside without a usable calibration. */
struct LookupStats {
    uint64_t below = 0;
    uint64_t above = 0;
    uint64_t nan = 0;
    uint64_t total = 0;

    /* Whether every value lay inside the range and none was NaN. */
    [[nodiscard]] bool all_inside() const noexcept { return below == 0 && above == 0 && nan == 0; }
    /* "" when all_inside(); otherwise one line for people, such as
     * "of 300 values, 12 lie below the calibrated range, 3 above it and 1 is NaN". */
    [[nodiscard]] std::string describe() const {
        if (all_inside()) return {};
        std::vector<std::string> parts;
        if (below != 0)
            parts.push_back(std::to_string(below) + (below == 1 ? " lies" : " lie") + " below the calibrated range");
        if (above != 0)
            parts.push_back(std::to_string(above) + (above == 1 ? " lies" : " lie") + " above " +
                            (below != 0 ? "it" : "the calibrated range"));
        if (nan != 0) parts.push_back(std::to_string(nan) + (nan == 1 ? " is" : " are") + " NaN");
        std::string line = "of " + std::to_string(total) + " values, " + parts[0];
        for (std::size_t i = 1; i < parts.size(); ++i) line += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
        return line;
    }
};

/* The values of a returning policy lookup and what it saw. */
template <class Out>
struct LookupResult {
    std::vector<Out> values;
    LookupStats stats;
};

/* As lookup(), with `policy` deciding what values outside [range_min,
 * range_max] and NaN samples give (Policy::Clamp: exactly what lookup()
 * gives); returns the counts of values below, above and NaN. */
template <class In, class Out>
LookupStats lookup(const IntensityCal* cal, Span<const In> in, Span<Out> out, Policy policy,
                   Layout layout = Layout::Plain) {
    constexpr uint32_t known = ICAL_POLICY_OUTSIDE_NAN | ICAL_POLICY_NAN_PROPAGATE;
    detail::require((static_cast<uint32_t>(policy) & ~known) == 0, "lookup: unknown policy bits");
    const auto [code, pixels] = detail::lookup_shape<In, Out>(in.size(), out.size(), layout);
    CalLookupStats s{};
    detail::check(ICalLookupPolicy(cal, code | detail::out_flag<Out>, in.data(), pixels, out.data(),
                                   static_cast<uint32_t>(policy), &s),
                  "ICalLookupPolicy");
    return LookupStats{s.below, s.above, s.nan, in.size()};
}

}  // namespace calmgr

#endif /* CALMGR_LOOKUP_HPP */
