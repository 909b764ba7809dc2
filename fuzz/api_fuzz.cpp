// Fuzzes the public interface with call sequences over a handful of live
// calibrations of both families: creation and destruction, every control
// code with fuzzed values, indices, defer flags and data buffers of exactly
// the size the code implies, lookups of every sample type, spatial
// conversion, association with image handles and the polynomial fits, with
// the image library's allocator refusing requests on command. After each
// call the statuses and the readable state are checked against the rules
// (see the CHECKs); any violation aborts.
#include "calmgr.h"
#include "fit/lsq.h"
#include "fuzz_cal.h"
#include "fuzz_input.h"
#include "support/failing_allocator.h"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using calmgr_test::FailingAllocator;

constexpr int kSlots = 4;
constexpr uint32_t kMaxCount = 96;   // lookup and conversion counts
constexpr int16_t kMaxPoints = 40;   // points handed in
constexpr int16_t kMaxTable = 4200;  // table entries handed in or resized to

// The least-squares engine's heap, refusing requests on command.
struct Heap {
    int mode = 0;  // 0 never, 1 once, 2 from fail_at on
    uint64_t fail_at = 0, requests = 0, refused = 0;
    int64_t live = 0;

    static Heap& get() {
        static Heap h;
        return h;
    }
    static void* alloc(size_t size) {
        Heap& h = get();
        ++h.requests;
        if ((h.mode == 1 && h.requests == h.fail_at) || (h.mode == 2 && h.requests >= h.fail_at)) {
            ++h.refused;
            return nullptr;
        }
        void* block = std::malloc(size);
        if (block != nullptr) ++h.live;
        return block;
    }
    static void release(void* block) {
        if (block != nullptr) --get().live;
        std::free(block);
    }
};

