// Piecewise Lagrange interpolation of calibration points onto a table grid.
// A point cursor walks the points as the table is filled; each entry between
// the first and the last point takes the value of the polynomial through a
// small window of points around the cursor, and the entries outside continue
// the curve as straight lines. Consecutive repeated points are skipped on the
// fly and the scratch state lives in one build's locals, so a build neither
// allocates nor sees anything left by an earlier one.
#include "intensity/piecewise.h"
#include "intensity/table_index.h"

#include <cmath>

namespace calmgr {
namespace {

constexpr int kMaxWindow = 4;  // order 3 uses four points
constexpr uint32_t kRing = 4;  // kept points a window choice can reach back to

// The points with consecutive repeats dropped, listed forward on demand.
// Only the last kRing kept points are addressable, which is all the cursor
// walk needs: a window for cursor j spans kept points j-2 .. j+1.
struct KeptPoints {
    const CalPoint* points = nullptr;
    uint32_t num_points = 0;
    uint32_t count = 0;       // number of kept points
    uint32_t listed = 0;      // kept points found so far
    uint32_t scan = 0;        // next original index to examine
    uint32_t ring[kRing] = {};

    static bool repeats(const CalPoint& a, const CalPoint& b) {
        return a.input == b.input && a.calibrated == b.calibrated;
    }

    KeptPoints(const CalPoint* pts, uint32_t n) : points(pts), num_points(n) {
        if (n == 0) return;
        count = 1;
        uint32_t last = 0;
        for (uint32_t i = 1; i < n; ++i) {
            if (!repeats(pts[i], pts[last])) {
                last = i;
                ++count;
            }
        }
        ring[0] = 0;
        listed = 1;
        scan = 1;
    }

    // Lists kept points until kept point `index` is known (index < count).
    void list_through(uint32_t index) {
        while (listed <= index && scan < num_points) {
            const CalPoint& prev = points[ring[(listed - 1) % kRing]];
            if (!repeats(points[scan], prev)) ring[listed++ % kRing] = scan;
            ++scan;
        }
    }

