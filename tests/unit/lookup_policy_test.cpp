// ICalLookupPolicy against a plain loop, bit for bit: every route and
// output type, each policy with and without counts, on samples that fall
// below, above, on and between the range's ends, NaN and infinities,
// 16-bit samples past a direct table, runs crossing the chunk boundaries,
// misaligned and in-place buffers, streamed stores; and the refusals.
#include "intensity/lookup_dispatch.h"
#include "lookup_check.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

using namespace lookup_test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What ICalLookupPolicy must give: the clamped lookup of the reference
// loops, then NaN for outside values and the NaN sample itself, value by
// value, with the counts.
struct Expected {
    std::vector<unsigned char> out;
    CalLookupStats stats{};
};

template <class S>
double value_at(const void* samples, uint64_t k) {
    S s;
    std::memcpy(&s, static_cast<const unsigned char*>(samples) + k * sizeof s, sizeof s);
    return static_cast<double>(s);
}

template <class S, class O>
void apply_policy(const IntensityCal* cal, const void* samples, uint64_t values, unsigned char* out, uint32_t policy,
                  CalLookupStats& st) {
    const bool usable = cal != nullptr && cal->cal_type != ICAL_TYPE_NONE && cal->table != nullptr &&
                        cal->table_size >= 2 && cal->range_max > cal->range_min;
    for (uint64_t k = 0; k < values; ++k) {
        const double x = value_at<S>(samples, k);
        const bool below = usable && x < cal->range_min, above = usable && x > cal->range_max;
        st.below += below;
        st.above += above;
        st.nan += std::isnan(x);
        O o;
        if ((policy & ICAL_POLICY_OUTSIDE_NAN) && (below || above)) {
            o = std::numeric_limits<O>::quiet_NaN();
        } else if ((policy & ICAL_POLICY_NAN_PROPAGATE) && std::isnan(x)) {
            S s;
            std::memcpy(&s, static_cast<const unsigned char*>(samples) + k * sizeof s, sizeof s);
            o = static_cast<O>(s);
        } else {
            continue;
        }
        std::memcpy(out + k * sizeof(O), &o, sizeof o);
    }
}

template <class O>
void apply_for_type(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t values, unsigned char* out,
                    uint32_t policy, CalLookupStats& st) {
    switch (calmgr::route_of(type, 1).route) {
        case calmgr::Route::bits: break;
        case calmgr::Route::u8: apply_policy<uint8_t, O>(cal, samples, values, out, policy, st); break;
        case calmgr::Route::u16: apply_policy<uint16_t, O>(cal, samples, values, out, policy, st); break;
        case calmgr::Route::f32: apply_policy<float, O>(cal, samples, values, out, policy, st); break;
        case calmgr::Route::f64: apply_policy<double, O>(cal, samples, values, out, policy, st); break;
    }
}

Expected expected(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count, size_t out_size,
                  uint32_t policy) {
    Expected e;
    e.out.assign(out_size, 0xA5);
    EXPECT_EQ(calmgr::ref::lookup(cal, type, samples, count, e.out.data()), CAL_OK);
    if (cal != nullptr && cal->cal_type == ICAL_TYPE_NONE) cal = nullptr;
    const uint64_t values = values_of(type, count);
    if (type & ICAL_LOOKUP_FLOAT) {
        apply_for_type<float>(cal, type, samples, values, e.out.data(), policy, e.stats);
    } else {
        apply_for_type<double>(cal, type, samples, values, e.out.data(), policy, e.stats);
    }
    return e;
}