struct State {
    IntensityCal* ical[kSlots] = {};
    uint64_t ical_born[kSlots] = {};
    SpatialCal* scal[kSlots] = {};
    uint64_t scal_born[kSlots] = {};
    uint64_t clock = 0;
    FailingAllocator* alloc = nullptr;
    uint64_t refused_before = 0;
    uint64_t heap_refused_before = 0;
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <class T>
T get(IntensityCal* cal, uint32_t code, int32_t value = 0) {
    T v{};
    CHECK(ICalControl(cal, code, value, 0, &v) == CAL_OK);
    return v;
}

// The registry walk from null reaches exactly the live objects, newest first.
template <class Cal, class Walk>
void check_registry(Cal* const (&slots)[kSlots], const uint64_t (&born)[kSlots], Walk next_of) {
    std::vector<std::pair<uint64_t, Cal*>> live;
    for (int i = 0; i < kSlots; ++i)
        if (slots[i] != nullptr) live.push_back({born[i], slots[i]});
    std::sort(live.begin(), live.end(), [](auto& a, auto& b) { return a.first > b.first; });
    Cal* cur = nullptr;
    for (size_t i = 0; i <= live.size(); ++i) {
        Cal* next = next_of(cur);
        if (i == live.size()) {
            CHECK(next == nullptr);
        } else {
            CHECK(next == live[i].second);
        }
        cur = next;
    }
}

void check_registries(State& st) {
    check_registry(st.ical, st.ical_born, [](IntensityCal* c) {
        IntensityCal* next = reinterpret_cast<IntensityCal*>(1);
        CHECK(ICalControl(c, ICAL_GET_NEXT, 0, 0, &next) == CAL_OK);
        return next;
    });
    check_registry(st.scal, st.scal_born, [](SpatialCal* c) {
        SpatialCal* next = reinterpret_cast<SpatialCal*>(1);
        CHECK(SCalControl(c, SCAL_GET_NEXT, 0, 0, &next) == CAL_OK);
        return next;
    });
}

// table_min <= every numeric entry <= table_max.
void check_table_stats(IntensityCal* cal) {
    const auto n = get<uint16_t>(cal, ICAL_GET_TABLE_SIZE);
    std::vector<double> table(n);
    if (n != 0) CHECK(ICalControl(cal, ICAL_GET_TABLE, 0, 0, table.data()) == CAL_OK);
    const double lo = get<double>(cal, ICAL_GET_TABLE_MIN), hi = get<double>(cal, ICAL_GET_TABLE_MAX);
    for (double v : table) {
        if (std::isnan(v)) continue;
        CHECK(lo <= v);
        CHECK(v <= hi);
    }
}

// A refused request is reported as CAL_ERR_NOMEM (or a null handle), and
// CAL_ERR_NOMEM is reported only for a refused request.
void check_nomem(State& st, bool nomem) {
    const bool refused =
        st.alloc->refused() != st.refused_before || Heap::get().refused != st.heap_refused_before;
    CHECK(refused == nomem);
}

// Everything a caller can read back, compared bit for bit.
struct Snapshot {
    std::vector<unsigned char> bytes;
    uint16_t num_points = 0, table_size = 0;
    bool operator==(const Snapshot& o) const { return bytes == o.bytes; }
    uint32_t type = 0;
};

// Whether a CAL_ERR_NOMEM came from the new block of a resize (the counts
// are those from before although the call asked for others): then nothing
// at all may have changed. A refusal inside the rebuild that follows a
// resize leaves the new setting in place.
bool resize_refused(const Snapshot& before, const Snapshot& after, uint32_t code, int16_t n) {
    const auto want = static_cast<uint16_t>(n);
    switch (code) {
        case ICAL_SET_POINTS: return want != before.num_points && after.num_points == before.num_points;
        case ICAL_SET_TABLE:
        case ICAL_SET_TABLE_SIZE: return want != before.table_size && after.table_size == before.table_size;
        case ICAL_SET_TYPE: return before.type == ICAL_TYPE_NONE;
        default: return false;
    }
};

Snapshot snapshot(IntensityCal* cal) {
    Snapshot s;
    s.bytes = fuzz::intensity_bytes(cal);
    s.type = get<uint32_t>(cal, ICAL_GET_TYPE);
    s.num_points = get<uint16_t>(cal, ICAL_GET_NUM_POINTS);
    s.table_size = get<uint16_t>(cal, ICAL_GET_TABLE_SIZE);
    return s;
}

IntensityCal*& pick_ical(State& st, fuzz::Input& in) { return st.ical[in.below(kSlots)]; }
SpatialCal*& pick_scal(State& st, fuzz::Input& in) { return st.scal[in.below(kSlots)]; }

// ---- intensity calibrations ----------------------------------------------------

void ical_create_or_destroy(State& st, fuzz::Input& in) {
    const int slot = static_cast<int>(in.below(kSlots));
    IntensityCal*& cal = st.ical[slot];
    if (cal == nullptr) {
        cal = ICalCreate();
        check_nomem(st, cal == nullptr);
        st.ical_born[slot] = ++st.clock;
    } else {
        IntensityCal* dead = cal;
        CHECK(ICalDestroy(cal) == CAL_OK);
        cal = nullptr;
        CHECK(ICalDestroy(dead) == CAL_ERR_INVALID);  // only the registry is consulted
    }
    CHECK(ICalDestroy(nullptr) == CAL_ERR_INVALID);
}

bool rebuilds(uint32_t code, uint32_t type, int32_t index, int16_t v16, uint16_t old_size, uint16_t old_points) {
    const bool now = index == 0;
    switch (code) {
        case ICAL_SET_TYPE: return v16 >= 0 && v16 <= 2 && (now || old_size == 0 || old_points == 0);
        case ICAL_SET_RANGE_MIN:
        case ICAL_SET_RANGE_MAX: return now && type <= 2;
        case ICAL_SET_POINTS: return now && type == 0;
        case ICAL_SET_POINT: return type == 0;
        case ICAL_SET_BLACK_LEVEL:
        case ICAL_SET_INCIDENT_LEVEL: return now && type == 1;
        case ICAL_SET_TABLE_SIZE: return now && type <= 1 && static_cast<uint16_t>(v16) != old_size;
        case ICAL_SET_FIT_TYPE:
            return now && type == 0 && ((v16 >= 0 && v16 <= 13) || (v16 >= 21 && v16 <= 23));
        case ICAL_SET_OPTIONS: return now && type == 0;
        case ICAL_SET_TABLE: return true;
        default: return false;
    }
}

void ical_control(State& st, fuzz::Input& in) {
    IntensityCal* cal = in.below(8) == 0 ? nullptr : pick_ical(st, in);
    const uint32_t code = in.below(34);
    int32_t value = static_cast<int32_t>(in.u32());
    const uint8_t idx_kind = in.u8();
    int32_t index = idx_kind < 120 ? 0 : idx_kind < 200 ? 1 : static_cast<int32_t>(in.u32());
    const bool null_data = in.below(16) == 0;

    // Sizes as the library sees them before the call.
    uint32_t type = 0;
    uint16_t num_points = 0, table_size = 0;
    if (cal != nullptr) {
        type = get<uint32_t>(cal, ICAL_GET_TYPE);
        num_points = get<uint16_t>(cal, ICAL_GET_NUM_POINTS);
        table_size = get<uint16_t>(cal, ICAL_GET_TABLE_SIZE);
    }

    // A buffer of exactly the size the code reads or writes.
    std::vector<unsigned char> buf;
    switch (code) {
        case ICAL_GET_NAME:
        case ICAL_GET_UNITS: buf.resize(128); break;
        case ICAL_SET_NAME:
        case ICAL_SET_UNITS: {
            const size_t len = in.below(200);
            buf.resize(len < 128 ? len + 1 : 128 + in.below(80));  // unterminated beyond 128
            in.bytes(buf.data(), len < buf.size() ? len : buf.size());
            if (len < 128) buf[len] = 0;
            break;
        }
        case ICAL_GET_TYPE: buf.resize(4); break;
        case ICAL_GET_NEXT: buf.resize(sizeof(void*)); break;
        case ICAL_GET_NUM_POINTS:
        case ICAL_GET_TABLE_SIZE:
        case ICAL_GET_FIT_TYPE:
        case ICAL_GET_ATTRIBUTE:
        case ICAL_GET_OPTIONS: buf.resize(2); break;
        case ICAL_GET_POINTS: buf.resize(num_points * sizeof(CalPoint)); break;
        case ICAL_GET_TABLE: buf.resize(table_size * sizeof(double)); break;
        case ICAL_SET_POINTS:
        case ICAL_SET_TABLE: {
            const int16_t limit = code == ICAL_SET_POINTS ? kMaxPoints : kMaxTable;
            int16_t n = static_cast<int16_t>(value);
            if (n > limit) {
                n = static_cast<int16_t>(n % limit);
                value = n;
            }
            const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
            const size_t elems = code == ICAL_SET_POINTS ? 2 * count : count;
            std::vector<double> v(elems);
            const bool sorted = in.flag();
            for (size_t i = 0; i < elems; ++i) {
                v[i] = in.empty() ? static_cast<double>(i * 7 % 256) : in.real();
                // equal inputs (a vertical step) now and then
                if (code == ICAL_SET_POINTS && i % 2 == 0 && i >= 2 && in.below(4) == 0) v[i] = v[i - 2];
            }
            if (sorted && code == ICAL_SET_POINTS) {  // ascending inputs, as a careful caller gives
                for (size_t i = 1; i < count; ++i)
                    for (size_t j = i; j > 0 && v[2 * j] < v[2 * (j - 1)]; --j) {
                        std::swap(v[2 * j], v[2 * (j - 1)]);
                        std::swap(v[2 * j + 1], v[2 * (j - 1) + 1]);
                    }
            }
            buf.resize(elems * sizeof(double));
            if (!buf.empty()) std::memcpy(buf.data(), v.data(), buf.size());
            break;
        }
        case ICAL_SET_TABLE_SIZE: {
            const auto n = static_cast<int16_t>(value);
            if (n > kMaxTable) value = n % kMaxTable;
            break;
        }
        default:  // the double in/out codes
            buf.resize(8);
            if (code % 2 == 1 || code == ICAL_SET_POINT) {
                const double d = in.real();
                std::memcpy(buf.data(), &d, 8);
            }
            break;
    }
    if (code == ICAL_GET_POINT || code == ICAL_SET_POINT) {
        if (idx_kind >= 200) index = static_cast<int32_t>(in.u32());
        else index = static_cast<int32_t>(in.below(num_points + 2));
    }
    void* data = null_data ? nullptr : (buf.empty() ? static_cast<void*>(&value) : buf.data());

    const int16_t v16 = static_cast<int16_t>(value & 0xFFFF);
    const Snapshot before = cal != nullptr ? snapshot(cal) : Snapshot{};
    st.refused_before = st.alloc->refused();
    st.heap_refused_before = Heap::get().refused;
    const int32_t status = ICalControl(cal, code, value, index, data);
    check_nomem(st, status == CAL_ERR_NOMEM);

    // Refusals that depend on the arguments alone.
    const bool data_optional = code == ICAL_SET_TYPE || code == ICAL_SET_TABLE_SIZE || code == ICAL_SET_FIT_TYPE ||
                               code == ICAL_GET_FIT_TYPE || code == ICAL_GET_ATTRIBUTE ||
                               code == ICAL_SET_ATTRIBUTE || code == ICAL_GET_OPTIONS || code == ICAL_SET_OPTIONS;
    if (code > ICAL_SET_OPTIONS || (data == nullptr && !data_optional) || (cal == nullptr && code != ICAL_GET_NEXT)) {
        CHECK(status == CAL_ERR_INVALID);
        if (cal != nullptr) CHECK(snapshot(cal) == before);
        return;
    }
    if (code == ICAL_GET_NEXT) {
        CHECK(status == CAL_OK);
        IntensityCal* next;
        std::memcpy(&next, data, sizeof next);
        bool known = next == nullptr;
        for (IntensityCal* c : st.ical) known = known || c == next;
        CHECK(known);
        return;
    }
    bool refused_by_args = false;
    if ((code == ICAL_SET_POINTS || code == ICAL_SET_TABLE) && (v16 < 2 || type == ICAL_TYPE_NONE))
        refused_by_args = true;
    if (code == ICAL_SET_TABLE_SIZE && (v16 < 2 || type >= ICAL_TYPE_TABLE)) refused_by_args = true;
    if (code == ICAL_SET_TYPE && (v16 < 0 || v16 > 3)) refused_by_args = true;
    if ((code == ICAL_GET_POINT || code == ICAL_SET_POINT) && static_cast<uint16_t>(index) >= num_points)
        refused_by_args = true;
    if (refused_by_args) CHECK(status == CAL_ERR_INVALID);
    // Refused arguments and refused blocks of a resize change nothing.
    const bool resize = code == ICAL_SET_POINTS || code == ICAL_SET_TABLE || code == ICAL_SET_TABLE_SIZE ||
                        code == ICAL_SET_TYPE;
    if (refused_by_args || (status == CAL_ERR_NOMEM && resize_refused(before, snapshot(cal), code, v16)))
        CHECK(snapshot(cal) == before);
    // Getters and setters that cannot fail.
    if (!refused_by_args && !rebuilds(code, type, index, v16, table_size, num_points) && !resize &&
        code != ICAL_SET_POINT)
        CHECK(status == CAL_OK);
    if (status == CAL_OK && rebuilds(code, type, index, v16, table_size, num_points)) check_table_stats(cal);

    // Counts stay consistent with the type: none for type 3, at least 2 otherwise.
    const auto t = get<uint32_t>(cal, ICAL_GET_TYPE);
    const auto np = get<uint16_t>(cal, ICAL_GET_NUM_POINTS), ts = get<uint16_t>(cal, ICAL_GET_TABLE_SIZE);
    CHECK(t <= 3);
    if (t == ICAL_TYPE_NONE) {
        CHECK(np == 0 && ts == 0);
    } else {
        CHECK(np >= 2 && ts >= 2);
    }
}

void ical_lookup(State& st, fuzz::Input& in) {
    const IntensityCal* cal = in.below(6) == 0 ? nullptr : pick_ical(st, in);
    const bool ex = in.flag();
    uint32_t type = in.u8();
    if (in.flag()) type |= ICAL_LOOKUP_FLOAT;
    if (in.below(8) == 0) type |= in.u32() & ~0xFFu;  // ignored bits
    uint32_t count = in.below(kMaxCount + 1);
    uint32_t passed = count;
    if (!ex && in.below(4) == 0) passed = count | (in.u16() + 1u) << 16;  // high bits dropped
    size_t width, per_pixel;
    fuzz::sample_layout(type & 0xFF, width, per_pixel);
    const size_t values = count * per_pixel;
    const size_t in_bytes = width == 0 ? (count + 7) / 8 : values * width;
    std::vector<unsigned char> samples(in_bytes);
    in.bytes(samples.data(), samples.size());
    if (width == 8 || width == 4) {  // mix in special values
        for (size_t k = 0; k < values; ++k) {
            if (in.below(4) != 0) continue;
            const double d = in.real();
            if (width == 8) std::memcpy(&samples[k * 8], &d, 8);
            else {
                const float f = std::isnan(d) ? NAN : static_cast<float>(std::fmax(std::fmin(d, 3e38), -3e38));
                std::memcpy(&samples[k * 4], &f, 4);
            }
        }
    }
    const bool as_float = (type & ICAL_LOOKUP_FLOAT) != 0;
    const size_t out_bytes = values * (as_float ? 4 : 8);
    std::vector<unsigned char> out(out_bytes + 1, 0xA5);  // one guard byte
    const bool null_samples = in.below(16) == 0, null_out = in.below(16) == 0;
    const void* sp = null_samples ? nullptr : samples.data();
    void* op = null_out ? nullptr : out.data();
    const int32_t status = ex ? ICalLookupEx(cal, type, sp, passed, op) : ICalLookup(cal, type, sp, passed, op);
    if (count != 0 && (null_samples || null_out)) {
        CHECK(status == CAL_ERR_INVALID);
        for (unsigned char b : out) CHECK(b == 0xA5);
        return;
    }
    CHECK(status == CAL_OK);
    CHECK(out[out_bytes] == 0xA5);

    // Every output equals, bit for bit, what the documented conversion gives
    // for the calibration's current table and settings.
    IntensityCal* c = const_cast<IntensityCal*>(cal);
    const uint32_t t = c != nullptr ? get<uint32_t>(c, ICAL_GET_TYPE) : uint32_t{ICAL_TYPE_NONE};
    const bool calibrated = t != ICAL_TYPE_NONE;
    const double lo = calibrated ? get<double>(c, ICAL_GET_RANGE_MIN) : 0.0;
    const double hi = calibrated ? get<double>(c, ICAL_GET_RANGE_MAX) : 0.0;
    const uint16_t n = calibrated ? get<uint16_t>(c, ICAL_GET_TABLE_SIZE) : 0;
    std::vector<double> table(n);
    if (n != 0) CHECK(ICalControl(c, ICAL_GET_TABLE, 0, 0, table.data()) == CAL_OK);
    const bool usable = calibrated && n >= 2 && hi > lo;
    const uint32_t code = type & 0xFF;
    const int direct = !usable || lo != 0.0 ? 0 : (n == 256 && hi == 255.0) ? 1 : (n == 4096 && hi == 4095.0) ? 2 : 0;
    const double scale = usable ? static_cast<double>(n - 1) / (hi - lo) : 0.0;
    auto interpolate = [&](double x) {
        if (!(x >= lo)) return table[0];
        if (x > hi) return table[n - 1];
        const double pos = (x - lo) * scale;
        if (std::isnan(pos)) return table[0];
        if (pos >= n - 1) return table[n - 1];
        const auto i = static_cast<uint32_t>(pos);
        return table[i] + (pos - std::floor(pos)) * (table[i + 1] - table[i]);
    };
    for (size_t k = 0; k < values; ++k) {
        double want = 0.0;
        bool copy_f32 = false;  // float samples to float output: the bytes unchanged
        if (code == 0) {
            const bool bit = (samples[k >> 3] >> (7 - (k & 7))) & 1u;
            want = calibrated && n != 0 ? (bit ? table[n - 1] : table[0]) : (bit ? 1.0 : 0.0);
        } else if (width == 1 || width == 2) {
            uint16_t v = samples[k * width];
            if (width == 2) std::memcpy(&v, &samples[k * 2], 2);
            if (!usable) want = v;
            else if (width == 1 && direct == 1) want = table[v];
            else if (width == 2 && direct == 2) want = table[v < n - 1 ? v : n - 1];
            else want = interpolate(v);
        } else if (width == 4) {
            float f;
            std::memcpy(&f, &samples[k * 4], 4);
            want = usable ? interpolate(f) : f;
            copy_f32 = !usable && as_float;
        } else {
            std::memcpy(&want, &samples[k * 8], 8);
            if (usable) want = interpolate(want);
        }
        if (as_float) {
            float expect = static_cast<float>(want);
            if (copy_f32) std::memcpy(&expect, &samples[k * 4], 4);
            CHECK(std::memcmp(&out[k * 4], &expect, 4) == 0);
        } else {
            CHECK(std::memcmp(&out[k * 8], &want, 8) == 0);
        }
    }
}

// ---- spatial calibrations ---------------------------------------------------------

void check_pixel_area(SpatialCal* cal) {
    double xs = 0, ys = 0, area = 0;
    CHECK(SCalControl(cal, SCAL_GET_SCALE, 0, 0, &xs) == CAL_OK);
    CHECK(SCalControl(cal, SCAL_GET_SCALE, 1, 0, &ys) == CAL_OK);
    CHECK(SCalControl(cal, SCAL_GET_PIXEL_AREA, 0, 0, &area) == CAL_OK);
    CHECK(same_bits(area, 1.0 / (ys * xs)) || (std::isnan(area) && std::isnan(1.0 / (ys * xs))));
}

void scal_create_or_destroy(State& st, fuzz::Input& in) {
    const int slot = static_cast<int>(in.below(kSlots));
    SpatialCal*& cal = st.scal[slot];
    if (cal == nullptr) {
        cal = SCalCreate();
        check_nomem(st, cal == nullptr);
        st.scal_born[slot] = ++st.clock;
        if (cal != nullptr) check_pixel_area(cal);
    } else {
        SpatialCal* dead = cal;
        CHECK(SCalDestroy(cal) == CAL_OK);
        cal = nullptr;
        CHECK(SCalDestroy(dead) == CAL_ERR_INVALID);
    }
    CHECK(SCalDestroy(nullptr) == CAL_ERR_INVALID);
}

void scal_control(State& st, fuzz::Input& in) {
    SpatialCal* cal = in.below(8) == 0 ? nullptr : pick_scal(st, in);
    const uint32_t code = in.below(16);
    const int32_t value = in.flag() ? static_cast<int32_t>(in.u32()) : in.below(2);
    const int32_t index = static_cast<int32_t>(in.u32());
    const bool null_data = in.below(16) == 0;
    std::vector<unsigned char> buf(code <= 3 ? 200 : 8);
    double before_x = 0, before_y = 0;
    if (code == SCAL_SET_NAME || code == SCAL_SET_UNITS) {
        const size_t len = in.below(200);
        in.bytes(buf.data(), len);
        if (in.flag()) buf[len] = 0;  // otherwise unterminated; at most 128 bytes are read
        buf.resize(len < 128 ? (buf[len] == 0 ? len + 1 : 128) : 128);
    } else if (code <= 13 && code % 2 == 1) {
        const double d = in.real();
        std::memcpy(buf.data(), &d, 8);
    }
    if (cal != nullptr) {
        SCalControl(cal, SCAL_GET_SCALE, 0, 0, &before_x);
        SCalControl(cal, SCAL_GET_SCALE, 1, 0, &before_y);
    }
    void* data = null_data ? nullptr : buf.data();
    const int32_t status = SCalControl(cal, code, value, index, data);
    if (code > 13 || data == nullptr || (cal == nullptr && code != SCAL_GET_NEXT)) {
        CHECK(status == CAL_ERR_INVALID);
        return;
    }
    if (code == SCAL_SET_SCALE || code == SCAL_SET_PIXEL_SIZE) {
        double d;
        std::memcpy(&d, buf.data(), 8);
        CHECK((status == CAL_ERR_INVALID) == (d == 0.0 || std::isnan(d)));
        if (status != CAL_OK) {
            double x = 0, y = 0;
            SCalControl(cal, SCAL_GET_SCALE, 0, 0, &x);
            SCalControl(cal, SCAL_GET_SCALE, 1, 0, &y);
            CHECK(same_bits(x, before_x) && same_bits(y, before_y));
        }
    } else {
        CHECK(status == CAL_OK);
    }
    if (code == SCAL_GET_NEXT) {
        SpatialCal* next;
        std::memcpy(&next, data, sizeof next);
        bool known = next == nullptr;
        for (SpatialCal* c : st.scal) known = known || c == next;
        CHECK(known);
    }
    if (cal != nullptr) check_pixel_area(cal);
}

void scal_pix_to_cu(State& st, fuzz::Input& in) {
    const SpatialCal* cal = in.below(8) == 0 ? nullptr : pick_scal(st, in);
    const uint32_t count = in.below(kMaxCount + 1);
    const uint32_t passed = in.below(4) == 0 ? count | (in.u16() + 1u) << 16 : count;
    std::vector<PixelPoint> pixels(count);
    in.bytes(pixels.data(), count * sizeof(PixelPoint));
    std::vector<RealPoint> out(count + 1, RealPoint{-7.0, -7.0});
    const bool null_pixels = in.below(16) == 0, null_out = in.below(16) == 0;
    const int32_t status = SCalPixToCU(cal, null_pixels ? nullptr : pixels.data(), null_out ? nullptr : out.data(), passed);
    if (cal == nullptr || (count != 0 && (null_pixels || null_out))) {
        CHECK(status == CAL_ERR_INVALID);
        for (const RealPoint& p : out) CHECK(p.x == -7.0 && p.y == -7.0);
        return;
    }
    CHECK(status == CAL_OK);
    CHECK(out[count].x == -7.0 && out[count].y == -7.0);
}

// ---- association ----------------------------------------------------------------

constexpr CalImageHandle kImages[] = {0, 1, 2, 0xFFFFFFFFu};

void associate(State& st, fuzz::Input& in) {
    const CalImageHandle image = kImages[in.below(4)];
    const uint8_t op = in.below(8);
    const bool clear = in.below(4) == 0;
    IntensityCal* ical = clear ? nullptr : pick_ical(st, in);
    SpatialCal* scal = clear ? nullptr : pick_scal(st, in);
    switch (op) {
        case 0: {
            IntensityCal* earlier = ICalGetHandle(image);
            const int32_t status = ICalSetHandle(image, ical);
            if (ical != nullptr && image == 0) {
                CHECK(status == CAL_ERR_TARGET);
                CHECK(ICalGetHandle(image) == earlier);
            } else {
                CHECK(status == 0);
                CHECK(ICalGetHandle(image) == ical);
            }
            break;
        }
        case 1: {
            IntensityCal* earlier = ICalGetHandleInst(image);
            const int32_t status = ICalSetHandleInst(image, ical);
            if (ical != nullptr && image == 0) {
                CHECK(status == CAL_ERR_TARGET);
                CHECK(ICalGetHandleInst(image) == earlier);
            } else {
                CHECK(status == 0);
                CHECK(ICalGetHandleInst(image) == ical);
            }
            break;
        }
        case 2:
            CHECK(SCalSetHandle(image, scal) == 0);
            CHECK(SCalGetHandle(image) == scal);
            break;
        case 3:
            CHECK(SCalSetHandleInst(image, scal) == 0);
            CHECK(SCalGetHandleInst(image) == scal);
            break;
        default: {  // getters never fail; a handle and its instance are apart
            (void)ICalGetHandle(image);
            (void)ICalGetHandleInst(image);
            (void)SCalGetHandle(image);
            (void)SCalGetHandleInst(image);
            break;
        }
    }
}

void clear_associations() {
    for (CalImageHandle image : kImages) {
        ICalSetHandle(image, nullptr);
        ICalSetHandleInst(image, nullptr);
        SCalSetHandle(image, nullptr);
        SCalSetHandleInst(image, nullptr);
        CHECK(ICalGetHandle(image) == nullptr && ICalGetHandleInst(image) == nullptr);
        CHECK(SCalGetHandle(image) == nullptr && SCalGetHandleInst(image) == nullptr);
    }
}

// ---- polynomial fits ----------------------------------------------------------

void polynomial(State& st, fuzz::Input& in) {
    const bool range = in.flag();
    const int16_t num_samples = in.below(4) == 0 ? static_cast<int16_t>(in.u16()) : static_cast<int16_t>(in.below(20));
    const int16_t num_out = in.below(4) == 0 ? static_cast<int16_t>(in.u16()) : static_cast<int16_t>(in.below(40));
    const int16_t degree = in.below(4) == 0 ? static_cast<int16_t>(in.u16()) : static_cast<int16_t>(in.below(10));
    const size_t ns = num_samples > 0 ? static_cast<size_t>(num_samples < 64 ? num_samples : 64) : 0;
    const size_t no = num_out > 0 ? static_cast<size_t>(num_out < 64 ? num_out : 64) : 0;
    // Counts beyond the buffers are only passed where a check refuses them first.
    const int16_t pass_samples = num_samples > 64 ? (degree >= 1 && degree <= 7 ? 64 : num_samples) : num_samples;
    const int16_t pass_out = num_out > 64 ? (degree >= 1 && degree <= 7 ? 64 : num_out) : num_out;
    std::vector<RealPoint> samples(ns);
    for (RealPoint& p : samples) p = {in.real(), in.real()};
    const bool null_samples = in.below(16) == 0, null_out = in.below(16) == 0;
    const RealPoint* sp = null_samples ? nullptr : samples.data();
    const bool args_bad_common = sp == nullptr || pass_samples <= 0 || null_out;
    const bool args_bad_degree = degree < 1 || degree > 7;
    if (range) {
        const double x0 = in.real(), x1 = in.real();
        std::vector<double> values(no + 1, -3.5);
        const int32_t status = PolynomialFitRange(sp, pass_samples, null_out ? nullptr : values.data(), x0, x1,
                                                  pass_out, degree);
        if (args_bad_common || pass_out < 2 || args_bad_degree) {
            CHECK(status == FIT_ERR_ARGS);
            for (double v : values) CHECK(v == -3.5);
        } else {
            CHECK(status == 0 || status == CAL_ERR_NOMEM);
            check_nomem(st, status == CAL_ERR_NOMEM);
            if (status == CAL_ERR_NOMEM)
                for (double v : values) CHECK(v == -3.5);
            CHECK(values[no] == -3.5);
        }
    } else {
        std::vector<RealPoint> out(no + 1, RealPoint{-3.5, -3.5});
        for (size_t k = 0; k < no; ++k) out[k].x = in.real();
        const bool in_place = in.below(8) == 0 && !null_out && !null_samples;
        RealPoint* op = null_out ? nullptr : (in_place ? samples.data() : out.data());
        const int16_t po = in_place ? pass_samples : pass_out;
        std::vector<RealPoint> samples_before = samples;
        const int32_t status = PolynomialFit(sp, pass_samples, op, po, degree);
        if (args_bad_common || po <= 0 || args_bad_degree) {
            CHECK(status == FIT_ERR_ARGS);
            CHECK(out[no].y == -3.5);
            CHECK(samples.size() == samples_before.size() &&
                  (samples.empty() || std::memcmp(samples.data(), samples_before.data(), ns * sizeof(RealPoint)) == 0));
        } else {
            CHECK(status == 0 || status == CAL_ERR_NOMEM);
            check_nomem(st, status == CAL_ERR_NOMEM);
            if (status == CAL_ERR_NOMEM) {  // nothing written
                for (size_t k = 0; k < no; ++k) CHECK(out[k].y == -3.5);
                CHECK(std::memcmp(samples.data(), samples_before.data(), ns * sizeof(RealPoint)) == 0);
            }
        }
        CHECK(out[no].x == -3.5 && out[no].y == -3.5);
    }
}

// ---- the driver ---------------------------------------------------------------------

void refuse_requests(State& st, fuzz::Input& in) {
    const uint8_t how = in.u8();
    if (how < 64) {
        st.alloc->stop_failing();
        Heap::get().mode = 0;
    } else if (how < 160) {
        st.alloc->fail(how & 1 ? FailingAllocator::Mode::Once : FailingAllocator::Mode::FromK, 1 + in.below(6));
    } else {
        Heap::get().mode = how & 1 ? 1 : 2;
        Heap::get().fail_at = Heap::get().requests + 1 + in.below(12);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    FailingAllocator alloc;
    calmgr::set_fit_heap(&Heap::alloc, &Heap::release);
    State st;
    st.alloc = &alloc;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        st.refused_before = alloc.refused();
        st.heap_refused_before = Heap::get().refused;
        const uint32_t op = in.below(12);
        if (op == 11) {  // the next call meets a refusing allocator
            refuse_requests(st, in);
            continue;
        }
        switch (op) {
            case 0: ical_create_or_destroy(st, in); break;
            case 1: case 2: case 3: ical_control(st, in); break;
            case 4: case 5: ical_lookup(st, in); break;
            case 6: scal_create_or_destroy(st, in); break;
            case 7: scal_control(st, in); break;
            case 8: scal_pix_to_cu(st, in); break;
            case 9: associate(st, in); break;
            case 10: polynomial(st, in); break;
            default: break;
        }
        alloc.stop_failing();
        Heap::get().mode = 0;
        check_registries(st);
    }
    clear_associations();
    for (IntensityCal* cal : st.ical)
        if (cal != nullptr) CHECK(ICalDestroy(cal) == CAL_OK);
    for (SpatialCal* cal : st.scal)
        if (cal != nullptr) CHECK(SCalDestroy(cal) == CAL_OK);
    CHECK(alloc.live() == 0);
    CHECK(Heap::get().live == 0);
    calmgr::set_fit_heap(nullptr, nullptr);
    return 0;
}
