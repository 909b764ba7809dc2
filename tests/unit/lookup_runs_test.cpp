// The fast routes against the reference on every run length 0 ... 70 and
// unaligned input and output buffers (the vector kernels' heads, blocks
// and tails), with cache-bypassing stores forced on, in place, on grids
// the interpolating routine does not check, and on the refused inputs.
#include "lookup_check.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

using namespace lookup_test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Samples for every layout: random bytes for the integer and bit codes,
// and for the float and double codes values around the ranges below with
// a NaN now and then.
struct Samples {
    std::vector<unsigned char> bytes;
    std::vector<float> floats;
    std::vector<double> doubles;

    explicit Samples(size_t values) : bytes(values * 2 + 64), floats(values + 16), doubles(values + 16) {
        std::mt19937_64 rng(41);
        for (auto& b : bytes) b = static_cast<unsigned char>(rng());
        std::uniform_real_distribution<double> d(-20.0, 300.0);
        for (size_t i = 0; i < doubles.size(); ++i) doubles[i] = i % 17 == 5 ? kNaN : d(rng);
        for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(i % 13 == 3 ? kNaN : d(rng));
    }
    const void* for_type(uint32_t type) const {
        const uint32_t code = type & 0xFFu;
        if (code == 5) return floats.data();
        if (code == 7 || code >= 10) return doubles.data();
        return bytes.data();
    }
};

std::vector<double> ramp(size_t n, double from, double step) {
    std::vector<double> t(n);
    for (size_t i = 0; i < n; ++i) t[i] = from + step * static_cast<double>(i) * (i % 3 == 1 ? 1.5 : 1.0);
    return t;
}

// The calibrations each route takes its different paths for.
std::vector<TestCal> route_cals() {
    std::vector<TestCal> cals;
    cals.emplace_back(0.0, 255.0, ramp(256, -0.0, 0.7), 1);        // direct 8-bit
    cals.emplace_back(0.0, 4095.0, ramp(4096, 5.0, 0.3), 2);       // direct 16-bit
    cals.emplace_back(3.5, 250.25, ramp(700, -10.0, 0.05));       // interpolating
    cals.emplace_back(40.0, 40.0, ramp(256, 1.0, 1.0));            // empty range: unchanged
    cals.emplace_back(0.0, 255.0, std::vector<double>{});          // no table: unchanged
    return cals;
}

const uint32_t kCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 200, 0x2005};

void check_runs(const std::vector<TestCal>& cals, const Samples& samples, size_t max_in_off,
                size_t max_out_off, uint64_t max_count) {
    for (const TestCal& cal : cals) {
        SCOPED_TRACE(describe(cal));
        for (uint32_t code : kCodes) {
            for (uint32_t type : {code, code | ICAL_LOOKUP_FLOAT}) {
                for (uint64_t count = 0; count <= max_count; ++count) {
                    for (size_t in_off = 0; in_off <= max_in_off; ++in_off) {
                        for (size_t out_off = 0; out_off <= max_out_off; out_off += 3) {
                            ASSERT_TRUE(
                                same_as_reference(cal.get(), type, samples.for_type(type), count, in_off, out_off));
                        }
                    }
                }
            }
        }
    }
}

TEST(LookupRuns, EveryLengthUpTo70OnUnalignedBuffers) {
    const Samples samples(3 * 70);
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        check_runs(route_cals(), samples, 1, 7, 70);
    }
}

TEST(LookupRuns, StreamingStoresOnEveryAlignment) {
    const Samples samples(3 * 200);
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        ForceStreaming streaming;
        check_runs(route_cals(), samples, 0, 31, 70);
        for (const TestCal& cal : route_cals()) {
            for (uint32_t type : {1u, 3u, 4u, 7u, 0u, 0x1001u, 0x1004u, 0x1005u, 0x1000u}) {
                for (size_t out_off : {0, 4, 8, 13, 16, 28}) {
                    EXPECT_TRUE(same_as_reference(cal.get(), type, samples.for_type(type), 200, 1, out_off));
                }
            }
        }
    }
}

// Runs long enough for the per-call tables (the 256 codes of an 8-bit
// interpolation, tables rounded to float), streamed and not.
TEST(LookupRuns, PerCallTablesOnLongRuns) {
    const Samples samples(3 * 16400);
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        for (bool stream : {false, true}) {
            const size_t previous = calmgr::kern::force_nt_threshold(stream ? 0 : SIZE_MAX);
            for (const TestCal& cal : route_cals()) {
                for (uint32_t code : {1u, 3u, 4u, 8u}) {
                    for (uint32_t type : {code, code | ICAL_LOOKUP_FLOAT}) {
                        for (uint64_t count : {255, 256, 300, 16383, 16400}) {
                            EXPECT_TRUE(same_as_reference(cal.get(), type, samples.for_type(type), count, 1, 4));
                        }
                    }
                }
            }
            calmgr::kern::force_nt_threshold(previous);
        }
    }
}

