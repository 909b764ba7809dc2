// `interpolate_lookup`: places each value on the table's grid and
// interpolates linearly between the two neighbouring entries, clamping to
// the first entry below the range (and for NaN) and to the last entry above
// it. The scale (table steps per input unit) is computed once per call; the
// per-value work is one truncation, one floor and one multiply-add.
#include "intensity/ical.h"

#include <cmath>
#include <cstring>

namespace calmgr {
namespace {

template <class Sample, class Out>
void interpolate(const IntensityCal* cal, const unsigned char* samples, unsigned char* out, uint64_t count) {
    const double* table = cal->table;
    const uint32_t last = cal->table_size - 1u;
    const double lo = cal->range_min, hi = cal->range_max;
    const double scale = static_cast<double>(last) / (hi - lo);
    const double last_t = static_cast<double>(last);
    for (uint64_t k = 0; k < count; ++k) {
        Sample s;
        std::memcpy(&s, samples + k * sizeof(Sample), sizeof s);  // read before out[k] is written
        const double x = static_cast<double>(s);
        double r;
        if (!(x >= lo)) {
            r = table[0];
        } else if (x > hi) {
            r = table[last];
        } else {
            const double t = (x - lo) * scale;
            if (std::isnan(t)) {
                r = table[0];
            } else if (t >= last_t) {
                r = table[last];
            } else {
                const auto i = static_cast<uint32_t>(t);
                r = table[i] + (t - std::floor(t)) * (table[i + 1] - table[i]);
            }
        }
        const Out o = static_cast<Out>(r);
        std::memcpy(out + k * sizeof(Out), &o, sizeof o);
    }
}

template <class Sample>
void interpolate_to(const IntensityCal* cal, const void* samples, void* out, uint64_t count, int float_out) {
    const auto* in = static_cast<const unsigned char*>(samples);
    auto* o = static_cast<unsigned char*>(out);
    if (float_out) {
        interpolate<Sample, float>(cal, in, o, count);
    } else {
        interpolate<Sample, double>(cal, in, o, count);
    }
}

}  // namespace

void interpolate_lookup(const IntensityCal* cal, const void* samples, void* out, uint64_t count, int width,
                        int float_out) {
    if (cal == nullptr || cal->table == nullptr || cal->table_size == 0) return;
    switch (width) {
        case 1: interpolate_to<uint8_t>(cal, samples, out, count, float_out); break;
        case 2: interpolate_to<uint16_t>(cal, samples, out, count, float_out); break;
        case 4: interpolate_to<float>(cal, samples, out, count, float_out); break;
        case 8: interpolate_to<double>(cal, samples, out, count, float_out); break;
        default: break;
    }
}

}  // namespace calmgr
