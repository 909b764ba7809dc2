// Fuzzes the extension functions over fuzzed calibrations of every type
// (fitted, density, supplied tables with flat runs, turns, NaN and infinite
// entries, none), with the image library's allocator refusing requests on
// command. ICalDiagnose allocates nothing, changes nothing, refuses exactly
// what it documents, writes at most `capacity` findings of known codes about
// existing points and entries in the documented order, and reports the same
// findings whatever the capacity.
#include "calmgr.h"
#include "fuzz_cal.h"
#include "fuzz_input.h"
#include "support/failing_allocator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// Heap allocations are counted through the sanitizers' hooks where the
// build has them (the fuzz and sanitizer builds); plain builds skip that.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*)) __attribute__((weak));

namespace {

using calmgr_test::FailingAllocator;

uint64_t g_heap_allocations = 0;

void count_malloc(const volatile void*, size_t) { ++g_heap_allocations; }
void ignore_free(const volatile void*) {}

bool heap_counted() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                                  __sanitizer_install_malloc_and_free_hooks(count_malloc, ignore_free) != 0;
    return installed;
}

bool same_bits(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

template <class T>
bool untouched(const T& v) {
    const auto* b = reinterpret_cast<const unsigned char*>(&v);
    return std::all_of(b, b + sizeof v, [](unsigned char c) { return c == 0xA5; });
}

template <class T>
void poison(T& v) {
    std::memset(static_cast<void*>(&v), 0xA5, sizeof v);
}

// The table as it stands, and what the checks need to know about it.
struct TableView {
    uint32_t type = ICAL_TYPE_NONE;
    double lo = 0, hi = 0;  // range
    std::vector<double> table;
    uint16_t num_points = 0;
    int16_t fit_type = 0;

    bool usable() const { return type != ICAL_TYPE_NONE && table.size() >= 2 && hi > lo; }
};

TableView view(IntensityCal* cal) {
    TableView v;
    v.type = fuzz::read_control<uint32_t>(cal, ICAL_GET_TYPE);
    v.lo = fuzz::read_control<double>(cal, ICAL_GET_RANGE_MIN);
    v.hi = fuzz::read_control<double>(cal, ICAL_GET_RANGE_MAX);
    v.num_points = fuzz::read_control<uint16_t>(cal, ICAL_GET_NUM_POINTS);
    v.fit_type = fuzz::read_control<int16_t>(cal, ICAL_GET_FIT_TYPE);
    v.table.resize(fuzz::read_control<uint16_t>(cal, ICAL_GET_TABLE_SIZE));
    if (!v.table.empty()) CHECK(ICalControl(cal, ICAL_GET_TABLE, 0, 0, v.table.data()) == CAL_OK);
    return v;
}

// ---- building calibrations -------------------------------------------------------

// A supplied table: a ramp, a walk with flat runs and turns, or arbitrary
// doubles.
std::vector<double> fuzz_table(fuzz::Input& in) {
    static const uint16_t kSizes[] = {2, 3, 4, 16, 255, 256, 257, 1000, 4096};
    const uint16_t n = in.flag() ? kSizes[in.below(9)] : static_cast<uint16_t>(2 + in.below(64));
    std::vector<double> t(n);
    const uint8_t shape = in.below(3);
    double v = in.real(), step = static_cast<double>(static_cast<int8_t>(in.u8())) / 4.0;
    for (uint16_t i = 0; i < n; ++i) {
        if (shape == 0) {
            t[i] = v + step * i;
        } else if (shape == 1) {
            t[i] = v;
            const uint8_t turn = in.below(16);
            if (turn == 0) step = -step;
            if (turn == 1) step = 0.0;
            if (turn == 2) step = static_cast<double>(static_cast<int8_t>(in.u8())) / 4.0;
            v += step;
        } else {
            t[i] = in.real();
        }
    }
    return t;
}

IntensityCal* make_calibration(fuzz::Input& in) {
    IntensityCal* cal = ICalCreate();
    CHECK(cal != nullptr);
    const uint8_t what = in.u8();
    double d = 0;
    if (what & 1) {
        d = in.real();
        ICalControl(cal, ICAL_SET_RANGE_MIN, 0, 1, &d);
    }
    if (what & 2) {
        d = in.real();
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &d);
    }
    if (what & 4) {
        static const uint16_t kSizes[] = {2, 3, 16, 255, 256, 257, 1000, 4095, 4096};
        const int32_t n = in.flag() ? kSizes[in.below(9)] : 2 + in.below(600);
        ICalControl(cal, ICAL_SET_TABLE_SIZE, n, 1, nullptr);
    }
    if (what & 8) {
        const auto n = static_cast<uint16_t>(2 + in.below(40));
        std::vector<CalPoint> points = fuzz::fuzz_points(in, n);
        ICalControl(cal, ICAL_SET_POINTS, n, 1, points.data());
    }
    if (what & 16) {
        d = in.real();
        ICalControl(cal, ICAL_SET_BLACK_LEVEL, 0, 1, &d);
        d = in.real();
        ICalControl(cal, ICAL_SET_INCIDENT_LEVEL, 0, 1, &d);
    }
    ICalControl(cal, ICAL_SET_OPTIONS, in.below(4), 1, nullptr);
    static const int16_t kFits[] = {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 21, 22, 23};
    ICalControl(cal, ICAL_SET_FIT_TYPE, kFits[in.below(14)], 1, nullptr);
    const uint8_t type = in.below(8);  // mostly standard curves
    if (type == 1 || type == 2) {
        ICalControl(cal, ICAL_SET_TYPE, type, 0, nullptr);
    } else if (type == 3) {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_TABLE, 0, nullptr);
        std::vector<double> table = fuzz_table(in);
        CHECK(ICalControl(cal, ICAL_SET_TABLE, static_cast<int32_t>(table.size()), 0, table.data()) == CAL_OK);
    } else if (type == 4) {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_NONE, 0, nullptr);
    } else {
        ICalControl(cal, ICAL_SET_TYPE, ICAL_TYPE_STANDARD, 0, nullptr);  // the rebuild, whatever it says
    }
    return cal;
}

