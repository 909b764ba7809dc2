// ICalInverse: calibrated values back to the input values whose
// interpolated lookup gives them. The table is read as a piecewise-linear
// curve over its grid and cut into monotonic stretches; a value reached at
// exactly one input is resolved by inverting the segment that holds it and
// settling the input on the double whose forward lookup comes closest. A
// value reached nowhere (outside the table's values, NaN, next to a
// non-finite entry) or at several inputs (on two stretches, or along a flat
// run) is unresolved. One monotonic table is searched through a per-call
// bucket index on the stack; nothing is allocated.
#include "intensity/ical.h"
#include "intensity/lookup.h"
#include "intensity/lookup_scalar.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>

namespace calmgr {
namespace {

using kern::Grid;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Stretches kept on the stack; a table that turns more often is searched
// segment by segment.
constexpr uint32_t kMaxStretches = 64;
// Buckets of the per-call index of a monotonic table (32 KiB of stack),
// and the run length from which building it pays.
constexpr uint32_t kMaxBuckets = 16384;
constexpr uint64_t kIndexedRun = 256;
// Steps of one ulp the settling walk may take.
constexpr int kMaxSettleSteps = 64;
constexpr int kMaxTies = 4;

// Entries first..last of the table, rising, falling or flat (dir +1, -1,
// 0), taking the values lo..hi.
struct Stretch {
    uint32_t first, last;
    int dir;
    double lo, hi;
};

// Where a value is reached: a grid position (entry index plus fraction),
// the entry itself when the value equals it exactly (else -1), and whether
// the curve rises there.
struct Hit {
    double pos;
    int64_t entry;
    bool rising;
};

double next_up(double x) {
    if (x == 0.0) return std::numeric_limits<double>::denorm_min();
    const auto bits = std::bit_cast<uint64_t>(x);
    return std::bit_cast<double>(x > 0.0 ? bits + 1 : bits - 1);
}
double next_down(double x) { return -next_up(-x); }

// (v - a) / (b - a) for v between a and b, halving first where the
// differences would overflow.
inline double fraction(double a, double b, double v) {
    const double d = b - a, e = v - a;
    if (std::isfinite(d) && std::isfinite(e)) return e / d;
    return (0.5 * v - 0.5 * a) / (0.5 * b - 0.5 * a);
}

Hit hit_in_segment(const double* t, uint32_t i, double v) {
    const double a = t[i], b = t[i + 1];
    if (v == a) return {static_cast<double>(i), i, a < b};
    if (v == b) return {static_cast<double>(i) + 1.0, i + 1, a < b};
    return {static_cast<double>(i) + fraction(a, b, v), -1, a < b};
}

template <bool Rising>
bool before(double a, double v) {
    return Rising ? a <= v : a >= v;
}

// The last segment of `segments` from `first` whose start lies at or before
// v in the stretch's direction (the first one must).
template <bool Rising>
uint32_t find_segment(const double* t, uint32_t first, uint32_t segments, double v) {
    const double* base = t + first;
    while (segments > 1) {
        const uint32_t half = segments / 2;
        base = before<Rising>(base[half], v) ? base + half : base;
        segments -= half;
    }
    return static_cast<uint32_t>(base - t);
}

Hit hit_in_stretch(const double* t, const Stretch& s, double v) {
    const uint32_t i = s.dir > 0 ? find_segment<true>(t, s.first, s.last - s.first, v)
                                 : find_segment<false>(t, s.first, s.last - s.first, v);
    return hit_in_segment(t, i, v);
}

// The table's finite segments grouped into stretches; false when there are
// more than kMaxStretches.
bool find_stretches(const double* t, uint32_t entries, Stretch* out, uint32_t& count) {
    count = 0;
    Stretch* open = nullptr;
    for (uint32_t i = 0; i + 1 < entries; ++i) {
        const double a = t[i], b = t[i + 1];
        if (!std::isfinite(a) || !std::isfinite(b)) {
            open = nullptr;
            continue;
        }
        const int dir = a < b ? 1 : a > b ? -1 : 0;
        if (open != nullptr && open->dir == dir) {
            open->last = i + 1;
            continue;
        }
        if (count == kMaxStretches) return false;
        out[count] = {i, i + 1, dir, 0.0, 0.0};
        open = &out[count++];
    }
    // A stretch takes the values between its end entries.
    for (uint32_t k = 0; k < count; ++k) {
        const double a = t[out[k].first], b = t[out[k].last];
        out[k].lo = a < b ? a : b;
        out[k].hi = a < b ? b : a;
    }
    return true;
}

// Records a hit; false once v is known to be reached at more than one
// input. The same entry reached from both stretches that meet there (a
// turning point) counts once.
bool add_hit(const Hit& h, Hit& first, int& hits) {
    if (hits == 1 && h.entry >= 0 && h.entry == first.entry) return true;
    if (hits++ == 0) first = h;
    return hits == 1;
}

// Exactly one input reaches v: its hit, by stretches.
bool solve_stretches(const double* t, const Stretch* s, uint32_t count, double v, Hit& hit) {
    int hits = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (!(v >= s[k].lo && v <= s[k].hi)) continue;
        if (s[k].dir == 0) return false;  // held along a flat run
        if (!add_hit(hit_in_stretch(t, s[k], v), hit, hits)) return false;
    }
    return hits == 1;
}

// The same, segment by segment, for tables that turn too often.
bool solve_segments(const double* t, uint32_t entries, double v, Hit& hit) {
    int hits = 0;
    for (uint32_t i = 0; i + 1 < entries; ++i) {
        const double a = t[i], b = t[i + 1];
        if (!((a <= v && v <= b) || (b <= v && v <= a)) || !std::isfinite(a) || !std::isfinite(b)) continue;
        if (a == b) return false;
        if (!add_hit(hit_in_segment(t, i, v), hit, hits)) return false;
    }
    return hits == 1;
}

// Input value at a grid position, inside the range.
inline double input_at(const Grid& g, double step, double pos) {
    if (pos <= 0.0) return g.lo;
    if (pos >= g.last_t) return g.hi;
    const double x = g.lo + pos * step;
    return x < g.lo ? g.lo : x > g.hi ? g.hi : x;
}

// Distance of the forward lookup at x from v; NaN lookups (at an entry
// whose right neighbour is not finite) count as infinitely far.
double miss(const Grid& g, double x, double v) {
    const double e = std::fabs(kern::interp_one(g, x) - v);
    return std::isnan(e) ? INFINITY : e;
}

// The input near x whose forward lookup comes closest to v, given the
// lookup r at x: single ulps while the lookup comes closer, in the
// direction the curve's slope says. Rounding can repeat a lookup value for
// a few neighbouring inputs, so up to kMaxTies equal steps are walked
// through before a direction is given up: no input within kMaxTies ulps of
// the result comes closer. On a monotonic table the other direction can
// only lead away; elsewhere (near a turn, or from a NaN lookup) it is
// tried as well. NaN when no input near x looks up to a finite distance
// from v: where the table's own differences overflow, the lookup gives NaN
// or infinities, and no input can be offered.
[[gnu::noinline]] double polish(const Grid& g, double x, double v, double r, bool rising, bool monotonic) {
    double err = std::isnan(r) ? INFINITY : std::fabs(r - v);
    const bool up_first = (r < v) == rising;
    const int passes = monotonic && !std::isnan(r) ? 1 : 2;
    for (int pass = 0; pass < passes; ++pass) {
        const bool up = (pass == 0) == up_first;
        double best = x, y = x;
        int ties = 0;
        for (int k = 0; k < kMaxSettleSteps; ++k) {
            y = up ? next_up(y) : next_down(y);
            if (y < g.lo || y > g.hi) break;
            const double e = miss(g, y, v);
            if (e < err) {
                best = y;
                err = e;
                ties = 0;
                if (e == 0.0) break;
            } else if (!(e == err && ++ties <= kMaxTies)) {
                break;
            }
        }
        if (best != x) return best;
    }
    return std::isinf(err) ? kNaN : x;
}

inline double settle(const Grid& g, double x, double v, bool rising, bool monotonic) {
    const double r = kern::interp_one(g, x);
    return r == v ? x : polish(g, x, v, r, rising, monotonic);
}

// Bucket of v in the per-call index of a monotonic table: monotonic in v,
// so the segments of one bucket lie between its index entry and the next.
template <bool Rising>
uint32_t bucket(double v, double t0, double inv, uint32_t last_bucket) {
    const double q = (Rising ? v - t0 : t0 - v) * inv;
    return q >= static_cast<double>(last_bucket) ? last_bucket : static_cast<uint32_t>(q);
}

// A table that rises (or falls) over its whole length: every value between
// its ends is reached exactly once.
template <bool Rising>
[[gnu::noinline]] uint64_t invert_monotonic(const Grid& grid, double step, const double* values, uint64_t count, double* inputs) {
    // A local copy: the stores to inputs cannot alias it, so its fields
    // stay in registers.
    const Grid g = grid;
    const double* t = g.table;
    const uint32_t segments = g.last;
    const double t0 = t[0], tn = t[segments];
    const double lo = Rising ? t0 : tn, hi = Rising ? tn : t0;

    // Differences of values within a finite span cannot overflow.
    const bool finite_span = hi - lo <= DBL_MAX;
    uint16_t index[kMaxBuckets + 1];  // segments fit: a table has at most 65535 entries
    uint32_t buckets = 1;
    double inv = 0.0;
    if (count >= kIndexedRun && segments >= 16) {
        // Four buckets a segment leave mostly one segment to each; fewer
        // for a short run, which would not pay for building them.
        buckets = 4 * segments < kMaxBuckets ? 4 * segments : kMaxBuckets;
        if (count < buckets) buckets = static_cast<uint32_t>(count);
        inv = static_cast<double>(buckets) / (hi - lo);
        if (!(inv > 0.0 && inv <= DBL_MAX)) buckets = 1;
    }
    if (buckets > 1) {
        // index[k]: the first segment whose end falls in bucket k or later.
        uint32_t k = 0;
        for (uint32_t i = 0; i + 1 < segments; ++i) {
            const uint32_t end = bucket<Rising>(t[i + 1], t0, inv, buckets - 1);
            for (; k <= end; ++k) index[k] = static_cast<uint16_t>(i);
        }
        for (; k <= buckets; ++k) index[k] = static_cast<uint16_t>(segments - 1);
    }

    uint64_t missed = 0;
    for (uint64_t k = 0; k < count; ++k) {
        const double v = values[k];
        if (!(v >= lo && v <= hi)) {
            inputs[k] = kNaN;
            ++missed;
            continue;
        }
        uint32_t i;
        if (buckets > 1) {
            // Mostly one segment or two: a short scan.
            const uint32_t b = bucket<Rising>(v, t0, inv, buckets - 1);
            const uint32_t end = index[b + 1];
            i = index[b];
            if (end - i <= 3) {
                // Two branch-free halvings cover up to four segments.
                uint32_t j = i + 2 <= end ? i + 2 : i;
                i = before<Rising>(t[j], v) ? j : i;
                j = i + 1 <= end ? i + 1 : i;
                i = before<Rising>(t[j], v) ? j : i;
            } else {
                i = find_segment<Rising>(t, i, end - i + 1, v);
            }
        } else {
            i = find_segment<Rising>(t, 0, segments, v);
        }
        const double a = t[i], d = t[i + 1] - a, base = static_cast<double>(i);
        const double pos = base + (finite_span ? (v - a) / d : fraction(a, t[i + 1], v));
        const double x = input_at(g, step, pos);
        // The forward lookup, as interp_one computes it, while x stays on
        // this segment (its checks all pass there).
        const double at = (x - g.lo) * g.scale;
        const double r = at >= base && at < base + 1.0 ? a + ((at + 0.0) - base) * d : kern::interp_one(g, x);
        if (r == v) {
            inputs[k] = x;
        } else {
            inputs[k] = polish(g, x, v, r, Rising, true);
            missed += std::isnan(inputs[k]) ? 1 : 0;
        }
    }
    return missed;
}

uint64_t invert(const Grid& g, const double* values, uint64_t count, double* inputs) {
    const double step = (g.hi - g.lo) / g.last_t;
    const uint32_t entries = g.last + 1;
    Stretch stretches[kMaxStretches];
    uint32_t found = 0;
    const bool listed = find_stretches(g.table, entries, stretches, found);
    if (listed && found == 1 && stretches[0].first == 0 && stretches[0].last == g.last && stretches[0].dir != 0) {
        return stretches[0].dir > 0 ? invert_monotonic<true>(g, step, values, count, inputs)
                                    : invert_monotonic<false>(g, step, values, count, inputs);
    }
    uint64_t missed = 0;
    for (uint64_t k = 0; k < count; ++k) {
        const double v = values[k];
        Hit h{};
        const bool once = listed ? solve_stretches(g.table, stretches, found, v, h)
                                 : solve_segments(g.table, entries, v, h);
        inputs[k] = once ? settle(g, input_at(g, step, h.pos), v, h.rising, false) : kNaN;
        missed += std::isnan(inputs[k]) ? 1 : 0;
    }
    return missed;
}

}  // namespace

extern "C" CALMGR_API int32_t ICalInverse(const IntensityCal* cal, const double* values, uint64_t count,
                                          double* inputs, uint64_t* unresolved) {
    if (count > 0 && (cal == nullptr || values == nullptr || inputs == nullptr)) return CAL_ERR_INVALID;
    uint64_t missed = 0;
    if (count > 0) {
        const bool calibrated = usable(cal) && grid_of(cal).finite;
        if (calibrated) {
            missed = invert(grid_of(cal), values, count, inputs);
        } else {
            for (uint64_t k = 0; k < count; ++k) inputs[k] = kNaN;
            missed = count;
        }
    }
    if (unresolved != nullptr) *unresolved = missed;
    return CAL_OK;
}

}  // namespace calmgr
