// Fuzzes the saved-calibration reader: documents of both families loaded
// from memory, optionally nested tens of thousands deep, with the image
// library's allocator refusing a chosen request while the document loads.
// A refusal must be one line naming the field at fault (or the position of
// malformed text) and leave nothing allocated or registered; an accepted
// document must save again to a document that loads to the same
// calibration bit for bit and saves to the same text.
//
// Input: byte 0 picks the family (bit 0) and the nesting (bit 1 on, bits
// 2-3 its kind); byte 1 the allocator's refusal (0 none, else bit 7 "from
// then on" and bits 0-6 the request, 1-based); with nesting, one byte of
// depth (255: 100,000 levels, else 2^(byte % 12), so that deep documents,
// which take long, stay rare); the rest is the document, up to its first
// zero byte. A nested value replaces the first '@' of the document, or
// wraps the whole of it.
#include "calmgr.h"
#include "calmgr_io.h"
#include "fuzz_cal.h"
#include "fuzz_input.h"
#include "support/failing_allocator.h"

#include <cstring>
#include <string>
#include <string_view>
#include <iterator>
#include <vector>

namespace {

using calmgr_test::FailingAllocator;

constexpr size_t kErrSize = 512;

// Opening and closing of one nesting level; the innermost value closes a
// level that needs one.
struct Nesting {
    const char *open, *inner, *close;
};
constexpr Nesting kNestings[4] = {
    {"[", "", "]"}, {"{\"a\":", "0", "}"}, {"[{\"a\":", "0", "}]"}, {"[", "", ""}  // the last never closes
};

std::string nest(const std::string& doc, const Nesting& kind, uint32_t depth) {
    std::string deep;
    deep.reserve(depth * (std::strlen(kind.open) + std::strlen(kind.close)) + 1);
    for (uint32_t i = 0; i < depth; ++i) deep += kind.open;
    const size_t middle = deep.size();
    deep += kind.inner;
    for (uint32_t i = 0; i < depth; ++i) deep += kind.close;
    const size_t at = doc.find('@');
    if (at != std::string::npos) return doc.substr(0, at) + deep + doc.substr(at + 1);
    return deep.substr(0, middle) + doc + deep.substr(middle + std::strlen(kind.inner));
}

int count_intensity() {
    int n = 0;
    IntensityCal* c = nullptr;
    while (ICalControl(c, ICAL_GET_NEXT, 0, 0, &c) == CAL_OK && c != nullptr) ++n;
    return n;
}

int count_spatial() {
    int n = 0;
    SpatialCal* c = nullptr;
    while (SCalControl(c, SCAL_GET_NEXT, 0, 0, &c) == CAL_OK && c != nullptr) ++n;
    return n;
}

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// A refusal is one line, "document: " and then the field at fault (a
// member of the family's document, indexed where it is an array), the
// position of malformed text, the root's own type, or, only when the
// allocator refused, the lack of memory.
bool names_the_cause(std::string_view msg, bool spatial, bool refused) {
    static const char* const kIntensity[] = {"format", "version", "name", "units", "type", "range_min",
                                             "range_max", "table_size", "points", "fit_type", "options",
                                             "black_level", "incident_level", "attribute", "table"};
    static const char* const kSpatial[] = {"format",   "version",  "name",     "units",    "x_scale",
                                           "y_scale",  "x_origin", "y_origin", "aux_value"};
    if (msg.find('\n') != std::string_view::npos || !starts_with(msg, "document: ")) return false;
    msg.remove_prefix(std::strlen("document: "));
    if (starts_with(msg, "malformed JSON: ")) return msg.find("column ") != std::string_view::npos;
    if (starts_with(msg, "document: expected an object")) return true;
    if (msg == "out of memory") return refused;
    // The one refusal that concerns several fields names them.
    if (!spatial && starts_with(msg, "the table cannot be built"))
        return msg.find("fit_type") != std::string_view::npos;
    auto names = [&msg](const char* const* fields, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const size_t len = std::strlen(fields[i]);
            if (starts_with(msg, fields[i]) && msg.size() > len && (msg[len] == ':' || msg[len] == '['))
                return true;
        }
        return false;
    };
    return spatial ? names(kSpatial, std::size(kSpatial)) : names(kIntensity, std::size(kIntensity));
}

void add_bytes(std::vector<unsigned char>& out, const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    out.insert(out.end(), b, b + n);
}