// ---- diagnosis -------------------------------------------------------------------

void diagnose(IntensityCal* cal, FailingAllocator& alloc, fuzz::Input& in) {
    alignas(16) static unsigned char fake[4096];  // never registered
    const uint8_t who = in.below(16);
    const IntensityCal* target = who == 0 ? nullptr : who == 1 ? reinterpret_cast<const IntensityCal*>(fake) : cal;
    const uint32_t capacity = in.below(24);
    const bool null_findings = in.below(8) == 0, null_count = in.below(16) == 0;
    std::vector<CalFinding> findings(capacity + 1);
    for (CalFinding& f : findings) poison(f);
    uint32_t count;
    poison(count);

    const std::vector<unsigned char> before = fuzz::intensity_bytes(cal);
    const bool counted = heap_counted();
    const uint64_t heap_before = g_heap_allocations, requests_before = alloc.requests();
    const int32_t status = ICalDiagnose(target, null_findings ? nullptr : findings.data(), capacity,
                                        null_count ? nullptr : &count);
    CHECK(alloc.requests() == requests_before);
    if (counted) CHECK(g_heap_allocations == heap_before);
    CHECK(fuzz::intensity_bytes(cal) == before);

    const bool refused = target != cal || null_count || (null_findings && capacity != 0);
    if (refused) {
        CHECK(status == CAL_ERR_INVALID);
        CHECK(untouched(count));
        for (const CalFinding& f : findings) CHECK(untouched(f));
        return;
    }
    CHECK(status == CAL_OK);
    const uint32_t written = std::min(count, capacity);
    for (size_t k = written; k < findings.size(); ++k) CHECK(untouched(findings[k]));
    if (null_findings) return;

    // Known codes about existing points and entries, in the documented
    // order: the range; each point's findings (ascending codes); the points
    // as a whole; the table in entry order.
    const TableView v = view(cal);
    auto phase = [](const CalFinding& f) {
        if (f.code == ICAL_DIAG_EMPTY_RANGE) return 0;
        if (f.point >= 0) return 1;
        if (f.entry >= 0) return 3;
        return 2;
    };
    for (uint32_t k = 0; k < written; ++k) {
        const CalFinding& f = findings[k];
        CHECK(f.code >= ICAL_DIAG_EMPTY_RANGE && f.code <= ICAL_DIAG_POINTS_DROPPED);
        const char* text = CalDiagText(f.code);
        CHECK(text != nullptr && std::strcmp(text, "unknown finding") != 0 && std::strchr(text, '\n') == nullptr);
        CHECK(f.point >= -1 && f.point < static_cast<int32_t>(v.num_points));
        CHECK(f.entry >= -1 && f.entry < static_cast<int32_t>(v.table.size()));
        CHECK(f.point < 0 || f.entry < 0);
        if (k == 0) continue;
        const CalFinding& e = findings[k - 1];
        CHECK(phase(e) <= phase(f));
        if (phase(e) == 1 && phase(f) == 1) CHECK(e.point < f.point || (e.point == f.point && e.code <= f.code));
        if (phase(e) == 3 && phase(f) == 3) CHECK(e.entry <= f.entry);
    }
    // A range without a finite positive span is reported first, for every
    // type but none, and only then.
    const double span = v.hi - v.lo;
    const bool empty_range = v.type != ICAL_TYPE_NONE && !(span > 0.0 && std::isfinite(span));
    if (written > 0) CHECK((findings[0].code == ICAL_DIAG_EMPTY_RANGE) == empty_range);
    if (empty_range) CHECK(count > 0);

    // The same findings whatever the capacity.
    std::vector<CalFinding> all(count + 1);
    uint32_t again = 0;
    CHECK(ICalDiagnose(cal, all.data(), count + 1, &again) == CAL_OK);
    CHECK(again == count);
    for (uint32_t k = 0; k < written; ++k) {
        const CalFinding &a = all[k], &f = findings[k];
        CHECK(a.code == f.code && a.point == f.point && a.entry == f.entry && same_bits(&a.value, &f.value, 8));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    FailingAllocator alloc;
    IntensityCal* cal = make_calibration(in);
    for (int op = 0; op < 8 && !in.empty(); ++op) {
        switch (in.below(6)) {
            case 0: case 1: case 2: case 3: case 4: diagnose(cal, alloc, in); break;
            default:
                CHECK(ICalDestroy(cal) == CAL_OK);
                cal = make_calibration(in);
                break;
        }
    }
    CHECK(ICalDestroy(cal) == CAL_OK);
    CHECK(alloc.live() == 0);
    return 0;
}
