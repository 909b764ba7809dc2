/*
 * calmgr/lookup.hpp - lookups of sample runs through any calibration handle
 * (null: values pass through unchanged), split into calls the C interface's
 * counts can express.
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

}  // namespace calmgr

#endif /* CALMGR_LOOKUP_HPP */
