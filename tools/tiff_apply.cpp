// The apply loop: one input row at a time through ICalLookupEx into an
// uncompressed floating-point TIFF written beside the target and renamed
// over it at the end, so that a failure leaves no partial image.
#include "tiff_apply.h"

#include "output_file.h"
#include "progress.h"
#include "tiff_input.h"
#include "tool_common.h"

#include <vector>

namespace tool {
namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

}  // namespace

ApplyResult apply_to_tiff(const IntensityCal* cal, const std::string& input, const std::string& output,
                          bool double_output) {
    quiet_libtiff();
    TiffInput in(input);
    OutputFile out_file(output);
    const uint32_t w = in.width(), h = in.height(), spp = in.samples_per_pixel();
    const size_t out_bytes = double_output ? 8 : 4;
    const uint64_t image_bytes = uint64_t{w} * h * spp * out_bytes;
    // Classic TIFF addresses 4 GiB; larger results are written as BigTIFF.
    const char* mode = image_bytes > (uint64_t{4000} << 20) ? "w8" : "w";
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(out_file.temp_path().c_str(), mode));
    if (!tif) fail("cannot write " + output + ": " + last_tiff_error());
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(spp));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(out_bytes * 8));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    TIFFSetField(t, TIFFTAG_SOFTWARE, "calmgr apply");
    in.copy_resolution(t);

    std::vector<unsigned char> row(size_t{w} * spp * out_bytes);
    const uint32_t type = in.sample_type() | (double_output ? 0u : ICAL_LOOKUP_FLOAT);
    Progress bar("applying", h, uint64_t{w} * h);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* samples = in.next_row();
        const int32_t st = ICalLookupEx(cal, type, samples, w, row.data());
        if (st != CAL_OK) fail("lookup failed on row " + std::to_string(y) + " (status " + std::to_string(st) + ")");
        if (TIFFWriteScanline(t, row.data(), y, 0) < 0)
            fail("cannot write " + output + ": " + last_tiff_error());
        bar.update(y + 1);
    }
    bar.finish();
    if (!TIFFFlush(t)) fail("cannot write " + output + ": " + last_tiff_error());
    tif.reset();
    out_file.commit();
    return {w, h, spp, in.describe()};
}

}  // namespace tool
