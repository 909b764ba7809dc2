// Row conversion. A row of colour samples only goes straight through the
// lookup; with extra samples or inversion the colour samples are first
// gathered into a contiguous run, looked up, and interleaved again with
// the extras.
#include "row_convert.h"

#include "tool_error.h"

#include <cstring>
#include <limits>

namespace tool {
namespace {

template <class T>
T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// The value of an extra sample, scaled to 0..1 for integers.
double extra_value(const uint8_t* raw, size_t index, const PageLayout& p) {
    if (p.is_float) return p.bits == 32 ? static_cast<double>(load<float>(raw + index * 4)) : load<double>(raw + index * 8);
    if (p.bits == 8) return raw[index] / 255.0;
    return load<uint16_t>(raw + index * 2) / 65535.0;
}

// A double as a float, out-of-range values as infinities (not left to the
// conversion, which need not define them).
float to_float(double v) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax) return std::numeric_limits<float>::infinity();
    if (v < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

}  // namespace

RowConverter::RowConverter(const IntensityCal* cal, const PageLayout& page, const ConvertOptions& options)
    : cal_(cal), page_(page), options_(options), out_bytes_(options.double_output ? 8 : 4) {
    if (options_.invert && page_.is_float)
        fail("--invert needs integer samples; this image has floating-point samples");
    const uint64_t values = uint64_t{page_.width} * page_.samples;
    if (values * out_bytes_ > kMaxRowBytes)
        fail("rows of " + std::to_string(page_.width) + " pixels are too wide to convert");
    values_ = static_cast<size_t>(values);
    const size_t colour = size_t{page_.width} * page_.colour;
    const size_t in_bytes = page_.bits == 1 ? page_.row_bytes : colour * (page_.bits / 8);
    if (!page_.extras.empty() || options_.invert) colour_in_.resize(in_bytes);
    if (!page_.extras.empty()) colour_out_.resize(colour * out_bytes_);
}

void RowConverter::lookup(const void* samples, void* out) {
    const bool per_sample = page_.is_float;  // float codes count samples, RGB codes pixels
    const uint64_t count = per_sample ? uint64_t{page_.width} * page_.colour : page_.width;
    const uint32_t type = page_.colour_type() | (options_.double_output ? 0u : ICAL_LOOKUP_FLOAT);
    CalLookupStats row{};
    const int32_t st = ICalLookupPolicy(cal_, type, samples, count, out, options_.policy, &row);
    if (st != CAL_OK) fail("the lookup failed (status " + std::to_string(st) + ")");
    colour_values_ += size_t{page_.width} * page_.colour;
    stats_.below += row.below;
    stats_.above += row.above;
    stats_.nan += row.nan;
}

void RowConverter::convert(const uint8_t* raw, void* out) {
    const PageLayout& p = page_;
    const uint8_t* colour = raw;
    if (!colour_in_.empty()) {
        // Gather (and invert) the colour samples.
        uint8_t* dst = colour_in_.data();
        if (p.bits == 1) {
            for (size_t i = 0; i < colour_in_.size(); ++i) dst[i] = options_.invert ? static_cast<uint8_t>(~raw[i]) : raw[i];
        } else {
            const size_t sample_bytes = p.bits / 8;
            for (uint32_t x = 0; x < p.width; ++x)
                for (uint16_t c = 0; c < p.colour; ++c) {
                    const size_t from = (size_t{x} * p.samples + c) * sample_bytes;
                    const size_t to = (size_t{x} * p.colour + c) * sample_bytes;
                    if (p.bits == 8) dst[to] = options_.invert ? static_cast<uint8_t>(255 - raw[from]) : raw[from];
                    else if (p.bits == 16 && options_.invert) store<uint16_t>(dst + to, static_cast<uint16_t>(65535 - load<uint16_t>(raw + from)));
                    else std::memcpy(dst + to, raw + from, sample_bytes);
                }
        }
        colour = dst;
    }
    if (p.extras.empty()) {
        lookup(colour, out);
        return;
    }
    lookup(colour, colour_out_.data());
    // Interleave calibrated colour samples with the scaled extras.
    auto* dst = static_cast<uint8_t*>(out);
    const uint8_t* cal = colour_out_.data();
    for (uint32_t x = 0; x < p.width; ++x) {
        uint8_t* px = dst + size_t{x} * p.samples * out_bytes_;
        std::memcpy(px, cal + size_t{x} * p.colour * out_bytes_, p.colour * out_bytes_);
        for (uint16_t e = 0; e < p.extras.size(); ++e) {
            const double v = extra_value(raw, size_t{x} * p.samples + p.colour + e, p);
            uint8_t* slot = px + (size_t{p.colour} + e) * out_bytes_;
            if (options_.double_output) store<double>(slot, v);
            else store<float>(slot, to_float(v));
        }
    }
}

}  // namespace tool
