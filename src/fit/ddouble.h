// Double-double arithmetic: a value held as the unevaluated sum of two
// doubles, hi + lo with |lo| <= ulp(hi) / 2, about 106 significant bits.
// The error-free transformations use only additions and products rounded
// to nearest (Dekker's split, no fused multiply-add), so they are exact on
// every target the library builds for, provided the operands' magnitudes
// stay below 2^995 (the split's multiplier would overflow beyond): callers
// scale their data to moderate magnitudes first.
#pragma once

#include <cmath>

namespace calmgr::dd {

struct DD {
    double hi = 0.0;
    double lo = 0.0;
};

// a + b = s + e exactly.
inline DD two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}

// As two_sum, for |a| >= |b| (or a == 0).
inline DD quick_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a = hi + lo with both halves of 26 significant bits or fewer.
inline void split(double a, double& hi, double& lo) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    hi = t - (t - a);
    lo = a - hi;
}

// a * b = p + e exactly.
inline DD two_prod(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    const double e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
    return {p, e};
}

inline DD from(double a) { return {a, 0.0}; }
inline double to_double(const DD& a) { return a.hi + a.lo; }
inline DD neg(const DD& a) { return {-a.hi, -a.lo}; }

// Sums and products rounded to about 2^-104 relative (the sum's error is
// relative to |a| + |b| where the two cancel).
inline DD add(const DD& a, const DD& b) {
    DD s = two_sum(a.hi, b.hi);
    const DD t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = quick_two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return quick_two_sum(s.hi, s.lo);
}
inline DD add(const DD& a, double b) {
    DD s = two_sum(a.hi, b);
    s.lo += a.lo;
    return quick_two_sum(s.hi, s.lo);
}
inline DD sub(const DD& a, const DD& b) { return add(a, neg(b)); }

inline DD mul(const DD& a, const DD& b) {
    DD p = two_prod(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return quick_two_sum(p.hi, p.lo);
}
inline DD mul(const DD& a, double b) {
    DD p = two_prod(a.hi, b);
    p.lo += a.lo * b;
    return quick_two_sum(p.hi, p.lo);
}
inline DD sqr(const DD& a) { return mul(a, a); }

// Quotient by long division with two correction steps.
inline DD div(const DD& a, const DD& b) {
    const double q1 = a.hi / b.hi;
    DD r = sub(a, mul(b, q1));
    const double q2 = r.hi / b.hi;
    r = sub(r, mul(b, q2));
    const double q3 = r.hi / b.hi;
    return add(quick_two_sum(q1, q2), q3);
}

// a * 2^e, exact while neither part overflows or becomes subnormal.
inline DD ldexp(const DD& a, int e) { return {std::ldexp(a.hi, e), std::ldexp(a.lo, e)}; }

// Square root of a >= 0 (NaN stays NaN) by one Newton step from the double root.
inline DD sqrt(const DD& a) {
    if (std::isnan(a.hi)) return a;
    if (!(a.hi > 0.0)) return {0.0, 0.0};
    const double x = std::sqrt(a.hi);
    const DD r = sub(a, two_prod(x, x));
    return quick_two_sum(x, r.hi / (2.0 * x));
}

}  // namespace calmgr::dd
