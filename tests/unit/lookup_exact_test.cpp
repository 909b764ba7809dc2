// Proof of exactness: every fast lookup route, at every instruction-set
// level this processor runs, gives the reference loops' bits on every
// 8-bit and 16-bit code and on the awkward floating-point inputs (NaN,
// infinities, signed zeros, subnormals, the range limits and grid points
// and a few ulps around them), over tables that make the formula awkward.
#include "lookup_check.h"

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace lookup_test;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> random_table(size_t n, uint64_t seed, double spread = 1000.0) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> d(-spread, spread);
    std::vector<double> t(n);
    for (double& v : t) v = d(rng);
    return t;
}

// Interpolating tables chosen to stress the formula: ordinary, a first
// entry of -0.0, infinite and NaN entries, tiny and huge ranges (scale
// near overflow, infinite, or zero), 2 and 32767 entries.
std::vector<TestCal> interpolating_cals() {
    std::vector<TestCal> cals;
    cals.emplace_back(10.25, 200.5, random_table(1000, 1));
    auto negzero = random_table(300, 2);
    negzero[0] = -0.0;
    negzero[1] = 0.0;
    cals.emplace_back(0.0, 255.0, negzero);
    cals.emplace_back(-0.0, 4095.0, negzero);
    auto odd = random_table(64, 3);
    odd[5] = kInf;
    odd[9] = -kInf;
    odd[20] = kNaN;
    cals.emplace_back(-3.0, 300.0, odd);
    cals.emplace_back(100.0, 100.0 + 1e-9, random_table(50, 4));
    cals.emplace_back(0.0, 5e-324, random_table(10, 5));             // scale infinite
    cals.emplace_back(-1e308, 1e308, random_table(100, 6));          // width overflows: scale 0
    cals.emplace_back(-kInf, 50.0, random_table(8, 7));
    cals.emplace_back(1.0, kInf, random_table(8, 8));
    cals.emplace_back(0.0, 65535.0, random_table(32767, 9));
    cals.emplace_back(2.5, 3.5, std::vector<double>{-0.0, 7.0});
    cals.emplace_back(0.0, 255.0, random_table(256, 10));            // 256 entries but not direct
    return cals;
}

std::vector<uint32_t> with_both_outputs(std::initializer_list<uint32_t> codes) {
    std::vector<uint32_t> types;
    for (uint32_t c : codes) {
        types.push_back(c);
        types.push_back(c | ICAL_LOOKUP_FLOAT);
    }
    return types;
}

TEST(LookupExact, EveryEightBitCode) {
    std::vector<uint8_t> codes(256 * 3);
    std::mt19937 rng(11);
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<uint8_t>(i);
    std::shuffle(codes.begin(), codes.end(), rng);
    auto cals = interpolating_cals();
    cals.emplace_back(0.0, 255.0, random_table(256, 12), 1);
    auto direct_negzero = random_table(256, 13);
    direct_negzero[0] = -0.0;
    cals.emplace_back(0.0, 255.0, direct_negzero, 1);
    cals.emplace_back(0.0, 4095.0, random_table(4096, 14), 2);  // a 16-bit direct table interpolates 8-bit codes
    on_every_level(cals, [&](const TestCal& cal) {
        for (uint32_t type : with_both_outputs({1, 2})) {
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data(), codes.size()));  // per-call table
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data() + 7, 61));       // short run
        }
        for (uint32_t type : with_both_outputs({3})) {
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data(), codes.size() / 3));
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data() + 1, 20));
        }
    });
}