// The policy lookup on copies of the samples placed in_off bytes into
// their buffer, written out_off bytes into a guarded output (or in place).
::testing::AssertionResult policy_matches(const IntensityCal* cal, uint32_t type, const void* samples, uint64_t count,
                                          uint32_t policy, bool with_stats, size_t in_off, size_t out_off,
                                          bool in_place = false) {
    const size_t in_size = input_bytes(type, count);
    const size_t out_size = values_of(type, count) * ((type & ICAL_LOOKUP_FLOAT) ? 4 : 8);
    const Expected e = expected(cal, type, samples, count, out_size + 40, policy);
    std::vector<unsigned char> in(in_off + std::max(in_size, out_size) + 40, 0xA5);
    std::memcpy(in.data() + in_off, samples, in_size);
    std::vector<unsigned char> out(out_off + out_size + 40, 0xA5);
    unsigned char* dst = in_place ? in.data() + in_off : out.data() + out_off;
    CalLookupStats st{7, 7, 7};
    const int32_t status =
        ICalLookupPolicy(cal, type, in.data() + in_off, count, dst, policy, with_stats ? &st : nullptr);
    const auto where = [&] {
        return ::testing::Message() << "type 0x" << std::hex << type << std::dec << " count " << count << " policy "
                                    << policy << (with_stats ? " stats" : "") << " in_off " << in_off << " out_off "
                                    << out_off << (in_place ? " in place" : "");
    };
    if (status != CAL_OK) return ::testing::AssertionFailure() << where() << ": status " << status;
    if (std::memcmp(dst, e.out.data(), out_size + (in_place ? 0 : 40)) != 0) {
        size_t i = 0;
        while (dst[i] == e.out[i]) ++i;
        return ::testing::AssertionFailure() << where() << ": byte " << i << " of " << out_size << " differs";
    }
    if (with_stats && (st.below != e.stats.below || st.above != e.stats.above || st.nan != e.stats.nan)) {
        return ::testing::AssertionFailure() << where() << ": stats " << st.below << "/" << st.above << "/" << st.nan
                                             << " expected " << e.stats.below << "/" << e.stats.above << "/"
                                             << e.stats.nan;
    }
    if (!with_stats && (st.below != 7 || st.above != 7 || st.nan != 7)) {
        return ::testing::AssertionFailure() << where() << ": stats written";
    }
    return ::testing::AssertionSuccess();
}

std::vector<double> ramp(size_t n, double from, double step) {
    std::vector<double> t(n);
    for (size_t i = 0; i < n; ++i) t[i] = from + step * static_cast<double>(i) * (i % 3 == 1 ? 1.5 : 1.0);
    return t;
}

// Calibrations that leave every route something below, above and inside.
std::vector<TestCal> policy_cals() {
    std::vector<TestCal> cals;
    cals.emplace_back(0.0, 255.0, ramp(256, -0.0, 0.7), 1);      // direct 8-bit: no 8-bit sample outside
    cals.emplace_back(0.0, 4095.0, ramp(4096, 5.0, 0.3), 2);     // direct 16-bit: samples past 4095 above
    cals.emplace_back(10.5, 200.25, ramp(700, -10.0, 0.05));     // interpolating, inside 0..255
    cals.emplace_back(-1e300, 1e300, ramp(33, 1.0, 1.0));        // nothing but infinities outside
    cals.emplace_back(300.0, 400.0, ramp(9, 1.0, 1.0));          // every 8-bit sample below
    cals.emplace_back(-400.0, -300.0, ramp(9, 1.0, 1.0));        // every sample at or above 0 above
    cals.emplace_back(40.0, 40.0, ramp(256, 1.0, 1.0));          // empty range: nothing outside
    cals.emplace_back(0.0, 255.0, std::vector<double>{});        // no table: nothing outside
    TestCal none(0.0, 100.0, ramp(64, 0.0, 1.0));
    none.rec.cal_type = ICAL_TYPE_NONE;
    cals.push_back(none);
    return cals;
}

// Samples for every layout: random bytes for the integer and bit codes
// (16-bit values both inside and past 4095), and floats and doubles from
// below the widest range to above it with NaN, infinities and -0.0.
struct Samples {
    std::vector<unsigned char> bytes;
    std::vector<float> floats;
    std::vector<double> doubles;

    explicit Samples(size_t values) : bytes(values * 2 + 64), floats(values + 16), doubles(values + 16) {
        std::mt19937_64 rng(77);
        for (size_t i = 0; i < bytes.size(); i += 2) {
            const uint16_t v = i % 6 == 0 ? static_cast<uint16_t>(rng()) : static_cast<uint16_t>(rng() % 4200);
            std::memcpy(&bytes[i], &v, 2);
        }
        const double special[] = {kNaN, kInf, -kInf, -0.0, 10.5, 200.25, 4095.0, 4096.0, 300.0, -300.0, 1e300};
        std::uniform_real_distribution<double> d(-50.0, 4200.0);
        for (size_t i = 0; i < doubles.size(); ++i) doubles[i] = i % 7 == 3 ? special[(i / 7) % 11] : d(rng);
        for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(doubles[(i * 5) % doubles.size()]);
        floats[2] = std::nextafter(10.5f, 0.0f);
        floats[4] = std::nextafter(200.25f, 300.0f);
    }
    const void* for_type(uint32_t type) const {
        const uint32_t code = type & 0xFFu;
        if (code == 5) return floats.data();
        if (code == 7 || code >= 10) return doubles.data();
        return bytes.data();
    }
};

