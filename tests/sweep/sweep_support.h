// Support for the allocation-failure sweep: a counting host allocator that
// refuses the k-th request (once, or from then on) and remembers which code
// locations asked, a snapshot of everything a caller can read back from an
// intensity calibration, and a guard that counts global operator new calls
// made while the library is running.
#pragma once

#include "calmgr.h"
#include "fit/lsq.h"
#include "frame/services.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace sweep {

enum class Mode { Never, Once, FromK };

// operator new / delete calls made while a library call runs (the sweep
// binary replaces the global operators and raises `in_library` around each
// call into the library).
struct NewCounter {
    bool in_library = false;
    uint64_t news = 0;
    uint64_t deletes = 0;
};
NewCounter& new_counter();

// Runs f with the operator-new counter armed.
template <class F>
auto lib(F&& f) {
    new_counter().in_library = true;
    auto result = f();
    new_counter().in_library = false;
    return result;
}

// Something that can be told to refuse requests: the image library's
// allocator or the least-squares engine's heap.
class Failer {
public:
    virtual ~Failer() = default;
    virtual void fail(Mode mode, uint64_t k) = 0;  // k-th request from now, 1-based
    virtual void stop() = 0;
    virtual uint64_t refused() const = 0;
    virtual int64_t live() const = 0;
    virtual const char* label() const = 0;
};

// Failure schedule and accounting shared by both allocators.
struct Schedule {
    Mode mode = Mode::Never;
    uint64_t fail_at = 0;
    uint64_t requests = 0;
    uint64_t refused = 0;
    int64_t live = 0;
    std::set<uintptr_t> sites_asked;    // return addresses of requests
    std::set<uintptr_t> sites_refused;  // those refused at least once

    bool next_refused(uintptr_t site) {
        // The bookkeeping below allocates: it is the test's, not the library's.
        const bool armed = new_counter().in_library;
        new_counter().in_library = false;
        ++requests;
        sites_asked.insert(site);
        const bool refuse =
            (mode == Mode::Once && requests == fail_at) || (mode == Mode::FromK && requests >= fail_at);
        if (refuse) {
            ++refused;
            sites_refused.insert(site);
        }
        new_counter().in_library = armed;
        return refuse;
    }
};

// A Failer driven by its own Schedule, one per allocator type (the static
// hooks the library calls reach it through schedule()).
template <class Self>
class Scheduled : public Failer {
public:
    void fail(Mode mode, uint64_t k) override {
        schedule().mode = mode;
        schedule().fail_at = schedule().requests + k;
    }
    void stop() override { schedule().mode = Mode::Never; }
    uint64_t refused() const override { return schedule().refused; }
    int64_t live() const override { return schedule().live; }
    static Schedule& schedule() {
        static Schedule s;
        return s;
    }

protected:
    // A request made from `site`: refused by the schedule, or served by
    // `obtain` and counted live.
    template <class Obtain>
    static void* request(uintptr_t site, Obtain obtain) {
        if (schedule().next_refused(site)) return nullptr;
        void* block = obtain();
        if (block != nullptr) ++schedule().live;
        return block;
    }
    static void released(void* block) {
        if (block != nullptr) --schedule().live;
    }
};

// The image library's allocator: the built-in services with a counting,
// refusing mem_alloc. Installed for the object's lifetime.
class ImageAllocator final : public Scheduled<ImageAllocator> {
public:
    ImageAllocator() {
        // The counters and the sites seen run on across tests; only the
        // schedule is reset.
        schedule().mode = Mode::Never;
        CalImageServices s = calmgr::builtin_services();
        s.mem_alloc = &alloc;
        s.mem_free = &release;
        CalSetImageServices(&s);
    }
    ~ImageAllocator() override { CalSetImageServices(nullptr); }
    ImageAllocator(const ImageAllocator&) = delete;
    ImageAllocator& operator=(const ImageAllocator&) = delete;

    const char* label() const override { return "image allocator"; }

private:
    __attribute__((noinline)) static void* alloc(uint32_t flags, size_t size) {
        const auto site = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
        return request(site, [&] { return calmgr::builtin_services().mem_alloc(flags, size); });
    }
    static void release(void* block) {
        released(block);
        calmgr::builtin_services().mem_free(block);
    }
};