TEST(LookupExact, EverySixteenBitCode) {
    std::vector<uint16_t> codes(65536 + 2);  // 3 x 21846 values for the RGB codes
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<uint16_t>(i * 40503u);
    std::vector<TestCal> cals;
    cals.emplace_back(0.0, 4095.0, random_table(4096, 21), 2);
    auto direct_negzero = random_table(4096, 22);
    direct_negzero[0] = -0.0;
    direct_negzero[4095] = -0.0;
    cals.emplace_back(0.0, 4095.0, direct_negzero, 2);
    cals.emplace_back(100.5, 60000.25, random_table(1000, 23));
    cals.emplace_back(0.0, 65535.0, random_table(32767, 24));
    cals.emplace_back(0.0, 4095.0, random_table(4096, 25));  // 4096 entries, not direct
    cals.emplace_back(1000.0, 1001.0, std::vector<double>{-0.0, 3.0});
    cals.emplace_back(0.0, 255.0, random_table(256, 26), 1);  // an 8-bit direct table interpolates 16-bit codes
    on_every_level(cals, [&](const TestCal& cal) {
        for (uint32_t type : with_both_outputs({4, 6})) {
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data(), 65536));
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data() + 4090, 1000));
        }
        for (uint32_t type : with_both_outputs({8, 9})) {
            EXPECT_TRUE(same_as_reference(cal.get(), type, codes.data(), codes.size() / 3));
        }
    });
}

// The inputs around which the formula turns: specials, the range limits,
// every grid point of small tables (a sample of them for large ones) and
// a few ulps on either side of each.
std::vector<double> awkward_inputs(const IntensityCal& cal) {
    std::vector<double> v = {kNaN, -kNaN, kInf, -kInf, 0.0, -0.0, 5e-324, -5e-324, 2.2250738585072009e-308,
                             2.2250738585072014e-308, 1e300, -1e300, 255.0, 4095.0, 65535.0, 0.5};
    std::vector<double> centres = {cal.range_min, cal.range_max};
    const uint32_t last = cal.table_size - 1u;
    const uint32_t step = last > 300 ? last / 300 : 1;
    for (uint32_t i = 0; i <= last; i += step) {
        centres.push_back(cal.range_min + i * (cal.range_max - cal.range_min) / last);
    }
    for (double c : centres) {
        double up = c, down = c;
        v.push_back(c);
        for (int k = 0; k < 3; ++k) {
            up = std::nextafter(up, kInf);
            down = std::nextafter(down, -kInf);
            v.push_back(up);
            v.push_back(down);
        }
    }
    std::mt19937_64 rng(31);
    const double w = cal.range_max - cal.range_min;
    std::uniform_real_distribution<double> d(cal.range_min - 0.1 * w, cal.range_max + 0.1 * w);
    for (int k = 0; k < 500 && std::isfinite(w); ++k) v.push_back(d(rng));
    return v;
}

TEST(LookupExact, FloatAndDoubleSamplesAtAwkwardValues) {
    const auto cals = interpolating_cals();
    on_every_level(cals, [&](const TestCal& cal) {
        const std::vector<double> d = awkward_inputs(cal.rec);
        std::vector<float> f;
        for (double x : d) {
            const auto y = static_cast<float>(x);
            f.insert(f.end(), {y, std::nextafter(y, INFINITY), std::nextafter(y, -INFINITY)});
        }
        for (uint32_t type : with_both_outputs({7, 10, 200})) {
            EXPECT_TRUE(same_as_reference(cal.get(), type, d.data(), d.size()));
        }
        for (uint32_t type : with_both_outputs({5})) {
            EXPECT_TRUE(same_as_reference(cal.get(), type, f.data(), f.size()));
        }
    });
}

// A sample of -0.0 at a range starting at +0.0 gives t = -0.0: the
// formula's fraction t - floor(t) is +0.0 there, so with a first entry of
// -0.0 the result is +0.0, not the entry.
TEST(LookupExact, NegativeZeroSampleAtPositiveZeroRangeStart) {
    const TestCal cal(0.0, 10.0, {-0.0, 4.0, 8.0});
    const double samples[9] = {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0};
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        double out[9];
        ASSERT_EQ(calmgr::lookup(cal.get(), 7, samples, 9, out), CAL_OK);
        for (double r : out) {
            EXPECT_EQ(r, 0.0);
            EXPECT_FALSE(std::signbit(r));
        }
        EXPECT_TRUE(same_as_reference(cal.get(), 7, samples, 9));
    }
}

}  // namespace