const uint32_t kCodes[] = {0, 1, 3, 4, 5, 7, 8, 200};

TEST(LookupPolicy, EveryRouteAndPolicyMatchesAPlainLoop) {
    const Samples samples(3 * 4200);
    on_every_level(policy_cals(), [&](const TestCal& cal) {
        for (uint32_t code : kCodes) {
            for (uint32_t type : {code, code | ICAL_LOOKUP_FLOAT}) {
                for (uint32_t policy = 0; policy < 4; ++policy) {
                    for (bool stats : {false, true}) {
                        // Short runs, the chunk boundaries, the long-run tables.
                        for (uint64_t count : {0, 1, 5, 31, 33, 255, 257, 2047, 2049, 4100}) {
                            ASSERT_TRUE(policy_matches(cal.get(), type, samples.for_type(type), count, policy, stats,
                                                       count % 3, count % 5));
                        }
                    }
                }
            }
        }
    });
}

TEST(LookupPolicy, StreamedStoresAndMisalignedBuffers) {
    const Samples samples(3 * 4200);
    ForceStreaming streaming;
    on_every_level(policy_cals(), [&](const TestCal& cal) {
        for (uint32_t code : kCodes) {
            for (uint32_t type : {code, code | ICAL_LOOKUP_FLOAT}) {
                for (size_t out_off : {0, 3, 4, 8, 13}) {
                    for (uint32_t policy : {0u, 3u}) {
                        ASSERT_TRUE(policy_matches(cal.get(), type, samples.for_type(type), 4099, policy, true, 1,
                                                   out_off));
                    }
                }
            }
        }
    });
}

// Runs long enough for the per-call tables (8-bit codes, 16-bit tables
// rounded to float, the direct 16-bit table with a NaN end), streamed or
// not, with chunks that need a patch and chunks that do not.
TEST(LookupPolicy, PerCallTablesOnLongRuns) {
    Samples samples(3 * 17000);
    for (size_t i = 0; i < 8000; ++i) samples.bytes[i] = 7;  // 16-bit samples of 1799: nothing outside
    for (size_t i = 20000; i < 20010; i += 2) samples.bytes[i] = 0xFF, samples.bytes[i + 1] = 0x0F;  // 4095
    for (bool stream : {false, true}) {
        const size_t previous = calmgr::kern::force_nt_threshold(stream ? 0 : SIZE_MAX);
        on_every_level(policy_cals(), [&](const TestCal& cal) {
            for (uint32_t code : {1u, 3u, 4u, 8u, 5u, 7u}) {
                for (uint32_t type : {code, code | ICAL_LOOKUP_FLOAT}) {
                    for (uint32_t policy : {1u, 3u}) {
                        ASSERT_TRUE(policy_matches(cal.get(), type, samples.for_type(type), 16390, policy, true, 0,
                                                   stream ? 8 : 3));
                    }
                }
            }
        });
        calmgr::kern::force_nt_threshold(previous);
    }
}

TEST(LookupPolicy, InPlaceWhenTheOutputIsAsWideAsTheSamples) {
    const Samples samples(4200);
    for (bool stream : {false, true}) {
        const size_t previous = calmgr::kern::force_nt_threshold(stream ? 0 : SIZE_MAX);
        on_every_level(policy_cals(), [&](const TestCal& cal) {
            for (uint32_t type : {7u, 5u | ICAL_LOOKUP_FLOAT}) {
                for (uint32_t policy = 0; policy < 4; ++policy) {
                    ASSERT_TRUE(policy_matches(cal.get(), type, samples.for_type(type), 4100, policy, true, 0, 0,
                                               true));
                }
            }
        });
        calmgr::kern::force_nt_threshold(previous);
    }
}