// The least-squares engine's heap: the process heap with a counting,
// refusing allocation. Installed for the object's lifetime.
class HeapAllocator final : public Scheduled<HeapAllocator> {
public:
    HeapAllocator() {
        schedule().mode = Mode::Never;
        calmgr::set_fit_heap(&alloc, &release);
    }
    ~HeapAllocator() override { calmgr::set_fit_heap(nullptr, nullptr); }
    HeapAllocator(const HeapAllocator&) = delete;
    HeapAllocator& operator=(const HeapAllocator&) = delete;

    const char* label() const override { return "engine heap"; }

private:
    __attribute__((noinline)) static void* alloc(std::size_t size) {
        const auto site = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
        return request(site, [&] { return std::malloc(size); });
    }
    static void release(void* block) {
        released(block);
        std::free(block);
    }
};

// Everything ICalControl reads back, compared bit for bit (NaN included).
struct ICalState {
    uint32_t type = 0;
    uint16_t num_points = 0;
    uint16_t table_size = 0;
    int16_t fit_type = 0;
    uint16_t options = 0;
    double range_min = 0, range_max = 0, black = 0, incident = 0, table_min = 0, table_max = 0;
    std::vector<CalPoint> points;
    std::vector<double> table;
    std::string name, units;

    bool operator==(const ICalState& o) const {
        auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
        return type == o.type && num_points == o.num_points && table_size == o.table_size &&
               fit_type == o.fit_type && options == o.options && same(range_min, o.range_min) &&
               same(range_max, o.range_max) && same(black, o.black) && same(incident, o.incident) &&
               same(table_min, o.table_min) && same(table_max, o.table_max) && name == o.name &&
               units == o.units && points.size() == o.points.size() && table.size() == o.table.size() &&
               (points.empty() || std::memcmp(points.data(), o.points.data(), points.size() * sizeof(CalPoint)) == 0) &&
               (table.empty() || std::memcmp(table.data(), o.table.data(), table.size() * sizeof(double)) == 0);
    }
};

// Reads the state through the public getters (each call armed).
inline ICalState read_state(IntensityCal* cal) {
    ICalState s;
    auto ctl = [cal](uint32_t code, int32_t value, void* data) {
        return lib([&] { return ICalControl(cal, code, value, 0, data); });
    };
    char text[128];
    ctl(ICAL_GET_NAME, 0, text);
    s.name = text;
    ctl(ICAL_GET_UNITS, 0, text);
    s.units = text;
    ctl(ICAL_GET_TYPE, 0, &s.type);
    ctl(ICAL_GET_NUM_POINTS, 0, &s.num_points);
    ctl(ICAL_GET_TABLE_SIZE, 0, &s.table_size);
    ctl(ICAL_GET_FIT_TYPE, 0, &s.fit_type);
    ctl(ICAL_GET_OPTIONS, 0, &s.options);
    ctl(ICAL_GET_RANGE_MIN, 0, &s.range_min);
    ctl(ICAL_GET_RANGE_MAX, 0, &s.range_max);
    ctl(ICAL_GET_BLACK_LEVEL, 0, &s.black);
    ctl(ICAL_GET_INCIDENT_LEVEL, 0, &s.incident);
    ctl(ICAL_GET_TABLE_MIN, 0, &s.table_min);
    ctl(ICAL_GET_TABLE_MAX, 0, &s.table_max);
    s.points.resize(s.num_points);
    s.table.resize(s.table_size);
    if (s.num_points != 0) ctl(ICAL_GET_POINTS, 0, s.points.data());
    if (s.table_size != 0) ctl(ICAL_GET_TABLE, 0, s.table.data());
    return s;
}

// Every live calibration of each family, newest first, by a registry walk.
inline std::vector<IntensityCal*> ical_registry() {
    std::vector<IntensityCal*> all;
    IntensityCal* cal = nullptr;
    for (;;) {
        IntensityCal* next = nullptr;
        lib([&] { return ICalControl(cal, ICAL_GET_NEXT, 0, 0, &next); });
        if (next == nullptr) return all;
        all.push_back(next);
        cal = next;
    }
}

inline std::vector<SpatialCal*> scal_registry() {
    std::vector<SpatialCal*> all;
    SpatialCal* cal = nullptr;
    for (;;) {
        SpatialCal* next = nullptr;
        lib([&] { return SCalControl(cal, SCAL_GET_NEXT, 0, 0, &next); });
        if (next == nullptr) return all;
        all.push_back(next);
        cal = next;
    }
}

}  // namespace sweep
