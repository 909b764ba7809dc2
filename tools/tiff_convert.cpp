// The page loop. The layout of every page was checked when the reader
// opened, so nothing is refused for its format once writing has begun.
#include "tiff_convert.h"

#include "tiff_layout.h"
#include "tool_error.h"

#include <algorithm>

namespace tool {

ConvertReport convert_tiff(TiffReader& reader, TiffWriter& writer, const IntensityCal* cal,
                           const ConvertOptions& options, const std::string& software,
                           const std::string& description, const RowProgress& progress) {
    ConvertReport report;
    uint64_t total = 0, done = 0;
    for (const auto& p : reader.pages()) total += p.pixels();
    for (size_t index = 0; index < reader.pages().size(); ++index) {
        const PageLayout& page = reader.pages()[index];
        reader.select(index);
        RowConverter converter(cal, page, options);
        const std::string note = writer.begin_page(page, reader.handle(), software, description);
        if (!note.empty()) report.notes.push_back(reader.where() + ": " + note);
        if (std::find(page.extras.begin(), page.extras.end(), EXTRASAMPLE_ASSOCALPHA) != page.extras.end())
            report.notes.push_back(reader.where() +
                                   ": the colour samples are premultiplied by alpha; they are calibrated as stored");
        std::vector<uint8_t> out(converter.bytes_per_row());
        for (uint32_t y = 0; y < page.height; ++y) {
            converter.convert(reader.next_row(), out.data());
            writer.write_row(out.data());
            done += page.width;
            if (progress) progress(done, total);
        }
        writer.end_page();
        report.values.push_back(uint64_t{converter.values_per_row()} * page.height);
        report.colour_values += converter.colour_values();
        report.stats.below += converter.stats().below;
        report.stats.above += converter.stats().above;
        report.stats.nan += converter.stats().nan;
    }
    writer.finish();
    return report;
}

}  // namespace tool
