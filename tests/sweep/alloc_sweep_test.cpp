// Allocation-failure sweep. Each scenario runs once per allocation request:
// run k refuses the k-th request (once, or every request from the k-th on),
// for k = 1, 2, ... until a run completes without a refusal. After every
// failing run the status must report the refusal, the calibration must read
// back as before (or as one of the partial states the failure rules allow),
// lookups on it must still work, the same call must succeed once failures
// are switched off, and destroying everything must leave no live block.
//
// This binary replaces the global operator new/delete to show that the
// library never allocates through them.
#include "sweep/sweep_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <new>

// ---- global operator new/delete, counted while the library runs ----------

namespace sweep {
NewCounter& new_counter() {
    static NewCounter c;
    return c;
}
}  // namespace sweep

namespace {
void* counted_new(std::size_t size) {
    if (sweep::new_counter().in_library) ++sweep::new_counter().news;
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* counted_new_aligned(std::size_t size, std::align_val_t align) {
    if (sweep::new_counter().in_library) ++sweep::new_counter().news;
    const auto a = static_cast<std::size_t>(align);
    void* p = std::aligned_alloc(a, (size + a - 1) / a * a);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void counted_delete(void* p) noexcept {
    if (p != nullptr && sweep::new_counter().in_library) ++sweep::new_counter().deletes;
    std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return counted_new(n); }
void* operator new[](std::size_t n) { return counted_new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try { return counted_new(n); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try { return counted_new(n); } catch (...) { return nullptr; }
}
void* operator new(std::size_t n, std::align_val_t a) { return counted_new_aligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return counted_new_aligned(n, a); }
void operator delete(void* p) noexcept { counted_delete(p); }
void operator delete[](void* p) noexcept { counted_delete(p); }
void operator delete(void* p, std::size_t) noexcept { counted_delete(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_delete(p); }
void operator delete(void* p, std::align_val_t) noexcept { counted_delete(p); }
void operator delete[](void* p, std::align_val_t) noexcept { counted_delete(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { counted_delete(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { counted_delete(p); }

namespace {

using sweep::ICalState;
using sweep::lib;
using sweep::Mode;

uint64_t g_failure_points = 0;

// ---- helpers ---------------------------------------------------------------

int32_t ctl(IntensityCal* cal, uint32_t code, int32_t value, int32_t index, const void* data) {
    return lib([&] { return ICalControl(cal, code, value, index, const_cast<void*>(data)); });
}

void destroy_all() {
    for (IntensityCal* cal : sweep::ical_registry()) EXPECT_EQ(lib([&] { return ICalDestroy(cal); }), CAL_OK);
    for (SpatialCal* cal : sweep::scal_registry()) EXPECT_EQ(lib([&] { return SCalDestroy(cal); }), CAL_OK);
}

// table_min <= every numeric entry <= table_max.
void expect_stats_bound_table(const ICalState& s) {
    for (double v : s.table) {
        if (std::isnan(v)) continue;
        EXPECT_LE(s.table_min, v);
        EXPECT_GE(s.table_max, v);
    }
}

// Every sample layout converts with CAL_OK, stays inside the caller's
// buffer (the sanitizers watch that) and yields values from the table's
// span (or the samples unchanged when the calibration has no table).
void expect_lookups_work(IntensityCal* cal) {
    const ICalState s = sweep::read_state(cal);
    double lo = INFINITY, hi = -INFINITY;
    bool finite = true;
    for (double v : s.table) {
        finite = finite && std::isfinite(v);
        lo = std::fmin(lo, v);
        hi = std::fmax(hi, v);
    }
    const bool calibrated = s.type != ICAL_TYPE_NONE && !s.table.empty() && s.range_max > s.range_min;
    unsigned char raw[64];
    for (int i = 0; i < 64; ++i) raw[i] = static_cast<unsigned char>(i * 37 + 11);
    const double f64[4] = {-1.0, 17.25, 254.5, NAN};
    const float f32[4] = {-1.0f, 17.25f, 254.5f, 1e9f};
    for (uint32_t code : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 200u}) {
        for (uint32_t flag : {0u, static_cast<uint32_t>(ICAL_LOOKUP_FLOAT)}) {
            const void* in = code == 5 ? static_cast<const void*>(f32)
                             : (code == 7 || code == 200) ? static_cast<const void*>(f64)
                                                         : static_cast<const void*>(raw);
            const uint32_t count = 4;
            const uint32_t values = (code == 3 || code == 8) ? 3 * count : count;
            double out[16];
            float outf[16];
            void* dst = flag != 0 ? static_cast<void*>(outf) : static_cast<void*>(out);
            ASSERT_EQ(lib([&] { return ICalLookupEx(cal, code | flag, in, count, dst); }), CAL_OK);
            if (!calibrated || !finite) continue;
            for (uint32_t k = 0; k < values; ++k) {
                const double v = flag != 0 ? outf[k] : out[k];
                EXPECT_GE(v, flag != 0 ? static_cast<double>(static_cast<float>(lo)) : lo) << "code " << code;
                EXPECT_LE(v, flag != 0 ? static_cast<double>(static_cast<float>(hi)) : hi) << "code " << code;
            }
        }
    }
}

// ---- the driver ------------------------------------------------------------

// A scenario: set up (failures off), the call under test, and the checks.
struct Scenario {
    virtual ~Scenario() = default;
    virtual void setup() = 0;
    virtual int32_t call() = 0;
    virtual void check_success(int32_t status) = 0;
    virtual void check_failure(int32_t status) = 0;
};

// Runs s under both modes; returns the number of failing runs.
uint64_t run_sweep(Scenario& s, sweep::Failer& failer, const std::vector<sweep::Failer*>& all) {
    uint64_t points = 0;
    for (Mode mode : {Mode::Once, Mode::FromK}) {
        for (uint64_t k = 1;; ++k) {
            SCOPED_TRACE(testing::Message() << failer.label() << (mode == Mode::Once ? " once" : " from")
                                            << " k=" << k);
            if (k > 10000) {
                ADD_FAILURE() << "the call never completed without a refusal";
                return points;
            }
            s.setup();
            const uint64_t refused_before = failer.refused();
            failer.fail(mode, k);
            const int32_t status = lib([&] { return s.call(); });
            failer.stop();
            const bool refused = failer.refused() != refused_before;
            if (!refused) {
                s.check_success(status);
                destroy_all();
                for (sweep::Failer* f : all) EXPECT_EQ(f->live(), 0) << f->label();
                break;
            }
            ++points;
            s.check_failure(status);
            s.check_success(lib([&] { return s.call(); }));  // the same call, failures off
            destroy_all();
            for (sweep::Failer* f : all) EXPECT_EQ(f->live(), 0) << f->label();
            if (testing::Test::HasFatalFailure()) return points;
        }
    }
    g_failure_points += points;
    return points;
}

class Sweep : public testing::Test {
protected:
    void SetUp() override { news_before_ = sweep::new_counter().news; }
    void TearDown() override {
        EXPECT_EQ(sweep::new_counter().news, news_before_) << "the library allocated through operator new";
        EXPECT_TRUE(sweep::ical_registry().empty());
        EXPECT_TRUE(sweep::scal_registry().empty());
    }
    uint64_t sweep_image(Scenario& s) { return run_sweep(s, image_, {&image_, &heap_}); }
    uint64_t sweep_heap(Scenario& s) { return run_sweep(s, heap_, {&image_, &heap_}); }

    sweep::ImageAllocator image_;
    sweep::HeapAllocator heap_;

private:
    uint64_t news_before_ = 0;
};

// ---- creation ----------------------------------------------------------------

struct CreateIntensity : Scenario {
    IntensityCal* existing = nullptr;
    IntensityCal* created = nullptr;
    ICalState existing_state;
    std::vector<IntensityCal*> registry;

    void setup() override {
        existing = lib([] { return ICalCreate(); });
        ASSERT_NE(existing, nullptr);
        ctl(existing, ICAL_SET_TABLE_SIZE, 300, 0, nullptr);
        existing_state = sweep::read_state(existing);
        registry = sweep::ical_registry();
    }
    int32_t call() override {
        created = ICalCreate();
        return created != nullptr ? CAL_OK : CAL_ERR_NOMEM;
    }
    void check_success(int32_t status) override {
        ASSERT_EQ(status, CAL_OK);
        ASSERT_EQ(sweep::ical_registry().front(), created);
        const ICalState s = sweep::read_state(created);
        EXPECT_EQ(s.type, 0u);
        EXPECT_EQ(s.num_points, 2);
        ASSERT_EQ(s.table_size, 256);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(s.table[i], i);
        expect_lookups_work(created);
    }
    void check_failure(int32_t status) override {
        EXPECT_EQ(status, CAL_ERR_NOMEM);
        EXPECT_EQ(sweep::ical_registry(), registry);
        EXPECT_TRUE(sweep::read_state(existing) == existing_state);
        expect_lookups_work(existing);
    }
};

TEST_F(Sweep, ICalCreate) {
    CreateIntensity s;
    // record, points and table: three requests, each refused in each mode
    EXPECT_EQ(sweep_image(s), 6u);
}

struct CreateSpatial : Scenario {
    SpatialCal* existing = nullptr;
    SpatialCal* created = nullptr;
    std::vector<SpatialCal*> registry;

    void setup() override {
        existing = lib([] { return SCalCreate(); });
        ASSERT_NE(existing, nullptr);
        registry = sweep::scal_registry();
    }
    int32_t call() override {
        created = SCalCreate();
        return created != nullptr ? CAL_OK : CAL_ERR_NOMEM;
    }
    void check_success(int32_t status) override {
        ASSERT_EQ(status, CAL_OK);
        ASSERT_EQ(sweep::scal_registry().front(), created);
        char name[128];
        ASSERT_EQ(lib([&] { return SCalControl(created, SCAL_GET_NAME, 0, 0, name); }), CAL_OK);
        EXPECT_STREQ(name, "Spatial Cal 1");
        const PixelPoint px[2] = {{3, -4}, {0, 0}};
        RealPoint out[2];
        ASSERT_EQ(lib([&] { return SCalPixToCU(created, px, out, 2); }), CAL_OK);
        EXPECT_EQ(out[0].x, 3.0);
        EXPECT_EQ(out[0].y, -4.0);
    }
    void check_failure(int32_t status) override {
        EXPECT_EQ(status, CAL_ERR_NOMEM);
        EXPECT_EQ(sweep::scal_registry(), registry);
        const PixelPoint px[1] = {{5, 6}};
        RealPoint out[1];
        ASSERT_EQ(lib([&] { return SCalPixToCU(existing, px, out, 1); }), CAL_OK);
        EXPECT_EQ(out[0].x, 5.0);
    }
};

TEST_F(Sweep, SCalCreate) {
    CreateSpatial s;
    EXPECT_EQ(sweep_image(s), 2u);  // one record, refused in each mode
}

// ---- controls that allocate --------------------------------------------------

// A control applied to a calibration prepared by `prepare`. The states a
// failing call may leave are computed on reference calibrations prepared the
// same way with failures off: nothing changed; the setting applied as if the
// rebuild had been deferred (a fit array or a transformed copy refused, the
// table left as it was); or, with ICAL_OPT_MONOTONIC, the table built without
// the monotonic repair (only that repair's block refused).
struct ControlScenario : Scenario {
    std::function<void(IntensityCal*)> prepare;
    uint32_t code = 0;
    int32_t value = 0;
    int32_t index = 0;
    std::vector<unsigned char> data;
    bool deferrable = true;

    IntensityCal* cal = nullptr;
    ICalState before, ref_ok, ref_deferred, ref_unrepaired;
    int32_t ref_status = 0;
    bool has_unrepaired = false;
    // A table resized before its rebuild failed: repeating the resize finds
    // the size already in place and, as for any resize to the current size,
    // returns CAL_OK without rebuilding.
    bool resized_unbuilt = false;
    ICalState failed_state;

    IntensityCal* make() {
        IntensityCal* c = lib([] { return ICalCreate(); });
        EXPECT_NE(c, nullptr);
        ctl(c, ICAL_SET_NAME, 0, 0, "sweep");
        prepare(c);
        return c;
    }
    int32_t apply(IntensityCal* c, int32_t idx) {
        return ICalControl(c, code, value, idx, data.empty() ? nullptr : data.data());
    }
    void setup() override {
        IntensityCal* r = make();
        ref_status = lib([&] { return apply(r, index); });
        ref_ok = sweep::read_state(r);
        lib([&] { return ICalDestroy(r); });

        ref_deferred = ICalState{};
        if (deferrable && index == 0) {
            r = make();
            lib([&] { return apply(r, 1); });
            ref_deferred = sweep::read_state(r);
            lib([&] { return ICalDestroy(r); });
        }
        has_unrepaired = false;
        r = make();
        uint16_t options = 0;
        ctl(r, ICAL_GET_OPTIONS, 0, 0, &options);
        if (options & ICAL_OPT_MONOTONIC) {
            ctl(r, ICAL_SET_OPTIONS, options & ~ICAL_OPT_MONOTONIC, 1, nullptr);
            lib([&] { return apply(r, index); });
            ctl(r, ICAL_SET_OPTIONS, options, 1, nullptr);
            ref_unrepaired = sweep::read_state(r);
            has_unrepaired = true;
        }
        lib([&] { return ICalDestroy(r); });

        cal = make();
        before = sweep::read_state(cal);
        resized_unbuilt = false;
    }
    int32_t call() override { return apply(cal, index); }
    void check_success(int32_t status) override {
        EXPECT_NE(status, CAL_ERR_NOMEM);
        const ICalState s = sweep::read_state(cal);
        if (resized_unbuilt) {
            EXPECT_EQ(status, CAL_OK);
            EXPECT_TRUE(s == failed_state);
            expect_lookups_work(cal);
            return;
        }
        EXPECT_EQ(status, ref_status);
        EXPECT_TRUE(s == ref_ok) << "state differs from an undisturbed call";
        if (status == CAL_OK && index == 0 && s.type != ICAL_TYPE_NONE) expect_stats_bound_table(s);  // rebuilt
        expect_lookups_work(cal);
    }
    void check_failure(int32_t status) override {
        EXPECT_EQ(status, CAL_ERR_NOMEM);
        const ICalState s = sweep::read_state(cal);
        const bool unchanged = s == before;
        const bool as_deferred = deferrable && index == 0 && s == ref_deferred;
        const bool unrepaired = has_unrepaired && s == ref_unrepaired;
        EXPECT_TRUE(unchanged || as_deferred || unrepaired)
            << "a refused request left a state no failure rule allows";
        failed_state = s;
        resized_unbuilt = code == ICAL_SET_TABLE_SIZE && !unchanged;
        expect_lookups_work(cal);
    }
};

template <class T>
std::vector<unsigned char> bytes_of(const T* items, size_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(items);
    return std::vector<unsigned char>(p, p + n * sizeof(T));
}

// Five points with positive calibrated values (usable by every fit type)
// that do not rise monotonically, so the monotonic repair has work to do.
const CalPoint kFivePoints[5] = {{0, 0.05}, {60, 0.6}, {120, 0.4}, {180, 1.4}, {255, 2.0}};
const CalPoint kSixPoints[6] = {{0, 0.1}, {40, 0.3}, {90, 0.2}, {150, 0.9}, {200, 1.5}, {255, 1.7}};

const int16_t kFitTypes[] = {1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 21, 22, 23, 0, 7};

TEST_F(Sweep, SetPointsResizesAllocateFirst) {
    for (int16_t fit : {0, 2, 10, 12, 22}) {
        for (int options : {0, ICAL_OPT_MONOTONIC | ICAL_OPT_CLAMP_NEGATIVE}) {
            for (int32_t index : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "fit " << fit << " options " << options << " index " << index);
                ControlScenario s;
                s.prepare = [fit, options](IntensityCal* c) {
                    ctl(c, ICAL_SET_FIT_TYPE, fit, 1, nullptr);
                    ctl(c, ICAL_SET_OPTIONS, options, 1, nullptr);
                    ctl(c, ICAL_SET_POINTS, 5, 1, kFivePoints);
                };
                s.code = ICAL_SET_POINTS;
                s.value = 6;
                s.index = index;
                s.data = bytes_of(kSixPoints, 6);
                EXPECT_GE(sweep_image(s), 2u);  // at least the new block, in both modes
            }
        }
    }
}

TEST_F(Sweep, SetTableSizeResizesAllocateFirst) {
    for (int16_t fit : {0, 3, 10, 13, 21}) {
        for (int options : {0, int{ICAL_OPT_MONOTONIC}}) {
            for (int32_t index : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "fit " << fit << " options " << options << " index " << index);
                ControlScenario s;
                s.prepare = [fit, options](IntensityCal* c) {
                    ctl(c, ICAL_SET_FIT_TYPE, fit, 1, nullptr);
                    ctl(c, ICAL_SET_OPTIONS, options, 1, nullptr);
                    ctl(c, ICAL_SET_POINTS, 5, 0, kFivePoints);
                };
                s.code = ICAL_SET_TABLE_SIZE;
                s.value = 300;
                s.index = index;
                EXPECT_GE(sweep_image(s), 2u);
            }
        }
    }
    // Two-point and density calibrations build without temporary blocks.
    for (int16_t type : {0, 1}) {
        ControlScenario s;
        s.prepare = [type](IntensityCal* c) { ctl(c, ICAL_SET_TYPE, type, 0, nullptr); };
        s.code = ICAL_SET_TABLE_SIZE;
        s.value = 4096;
        EXPECT_EQ(sweep_image(s), 2u);
    }
}

TEST_F(Sweep, SetTableAllocatesOnlyForANewSize) {
    double table[10];
    for (int i = 0; i < 10; ++i) table[i] = 100.0 - i * i;
    for (int16_t type : {0, 1, 2}) {
        for (int16_t n : {10, 256}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " n " << n);
            std::vector<double> values(n);
            for (int i = 0; i < n; ++i) values[i] = table[i % 10];
            ControlScenario s;
            s.prepare = [type](IntensityCal* c) { ctl(c, ICAL_SET_TYPE, type, 0, nullptr); };
            s.code = ICAL_SET_TABLE;
            s.value = n;
            s.data = bytes_of(values.data(), values.size());
            s.deferrable = false;
            EXPECT_EQ(sweep_image(s), n == 256 ? 0u : 2u);
        }
    }
}

TEST_F(Sweep, SetTypeLeavingNoneRestoresBothBlocksOrNothing) {
    for (int16_t type : {0, 1, 2}) {
        for (int32_t index : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " index " << index);
            ControlScenario s;
            s.prepare = [](IntensityCal* c) { ctl(c, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr); };
            s.code = ICAL_SET_TYPE;
            s.value = type;
            s.index = index;
            s.deferrable = false;  // a restored table is built at once
            // points and table: two requests, refused in each mode
            EXPECT_EQ(sweep_image(s), 4u);
        }
    }
}

// ---- rebuilds under every fit type ---------------------------------------------

TEST_F(Sweep, RebuildUnderEveryFitType) {
    for (int16_t fit : kFitTypes) {
        for (int options : {0, int{ICAL_OPT_MONOTONIC}, ICAL_OPT_MONOTONIC | ICAL_OPT_CLAMP_NEGATIVE}) {
            SCOPED_TRACE(testing::Message() << "fit " << fit << " options " << options);
            ControlScenario s;
            s.prepare = [options](IntensityCal* c) {
                ctl(c, ICAL_SET_POINTS, 5, 1, kFivePoints);
                ctl(c, ICAL_SET_OPTIONS, options, 1, nullptr);
            };
            s.code = ICAL_SET_FIT_TYPE;
            s.value = fit;
            sweep_image(s);
            EXPECT_EQ(s.ref_status, CAL_OK) << "the undisturbed build fails";
        }
    }
}

// The diagnosis asks neither allocator and changes nothing, under every fit
// type, with both allocators refusing every request.
TEST_F(Sweep, DiagnosisAsksNothingAndChangesNothing) {
    for (int16_t fit : kFitTypes) {
        SCOPED_TRACE(testing::Message() << "fit " << fit);
        IntensityCal* cal = lib([] { return ICalCreate(); });
        ASSERT_NE(cal, nullptr);
        ctl(cal, ICAL_SET_POINTS, 5, 1, kFivePoints);
        ctl(cal, ICAL_SET_FIT_TYPE, fit, 0, nullptr);
        const ICalState before = sweep::read_state(cal);
        const uint64_t refused = image_.refused() + heap_.refused();
        image_.fail(Mode::FromK, 1);
        heap_.fail(Mode::FromK, 1);
        CalFinding findings[16];
        uint32_t count = 0;
        EXPECT_EQ(lib([&] { return ICalDiagnose(cal, findings, 16, &count); }), CAL_OK);
        image_.stop();
        heap_.stop();
        EXPECT_EQ(image_.refused() + heap_.refused(), refused) << "the diagnosis asked for memory";
        EXPECT_TRUE(sweep::read_state(cal) == before);
        destroy_all();
    }
}

TEST_F(Sweep, RebuildUnderEveryFitTypeWithTheEngineHeapRefusing) {
    for (int16_t fit : kFitTypes) {
        for (int options : {0, int{ICAL_OPT_MONOTONIC}}) {
            SCOPED_TRACE(testing::Message() << "fit " << fit << " options " << options);
            ControlScenario s;
            s.prepare = [options](IntensityCal* c) {
                ctl(c, ICAL_SET_POINTS, 5, 1, kFivePoints);
                ctl(c, ICAL_SET_OPTIONS, options, 1, nullptr);
            };
            s.code = ICAL_SET_FIT_TYPE;
            s.value = fit;
            const uint64_t points = sweep_heap(s);
            const bool least_squares = (fit >= 1 && fit <= 3) || fit >= 10;
            if (least_squares) EXPECT_GE(points, 2u);
            else EXPECT_EQ(points, 0u);  // piecewise builds take nothing from the heap
        }
    }
}

TEST_F(Sweep, SetPointsWithTheEngineHeapRefusing) {
    for (int16_t fit : {1, 10, 11, 23}) {
        SCOPED_TRACE(testing::Message() << "fit " << fit);
        ControlScenario s;
        s.prepare = [fit](IntensityCal* c) {
            ctl(c, ICAL_SET_FIT_TYPE, fit, 1, nullptr);
            ctl(c, ICAL_SET_OPTIONS, ICAL_OPT_MONOTONIC, 1, nullptr);
        };
        s.code = ICAL_SET_POINTS;
        s.value = 5;
        s.data = bytes_of(kFivePoints, 5);
        EXPECT_GE(sweep_heap(s), 2u);
    }
}

// ---- the polynomial entry points -------------------------------------------------

// A fit whose outputs are prefilled with a marker: a failing run must leave
// every marker in place, a successful one must equal an undisturbed fit.
struct PolynomialScenario : Scenario {
    bool range = false;
    bool in_place = false;
    int16_t degree = 3;
    std::vector<RealPoint> samples, points, ref_points;
    std::vector<double> values, ref_values;

    static std::vector<RealPoint> make_samples() {
        return {{0, 1}, {1, 2.5}, {2, 2}, {3, 6}, {4, 7.5}, {5, 7}, {6, 12}};
    }
    int32_t fit(std::vector<RealPoint>& pts, std::vector<double>& vals) {
        if (range) return PolynomialFitRange(samples.data(), 7, vals.data(), -1.0, 8.0, 10, degree);
        if (in_place) return PolynomialFit(pts.data(), 7, pts.data(), 7, degree);
        return PolynomialFit(samples.data(), 7, pts.data(), 5, degree);
    }
    void reset(std::vector<RealPoint>& pts, std::vector<double>& vals) {
        samples = make_samples();
        vals.assign(10, -123.0);
        pts = in_place ? make_samples() : std::vector<RealPoint>{{-1, -123}, {0.5, -123}, {2, -123}, {7, -123}, {9, -123}};
    }
    void setup() override {
        reset(ref_points, ref_values);
        EXPECT_EQ(lib([&] { return fit(ref_points, ref_values); }), 0);
        reset(points, values);
    }
    int32_t call() override { return fit(points, values); }
    void check_success(int32_t status) override {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(std::memcmp(points.data(), ref_points.data(), points.size() * sizeof(RealPoint)), 0);
        EXPECT_EQ(std::memcmp(values.data(), ref_values.data(), values.size() * sizeof(double)), 0);
    }
    void check_failure(int32_t status) override {
        EXPECT_EQ(status, CAL_ERR_NOMEM);
        std::vector<RealPoint> fresh_points;
        std::vector<double> fresh_values;
        reset(fresh_points, fresh_values);
        EXPECT_EQ(std::memcmp(points.data(), fresh_points.data(), points.size() * sizeof(RealPoint)), 0)
            << "a failing fit wrote its output";
        EXPECT_EQ(std::memcmp(values.data(), fresh_values.data(), values.size() * sizeof(double)), 0)
            << "a failing fit wrote its output";
        EXPECT_EQ(std::memcmp(samples.data(), make_samples().data(), samples.size() * sizeof(RealPoint)), 0);
    }
};

TEST_F(Sweep, PolynomialFitAndFitRange) {
    for (int16_t degree : {1, 3, 7}) {
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(testing::Message() << "degree " << degree << " variant " << variant);
            PolynomialScenario s;
            s.degree = degree;
            s.range = variant == 0;
            s.in_place = variant == 2;
            // six work arrays and the elimination's three vectors, and
            // whatever the engine asks on top: each refused in both modes
            EXPECT_GE(sweep_heap(s), 18u);
            EXPECT_EQ(sweep_image(s), 0u);  // the image library's allocator is not used
        }
    }
}

// ---- fit reports and the inverse lookup ------------------------------------------

// They need no memory at all: with both allocators refusing every request
// they still succeed, ask for nothing, and give what they give undisturbed.
TEST_F(Sweep, FitReportsAndInverseAskForNoMemory) {
    IntensityCal* cal = lib([] { return ICalCreate(); });
    ASSERT_NE(cal, nullptr);
    ctl(cal, ICAL_SET_TABLE_SIZE, 4096, 1, nullptr);
    const double hi = 4095.0;
    ctl(cal, ICAL_SET_RANGE_MAX, 0, 1, &hi);
    ctl(cal, ICAL_SET_POINTS, 5, 1, kFivePoints);
    ctl(cal, ICAL_SET_FIT_TYPE, 12, 0, nullptr);
    std::vector<RealPoint> samples;
    for (int i = 0; i < 300; ++i) samples.push_back({i * 0.5, std::cos(i * 0.1)});
    std::vector<double> values(5000);
    for (size_t k = 0; k < values.size(); ++k) values[k] = 0.05 + 2.0 * static_cast<double>(k) / values.size();

    auto run = [&](CalFitReport& poly, CalFitReport& curve, std::vector<double>& inputs) {
        inputs.assign(values.size(), 0.0);
        uint64_t unresolved = 0;
        EXPECT_EQ(lib([&] { return PolynomialFitReport(samples.data(), 300, 7, &poly); }), CAL_OK);
        EXPECT_EQ(lib([&] { return ICalFitReport(cal, &curve); }), CAL_OK);
        EXPECT_EQ(lib([&] { return ICalInverse(cal, values.data(), values.size(), inputs.data(), &unresolved); }),
                  CAL_OK);
    };
    CalFitReport poly_ref, curve_ref, poly, curve;
    std::vector<double> inputs_ref, inputs;
    run(poly_ref, curve_ref, inputs_ref);
    const uint64_t image_refused = image_.refused(), heap_refused = heap_.refused();
    image_.fail(Mode::FromK, 1);
    heap_.fail(Mode::FromK, 1);
    run(poly, curve, inputs);
    image_.stop();
    heap_.stop();
    EXPECT_EQ(image_.refused(), image_refused) << "asked the image library for memory";
    EXPECT_EQ(heap_.refused(), heap_refused) << "asked the heap for memory";
    EXPECT_EQ(std::memcmp(&poly, &poly_ref, sizeof poly), 0);
    EXPECT_EQ(std::memcmp(&curve, &curve_ref, sizeof curve), 0);
    EXPECT_EQ(std::memcmp(inputs.data(), inputs_ref.data(), inputs.size() * sizeof(double)), 0);
    destroy_all();
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const sweep::Schedule& image = sweep::ImageAllocator::schedule();
    const sweep::Schedule& heap = sweep::HeapAllocator::schedule();
    std::printf("allocation-failure sweep: %llu failure points exercised\n",
                static_cast<unsigned long long>(g_failure_points));
    std::printf("image allocator: %zu allocation sites asked, %zu of them refused at least once\n",
                image.sites_asked.size(), image.sites_refused.size());
    // CALMGR_SWEEP_SITES=1 lists the sites as offsets into the binary, for
    // addr2line.
    if (std::getenv("CALMGR_SWEEP_SITES") != nullptr) {
        for (const sweep::Schedule* sched : {&image, &heap}) {
            for (uintptr_t site : sched->sites_asked) {
                Dl_info info{};
                dladdr(reinterpret_cast<void*>(site), &info);
                std::printf("site 0x%zx\n", static_cast<size_t>(site - reinterpret_cast<uintptr_t>(info.dli_fbase)));
            }
        }
    }
    // With the whole sweep run, every code location that asked for a block
    // must also have seen a refusal.
    std::printf("engine heap: %zu allocation sites asked, %zu of them refused at least once\n",
                heap.sites_asked.size(), heap.sites_refused.size());
    if (testing::GTEST_FLAG(filter) == "*" &&
        (image.sites_asked != image.sites_refused || heap.sites_asked != heap.sites_refused)) {
        std::printf("FAILED: some allocation sites were never refused\n");
        return 1;
    }
    return result;
}