// The fitted-curve builder converts doubles in place; float samples may
// be converted to floats in place as well.
TEST(LookupRuns, InPlaceConversionReadsEachValueBeforeWritingIt) {
    const TestCal cal(-5.0, 120.0, ramp(33, 2.0, -0.25));
    std::mt19937_64 rng(51);
    std::uniform_real_distribution<double> d(-10.0, 130.0);
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        for (size_t n : {0, 1, 7, 8, 9, 63, 1000}) {
            std::vector<double> fast(n), ref(n);
            for (double& v : fast) v = d(rng);
            ref = fast;
            calmgr::interpolate_lookup(cal.get(), fast.data(), fast.data(), n, 8, 0);
            calmgr::ref::interpolate_lookup(cal.get(), ref.data(), ref.data(), n, 8, 0);
            EXPECT_TRUE(n == 0 || std::memcmp(fast.data(), ref.data(), n * sizeof(double)) == 0) << n;

            std::vector<float> f_fast(n), f_ref(n);
            for (float& v : f_fast) v = static_cast<float>(d(rng));
            f_ref = f_fast;
            ASSERT_EQ(calmgr::lookup(cal.get(), 5 | ICAL_LOOKUP_FLOAT, f_fast.data(), n, f_fast.data()), CAL_OK);
            calmgr::ref::lookup(cal.get(), 5 | ICAL_LOOKUP_FLOAT, f_ref.data(), n, f_ref.data());
            EXPECT_TRUE(n == 0 || std::memcmp(f_fast.data(), f_ref.data(), n * sizeof(float)) == 0) << n;
        }
    }
}

// interpolate_lookup does not check the range: inverted, empty or NaN
// limits must still give the formula's results and stay inside the table.
// A table of one entry, which no setter allows, has no interval: such a
// record is left alone rather than read past its end.
TEST(LookupRuns, UncheckedGridsMatchTheFormula) {
    std::vector<TestCal> cals;
    cals.emplace_back(10.0, 2.0, ramp(16, 1.0, 2.0));
    cals.emplace_back(7.0, 7.0, ramp(16, 1.0, 2.0));
    cals.emplace_back(kNaN, 7.0, ramp(16, 1.0, 2.0));
    cals.emplace_back(0.0, kNaN, ramp(16, 1.0, 2.0));
    const std::vector<double> xs = {-1.0, 0.0, 2.0, 5.0, 7.0, 8.0, 10.0, 11.0, kNaN, -0.0, 1e9, -1e9, 3.0, 4.0};
    for (Isa level : levels()) {
        SCOPED_TRACE(isa_name(level));
        ForceIsa force(level);
        for (const TestCal& cal : cals) {
            for (int float_out : {0, 1}) {
                std::vector<unsigned char> fast(xs.size() * 8 + 16, 0x5A), ref(fast);
                calmgr::interpolate_lookup(cal.get(), xs.data(), fast.data(), xs.size(), 8, float_out);
                calmgr::ref::interpolate_lookup(cal.get(), xs.data(), ref.data(), xs.size(), 8, float_out);
                EXPECT_EQ(fast, ref) << cal.rec.range_min << ".." << cal.rec.range_max;
            }
        }
        const TestCal one(0.0, 9.0, std::vector<double>{42.0});
        std::vector<unsigned char> out(xs.size() * 8, 0x5A);
        calmgr::interpolate_lookup(one.get(), xs.data(), out.data(), xs.size(), 8, 0);
        EXPECT_EQ(out, std::vector<unsigned char>(xs.size() * 8, 0x5A));
    }
}

TEST(LookupRuns, NullBuffersAreRefusedAndNothingIsWritten) {
    const TestCal cal(0.0, 255.0, ramp(256, 0.0, 1.0), 1);
    const uint8_t samples[4] = {1, 2, 3, 4};
    double out[4] = {-1.0, -1.0, -1.0, -1.0};
    for (uint32_t type : {0u, 1u, 3u, 4u, 5u, 7u, 9u, 0x1001u}) {
        EXPECT_EQ(ICalLookupEx(cal.get(), type, nullptr, 4, out), CAL_ERR_INVALID);
        EXPECT_EQ(ICalLookupEx(cal.get(), type, samples, 4, nullptr), CAL_ERR_INVALID);
        EXPECT_EQ(ICalLookupEx(nullptr, type, nullptr, 1, out), CAL_ERR_INVALID);
        EXPECT_EQ(ICalLookupEx(cal.get(), type, nullptr, 0, nullptr), CAL_OK);
        EXPECT_EQ(ICalLookup(cal.get(), type, nullptr, 0x10000u, nullptr), CAL_OK);  // 16-bit count 0
    }
    for (double v : out) EXPECT_EQ(v, -1.0);
}

}  // namespace
