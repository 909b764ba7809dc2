// The reading calls (lookups on every route, the policy lookups, the
// inverse, the diagnosis and the pixel conversion) run from several threads
// at once on shared calibrations, the first lookups of the process among
// them, so the kernel choice is made under contention too. Every thread
// must get the bits a single thread gets. Built with the thread sanitizer
// (the `tsan` preset), the run also proves that these paths share no
// mutable state.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 20;

struct Shared {
    IntensityCal* fitted = nullptr;  // a poly2 fit over 0..65535
    IntensityCal* turning = nullptr;  // a supplied table that turns
    SpatialCal* spatial = nullptr;
    std::vector<uint16_t> u16;
    std::vector<double> f64;
    std::vector<PixelPoint> pixels;
};

// Everything the reading calls give for the shared calibrations, as one
// byte string to compare.
std::vector<unsigned char> read_all(const Shared& s) {
    std::vector<unsigned char> out;
    auto keep = [&out](const void* p, size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        out.insert(out.end(), b, b + n);
    };
    for (IntensityCal* cal : {s.fitted, s.turning}) {
        std::vector<double> d(s.f64.size());
        std::vector<float> f(s.u16.size());
        EXPECT_EQ(ICalLookupEx(cal, ICAL_SAMPLE_U16 | ICAL_LOOKUP_FLOAT, s.u16.data(), s.u16.size(), f.data()), CAL_OK);
        keep(f.data(), f.size() * sizeof(float));
        EXPECT_EQ(ICalLookupEx(cal, ICAL_SAMPLE_F64, s.f64.data(), s.f64.size(), d.data()), CAL_OK);
        keep(d.data(), d.size() * sizeof(double));
        CalLookupStats stats{};
        EXPECT_EQ(ICalLookupPolicy(cal, ICAL_SAMPLE_F64, s.f64.data(), s.f64.size(), d.data(),
                                   ICAL_POLICY_OUTSIDE_NAN | ICAL_POLICY_NAN_PROPAGATE, &stats),
                  CAL_OK);
        keep(d.data(), d.size() * sizeof(double));
        keep(&stats, sizeof stats);
        uint64_t unresolved = 0;
        std::vector<double> inputs(s.f64.size());
        EXPECT_EQ(ICalInverse(cal, d.data(), d.size(), inputs.data(), &unresolved), CAL_OK);
        keep(inputs.data(), inputs.size() * sizeof(double));
        keep(&unresolved, sizeof unresolved);
        CalFinding findings[16];
        uint32_t count = 0;
        EXPECT_EQ(ICalDiagnose(cal, findings, 16, &count), CAL_OK);
        keep(&count, sizeof count);
        for (uint32_t k = 0; k < count && k < 16; ++k) {  // field by field: the record has padding
            keep(&findings[k].code, sizeof findings[k].code);
            keep(&findings[k].point, sizeof findings[k].point);
            keep(&findings[k].entry, sizeof findings[k].entry);
            keep(&findings[k].value, sizeof findings[k].value);
        }
    }
    std::vector<RealPoint> units(s.pixels.size());
    EXPECT_EQ(SCalPixToCU(s.spatial, s.pixels.data(), units.data(), static_cast<uint32_t>(units.size())), CAL_OK);
    keep(units.data(), units.size() * sizeof(RealPoint));
    return out;
}

TEST(Threads, ReadingCallsGiveEveryThreadTheSameBits) {
    Shared s;
    s.fitted = ICalCreate();
    s.turning = ICalCreate();
    s.spatial = SCalCreate();
    ASSERT_TRUE(s.fitted && s.turning && s.spatial);

    const CalPoint points[4] = {{0, 0.05}, {20000, 0.9}, {40000, 1.6}, {65535, 2.1}};
    double hi = 65535.0;
    ASSERT_EQ(ICalControl(s.fitted, ICAL_SET_RANGE_MAX, 0, 1, &hi), CAL_OK);  // deferred: built with the points
    ASSERT_EQ(ICalControl(s.fitted, ICAL_SET_TABLE_SIZE, 4096, 1, nullptr), CAL_OK);
    ASSERT_EQ(ICalControl(s.fitted, ICAL_SET_FIT_TYPE, ICAL_FIT_POLY2, 1, nullptr), CAL_OK);
    ASSERT_EQ(ICalControl(s.fitted, ICAL_SET_POINTS, 4, 0, const_cast<CalPoint*>(points)), CAL_OK);

    std::vector<double> table(256);
    for (size_t i = 0; i < table.size(); ++i) table[i] = i < 128 ? 0.01 * i : 2.56 - 0.015 * (i - 128);
    ASSERT_EQ(ICalControl(s.turning, ICAL_SET_TABLE, static_cast<int32_t>(table.size()), 0, table.data()), CAL_OK);

    double scale = 0.25;
    ASSERT_EQ(SCalControl(s.spatial, SCAL_SET_SCALE, 0, 0, &scale), CAL_OK);

    for (uint32_t k = 0; k < 20000; ++k) s.u16.push_back(static_cast<uint16_t>(k * 37u));
    for (int k = -50; k < 9000; ++k) s.f64.push_back(k * 7.5);
    s.f64.push_back(std::numeric_limits<double>::quiet_NaN());
    for (int k = 0; k < 1000; ++k) s.pixels.push_back({k, 3 * k});

    // The threads start together and make the process's first lookups.
    std::vector<std::vector<unsigned char>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&s, &got, t] {
            for (int r = 0; r < kRounds; ++r) {
                std::vector<unsigned char> bytes = read_all(s);
                if (r == 0) {
                    got[t] = std::move(bytes);
                } else if (bytes != got[t]) {
                    got[t].clear();  // a round disagreed with the first
                    return;
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();

    const std::vector<unsigned char> alone = read_all(s);
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(got[t] == alone) << "thread " << t;

    ICalDestroy(s.fitted);
    ICalDestroy(s.turning);
    SCalDestroy(s.spatial);
}

}  // namespace
