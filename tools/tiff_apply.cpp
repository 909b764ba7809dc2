// One file through the conversion, from path to path.
#include "tiff_apply.h"

#include "output_file.h"
#include "tiff_messages.h"
#include "tiff_metadata.h"

namespace tool {

ApplyResult apply_file(const IntensityCal* cal, const std::string& input, const std::string& target,
                       const std::string& output, const ApplySettings& settings, const RowProgress& progress) {
    register_geotiff_tags();
    TiffReader reader(open_tiff_file(input), input);
    ApplyResult result;
    result.pages = reader.pages();
    OutputFile file(target);
    TiffSink sink(file.fd());
    TiffWriter writer(sink, output, use_bigtiff(settings.format, result.pages), settings.format);
    result.report = convert_tiff(reader, writer, cal, settings.convert, settings.software, settings.description, progress);
    file.commit();
    for (auto& note : tiffmsg::take_notes()) result.report.notes.push_back(input + ": " + note);
    return result;
}

}  // namespace tool
