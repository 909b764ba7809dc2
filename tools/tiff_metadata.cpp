// Tag copying. Every tag is copied only when the source page has it, so
// that the output says no more than the input did.
#include "tiff_metadata.h"

#include <cstdint>

namespace tool {
namespace {

constexpr ttag_t kModelPixelScale = 33550, kModelTiepoint = 33922, kModelTransformation = 34264;
constexpr ttag_t kGeoKeyDirectory = 34735, kGeoDoubleParams = 34736, kGeoAsciiParams = 34737;

// Arrays of any length (counts passed as uint32), as the GeoTIFF format
// defines them; the ASCII parameters are one string.
TIFFFieldInfo geo_fields[] = {
    {kModelPixelScale, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScaleTag")},
    {kModelTiepoint, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepointTag")},
    {kModelTransformation, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTransformationTag")},
    {kGeoKeyDirectory, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectoryTag")},
    {kGeoDoubleParams, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoDoubleParamsTag")},
    {kGeoAsciiParams, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GeoASCIIParamsTag")},
};

TIFFExtendProc g_parent = nullptr;

void extend(TIFF* tif) {
    TIFFMergeFieldInfo(tif, geo_fields, sizeof geo_fields / sizeof geo_fields[0]);
    if (g_parent != nullptr) g_parent(tif);
}

void copy_array(TIFF* in, TIFF* out, ttag_t tag) {
    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(in, tag, &count, &data) && data != nullptr && count > 0) TIFFSetField(out, tag, count, data);
}

void copy_string(TIFF* in, TIFF* out, ttag_t tag) {
    const char* text = nullptr;
    if (TIFFGetField(in, tag, &text) && text != nullptr) TIFFSetField(out, tag, text);
}

template <class T>
void copy_value(TIFF* in, TIFF* out, ttag_t tag) {
    T v{};
    if (TIFFGetField(in, tag, &v)) TIFFSetField(out, tag, v);
}

}  // namespace

void register_geotiff_tags() {
    static const bool done = [] {
        g_parent = TIFFSetTagExtender(extend);
        return true;
    }();
    (void)done;
}

void copy_page_metadata(TIFF* in, TIFF* out, const std::string& software, const std::string& description) {
    copy_value<float>(in, out, TIFFTAG_XRESOLUTION);
    copy_value<float>(in, out, TIFFTAG_YRESOLUTION);
    copy_value<uint16_t>(in, out, TIFFTAG_RESOLUTIONUNIT);
    copy_value<uint16_t>(in, out, TIFFTAG_ORIENTATION);
    copy_value<uint32_t>(in, out, TIFFTAG_SUBFILETYPE);
    uint16_t page = 0, pages = 0;
    if (TIFFGetField(in, TIFFTAG_PAGENUMBER, &page, &pages)) TIFFSetField(out, TIFFTAG_PAGENUMBER, page, pages);
    for (ttag_t tag : {kModelPixelScale, kModelTiepoint, kModelTransformation, kGeoKeyDirectory, kGeoDoubleParams})
        copy_array(in, out, tag);
    copy_string(in, out, kGeoAsciiParams);
    for (ttag_t tag : {TIFFTAG_DATETIME, TIFFTAG_ARTIST, TIFFTAG_COPYRIGHT, TIFFTAG_PAGENAME, TIFFTAG_DOCUMENTNAME,
                       TIFFTAG_MAKE, TIFFTAG_MODEL, TIFFTAG_HOSTCOMPUTER})
        copy_string(in, out, tag);
    const char* text = nullptr;
    if (TIFFGetField(in, TIFFTAG_IMAGEDESCRIPTION, &text) && text != nullptr) TIFFSetField(out, TIFFTAG_IMAGEDESCRIPTION, text);
    else if (!description.empty()) TIFFSetField(out, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    TIFFSetField(out, TIFFTAG_SOFTWARE, software.c_str());
}

}  // namespace tool