std::vector<unsigned char> spatial_state(SpatialCal* cal) {
    std::vector<unsigned char> s;
    char text[128];
    for (uint32_t code : {SCAL_GET_NAME, SCAL_GET_UNITS}) {
        std::memset(text, 0, sizeof text);
        CHECK(SCalControl(cal, code, 0, 0, text) == CAL_OK);
        add_bytes(s, text, sizeof text);
    }
    for (uint32_t code : {SCAL_GET_SCALE, SCAL_GET_PIXEL_SIZE, SCAL_GET_ORIGIN})
        for (int32_t axis : {0, 1}) {
            double v = 0;
            CHECK(SCalControl(cal, code, axis, 0, &v) == CAL_OK);
            add_bytes(s, &v, sizeof v);
        }
    for (uint32_t code : {SCAL_GET_AUX_VALUE, SCAL_GET_PIXEL_AREA}) {
        double v = 0;
        CHECK(SCalControl(cal, code, 0, 0, &v) == CAL_OK);
        add_bytes(s, &v, sizeof v);
    }
    return s;
}

// The calls of one family, so that both run the same checks.
struct Intensity {
    using Cal = IntensityCal;
    static Cal* load(const char* doc, char* err) { return CalIntensityFromJson(doc, err, kErrSize); }
    static char* save(Cal* cal, char* err) { return CalIntensityToJson(cal, err, kErrSize); }
    static std::vector<unsigned char> state(Cal* cal) { return fuzz::intensity_bytes(cal); }
    static int count() { return count_intensity(); }
    static void destroy(Cal* cal) { CHECK(ICalDestroy(cal) == CAL_OK); }
};

struct Spatial {
    using Cal = SpatialCal;
    static Cal* load(const char* doc, char* err) { return CalSpatialFromJson(doc, err, kErrSize); }
    static char* save(Cal* cal, char* err) { return CalSpatialToJson(cal, err, kErrSize); }
    static std::vector<unsigned char> state(Cal* cal) { return spatial_state(cal); }
    static int count() { return count_spatial(); }
    static void destroy(Cal* cal) { CHECK(SCalDestroy(cal) == CAL_OK); }
};

void report(const char* what, const char* err) { std::fprintf(stderr, "%s: %s\n", what, err); }

template <class Family>
void run(const std::string& doc, FailingAllocator& alloc, bool spatial) {
    char err[kErrSize];
    const int before = Family::count();
    std::memset(err, 'x', sizeof err);
    typename Family::Cal* cal = Family::load(doc.c_str(), err);
    const bool refused = alloc.refused() != 0;
    alloc.stop_failing();
    if (cal == nullptr) {
        if (!names_the_cause(err, spatial, refused)) report("refusal names no cause", err);
        CHECK(names_the_cause(err, spatial, refused));
        CHECK(Family::count() == before);
        CHECK(alloc.live() == 0);
        return;
    }
    CHECK(err[0] == '\0');
    CHECK(Family::count() == before + 1);

    char* saved = Family::save(cal, err);
    if (saved == nullptr) report("an accepted document cannot be saved again", err);
    CHECK(saved != nullptr);
    typename Family::Cal* again = Family::load(saved, err);
    if (again == nullptr) report("a saved document does not load", err);
    CHECK(again != nullptr);
    CHECK(Family::state(cal) == Family::state(again));
    char* resaved = Family::save(again, err);
    CHECK(resaved != nullptr);
    CHECK(std::strcmp(saved, resaved) == 0);
    CalFreeJson(saved);
    CalFreeJson(resaved);
    Family::destroy(again);
    Family::destroy(cal);
    CHECK(Family::count() == before);
    CHECK(alloc.live() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t mode = in.u8();
    const uint8_t refusal = in.u8();
    const bool spatial = (mode & 1) != 0, nested = (mode & 2) != 0;
    const uint8_t depth_byte = nested ? in.u8() : 0;
    const uint32_t depth = depth_byte == 255 ? 100000 : 1u << (depth_byte % 12);
    const size_t header = nested ? 3 : 2;
    std::string doc = size > header ? std::string(reinterpret_cast<const char*>(data) + header, size - header)
                                    : std::string();
    doc = doc.c_str();  // the document ends at its first zero byte
    if (nested) doc = nest(doc, kNestings[(mode >> 2) & 3], depth);

    FailingAllocator alloc;
    if (refusal != 0)
        alloc.fail((refusal & 0x80) != 0 ? FailingAllocator::Mode::FromK : FailingAllocator::Mode::Once,
                   (refusal & 0x7F) + 1u);
    if (spatial) {
        run<Spatial>(doc, alloc, true);
    } else {
        run<Intensity>(doc, alloc, false);
    }
    return 0;
}