// Float samples are compared with the range as the plain loop compares
// them, widened to double: the neighbours of limits no float holds.
TEST(LookupPolicy, FloatSamplesAgainstLimitsNoFloatHolds) {
    const double lo = 0.1, hi = 1e39;  // neither is a float; hi lies past the largest float
    const TestCal cal(lo, hi, ramp(100, 0.0, 1.0));
    const float below = std::nextafter(static_cast<float>(lo), 0.0f);
    std::vector<float> xs = {below, std::nextafter(below, 1.0f), static_cast<float>(lo), 3.0e38f,
                             std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity(), -0.0f};
    for (uint32_t type : {5u, 5u | ICAL_LOOKUP_FLOAT}) {
        EXPECT_TRUE(policy_matches(cal.get(), type, xs.data(), xs.size(), 3, true, 0, 0));
    }
    CalLookupStats st{};
    std::vector<double> out(xs.size());
    ASSERT_EQ(ICalLookupPolicy(cal.get(), 5, xs.data(), xs.size(), out.data(), 1, &st), CAL_OK);
    EXPECT_EQ(st.below, 2u);  // the float under 0.1, and -0.0; the float nearest 0.1 lies above it
    EXPECT_EQ(st.above, 1u);  // only +inf lies above 1e39
}

TEST(LookupPolicy, SixteenBitSamplesPastADirectTableAreAbove) {
    const TestCal cal(0.0, 4095.0, ramp(4096, 0.0, 1.0), 2);
    const uint16_t xs[] = {0, 4095, 4096, 65535, 17};
    double out[5];
    CalLookupStats st{};
    ASSERT_EQ(ICalLookupPolicy(cal.get(), 4, xs, 5, out, ICAL_POLICY_OUTSIDE_NAN, &st), CAL_OK);
    EXPECT_EQ(out[1], cal.table[4095]);
    EXPECT_TRUE(std::isnan(out[2]) && std::isnan(out[3]));
    EXPECT_EQ(out[4], 17.0);
    EXPECT_EQ(st.below, 0u);
    EXPECT_EQ(st.above, 2u);
    EXPECT_EQ(st.nan, 0u);
}

TEST(LookupPolicy, RefusalsWriteNothing) {
    const TestCal cal(0.0, 255.0, ramp(256, 0.0, 1.0), 1);
    const uint8_t samples[4] = {1, 2, 3, 4};
    double out[4] = {-1, -1, -1, -1};
    CalLookupStats st{9, 9, 9};
    for (uint32_t policy : {4u, 8u, 0x80000000u, 7u}) {
        EXPECT_EQ(ICalLookupPolicy(cal.get(), 1, samples, 4, out, policy, &st), CAL_ERR_INVALID);
        EXPECT_EQ(ICalLookupPolicy(cal.get(), 1, samples, 0, out, policy, &st), CAL_ERR_INVALID);
    }
    EXPECT_EQ(ICalLookupPolicy(cal.get(), 1, nullptr, 4, out, 0, &st), CAL_ERR_INVALID);
    EXPECT_EQ(ICalLookupPolicy(cal.get(), 1, samples, 4, nullptr, 3, nullptr), CAL_ERR_INVALID);
    // A 64-bit count is not cut to 32 bits: 2^32 + 1 pixels with no buffer are refused.
    EXPECT_EQ(ICalLookupPolicy(cal.get(), 1, nullptr, (uint64_t{1} << 32) + 1, out, 0, nullptr), CAL_ERR_INVALID);
    // Runs no memory could hold.
    EXPECT_EQ(ICalLookupPolicy(cal.get(), 3, samples, UINT64_MAX / 2, out, 0, &st), CAL_ERR_INVALID);
    EXPECT_EQ(ICalLookupPolicy(cal.get(), 7, samples, UINT64_MAX / 4, out, 0, &st), CAL_ERR_INVALID);
    for (double v : out) EXPECT_EQ(v, -1.0);
    EXPECT_EQ(st.below, 9u);
    // Nothing to convert: counts of zero.
    EXPECT_EQ(ICalLookupPolicy(cal.get(), 1, nullptr, 0, nullptr, 3, &st), CAL_OK);
    EXPECT_EQ(st.below + st.above + st.nan, 0u);
}

}  // namespace
