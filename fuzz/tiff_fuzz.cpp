// Fuzzes the tool's TIFF input path with arbitrary bytes as a TIFF file:
// libtiff reads them from memory, and the tool's own reader, converter and
// writer run on them exactly as `calmgr apply` does on a file, writing the
// output into memory. Invariants: a refusal is one line (and, under the
// sanitizers, leaks nothing); an accepted image gives exactly width ×
// height × samples output values on every page, and its output reads back
// as float pages of the same sizes; no size computation overflows.
#include "calmgr.h"
#include "fuzz_input.h"
#include "tiff_convert.h"
#include "tiff_messages.h"
#include "tiff_metadata.h"
#include "tool_error.h"

#include <string>

namespace {

// Bounds that keep one input fast and small: rows and tile bands, libtiff's
// single allocations, and the output values of a whole image.
constexpr uint64_t kMaxBuffer = uint64_t{1} << 22;
constexpr size_t kMaxAlloc = size_t{64} << 20;
constexpr uint64_t kMaxValues = uint64_t{1} << 20;

const IntensityCal* calibration() {
    static IntensityCal* cal = [] {
        IntensityCal* c = ICalCreate();
        const CalPoint pts[3] = {{0, 0.5}, {300, 20}, {65535, 90}};
        const double max = 65535;
        ICalControl(c, ICAL_SET_RANGE_MAX, 0, 1, const_cast<double*>(&max));
        ICalControl(c, ICAL_SET_TABLE_SIZE, 4096, 1, nullptr);
        ICalControl(c, ICAL_SET_POINTS, 3, 0, const_cast<CalPoint*>(pts));
        return c;
    }();
    return cal;
}

void check_one_line(const std::string& message) {
    CHECK(!message.empty());
    CHECK(message.find('\n') == std::string::npos);
}

void convert(const uint8_t* data, size_t size) {
    using namespace tool;
    // The last byte (inside the pixel data of most inputs) picks options.
    const uint8_t opt = size > 0 ? data[size - 1] : 0;
    ConvertOptions options;
    options.double_output = (opt & 1) != 0;
    options.invert = (opt & 2) != 0;
    options.policy = (opt >> 2) & 3;
    OutputFormat format;
    format.double_output = options.double_output;
    format.bigtiff = BigTiff::No;
    const Compression compressions[] = {Compression::None, Compression::Lzw, Compression::Deflate, Compression::Deflate};
    format.compression = compressions[(opt >> 4) & 3];

    TiffReader reader(open_tiff_memory(data, size, "fuzz.tif", kMaxAlloc), "fuzz.tif", kMaxBuffer);
    uint64_t values = 0;
    for (const PageLayout& p : reader.pages()) {
        uint64_t page_values = 0;
        CHECK(!__builtin_mul_overflow(p.pixels(), uint64_t{p.samples}, &page_values));
        CHECK(p.row_bytes > 0 && p.row_bytes <= kMaxBuffer);
        if (page_values > kMaxValues - values) return;  // too large to convert here
        values += page_values;
    }
    TiffSink sink;
    TiffWriter writer(sink, "out.tif", false, format);
    const ConvertReport report = convert_tiff(reader, writer, calibration(), options, "calmgr fuzz", "fuzzed image");
    CHECK(report.values.size() == reader.pages().size());
    uint64_t colour = 0;
    for (size_t i = 0; i < reader.pages().size(); ++i) {
        const PageLayout& p = reader.pages()[i];
        CHECK(report.values[i] == p.pixels() * p.samples);
        colour += p.pixels() * p.colour;
    }
    CHECK(report.colour_values == colour);

    const std::vector<uint8_t> out = sink.bytes();
    TiffReader back(open_tiff_memory(out.data(), out.size(), "out.tif"), "out.tif");
    CHECK(back.pages().size() == reader.pages().size());
    for (size_t i = 0; i < back.pages().size(); ++i) {
        const PageLayout &a = reader.pages()[i], &b = back.pages()[i];
        CHECK(b.width == a.width && b.height == a.height && b.samples == a.samples && b.colour == a.colour);
        CHECK(b.is_float && b.bits == (options.double_output ? 64 : 32));
        CHECK(b.extras == a.extras);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tool::tiffmsg::install();
    tool::register_geotiff_tags();
    try {
        convert(data, size);
    } catch (const tool::ToolError& e) {
        check_one_line(e.what());
    }
    tool::tiffmsg::clear();
    tool::tiffmsg::take_notes();
    return 0;
}