    const CalPoint& at(uint32_t index) {
        list_through(index);
        return points[ring[index % kRing]];
    }
};

// One build's scratch state: the current window and extension line.
struct Scratch {
    uint32_t window_base = 0;
    const CalPoint* window[kMaxWindow] = {};
    double window_denoms[kMaxWindow] = {};
    double ext_slope = 0.0;
    double ext_intercept = 0.0;
};

// Chooses the window for cursor j (1 <= j <= count-1): up to h points below
// the cursor and up to order+1-h from it on, cut short at either end of the
// list, and computes their Lagrange denominators. Returns the degree.
int choose_window(Scratch& s, KeptPoints& kept, uint32_t j, uint32_t count, int order) {
    const uint32_t h = static_cast<uint32_t>(order + 1) / 2;
    const uint32_t below = j < h ? j : h;
    const uint32_t want_above = static_cast<uint32_t>(order + 1) - h;
    const uint32_t above = count - j < want_above ? count - j : want_above;
    const uint32_t size = below + above;
    s.window_base = j - below;
    for (uint32_t p = 0; p < size; ++p) s.window[p] = &kept.at(s.window_base + p);
    for (uint32_t p = 0; p < size; ++p) {
        double denom = 1.0;
        for (uint32_t q = 0; q < size; ++q) {
            if (q != p) denom *= s.window[p]->input - s.window[q]->input;
        }
        s.window_denoms[p] = denom;
    }
    return static_cast<int>(size) - 1;
}

// Value at x of the Lagrange polynomial through the current window. A point
// sharing its input value with another window point has a zero denominator
// and contributes nothing.
double eval_window(const Scratch& s, double x, int degree) {
    double sum = 0.0;
    for (int i = 0; i <= degree; ++i) {
        double p = 1.0;
        for (int m = 0; m <= degree; ++m) {
            if (m != i) p *= x - s.window[m]->input;
        }
        if (s.window_denoms[i] != 0.0) sum += (p / s.window_denoms[i]) * s.window[i]->calibrated;
    }
    return sum;
}

void set_extension_line(Scratch& s, double offset1, double value1, double offset2, double value2) {
    double d = offset2 - offset1;
    if (d == 0.0) d = 1.0;
    s.ext_slope = (value2 - value1) / d;
    s.ext_intercept = value2 - offset2 * s.ext_slope;
}

double eval_extension_line(const Scratch& s, double u) { return s.ext_slope * u + s.ext_intercept; }

void fill_line(const Scratch& s, double* table, int32_t from, int32_t to, double step) {
    for (int32_t i = from; i < to; ++i) table[i] = eval_extension_line(s, i * step);
}

}  // namespace

int build_piecewise_table(const CalPoint* points, uint16_t num_points, double* table, uint16_t table_size,
                          int16_t order, double range_min, double range_max) {
    if (points == nullptr || table == nullptr || order < 1 || order > 3) return 0;
    if (num_points < 2 || table_size < 2) return 0;
    const double step = (range_max - range_min) / (table_size - 1);
    if (!(step >= 0.0)) return 0;
    KeptPoints kept(points, num_points);
    const uint32_t k = kept.count;
    if (k < 2) return 0;

    const int32_t n = table_size;
    // The last original point is the last kept one or a repeat of it.
    const double x_first = points[0].input;
    const double x_last = points[num_points - 1].input;
    const double start_d = std::ceil((x_first - range_min) / step);
    const double end_d = std::floor((x_last - range_min) / step);
    // Entries start..end lie within the points' span. Points reaching outside
    // the range clip the walk to the table, and the clipped side gets no
    // extension line (the walk already covers it).
    const int32_t start = clamp_index(start_d, 0, n);
    const int32_t end = clamp_index(end_d, -1, n - 1);
    const bool head_clipped = start_d < 0.0;
    const bool tail_clipped = end_d > n - 1;

    Scratch s;
    // Straight lines through the first two and (later) the last two kept
    // points extend the curve when too few grid inputs lie within the span
    // for the table-based lines.
    const CalPoint p0 = kept.at(0), p1 = kept.at(1);

    uint32_t j = 1;
    if (head_clipped) {
        // Points below range_min: start the cursor at the interval holding
        // the first grid input instead of catching up one point per entry.
        while (j + 1 < k && kept.at(j).input <= range_min) ++j;
    }
    // Serves an entry that rounding puts a hair below the first point.
    int degree = choose_window(s, kept, j, k, order);
    for (int32_t m = start; m <= end; ++m) {
        const double x = range_min + m * step;
        if (j < k && x >= kept.at(j - 1).input) {
            degree = choose_window(s, kept, j, k, order);
            ++j;
        }
        table[m] = eval_window(s, x, degree);
    }

    const int32_t computed = end - start + 1;
    if (computed >= 3) {
        set_extension_line(s, start * step, table[start], (start + 1) * step, table[start + 1]);
        fill_line(s, table, 0, start, step);
        if (!tail_clipped) {
            // Through entries end-2 and end-1: entry end itself is replaced.
            set_extension_line(s, (end - 2) * step, table[end - 2], (end - 1) * step, table[end - 1]);
            fill_line(s, table, end, n, step);
        }
    } else if (computed == 2) {
        // One line through both computed entries serves both ends.
        set_extension_line(s, start * step, table[start], end * step, table[end]);
        fill_line(s, table, 0, start, step);
        if (!tail_clipped) fill_line(s, table, end + 1, n, step);
    } else {
        // At most one computed entry: extend with the lines through the
        // outermost points. Points out of order (start beyond end + 1) fill
        // every entry once: below start from the head, the rest from the tail.
        set_extension_line(s, p0.input - range_min, p0.calibrated, p1.input - range_min, p1.calibrated);
        fill_line(s, table, 0, start, step);
        const CalPoint q0 = kept.at(k - 2), q1 = kept.at(k - 1);
        set_extension_line(s, q0.input - range_min, q0.calibrated, q1.input - range_min, q1.calibrated);
        fill_line(s, table, end + 1 > start ? end + 1 : start, n, step);
    }
    return 1;
}

}  // namespace calmgr
