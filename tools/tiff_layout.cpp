// Page layout checks. The photometric interpretation is examined before
// the sample format, because encodings such as LogLuv declare sample
// formats that would otherwise name the wrong thing.
#include "tiff_layout.h"

#include "calmgr.h"
#include "tool_error.h"

namespace tool {
namespace {

[[noreturn]] void refuse(const std::string& what) { fail(what + " are not supported"); }

std::string bits_text(uint16_t bits) { return std::to_string(bits) + "-bit"; }

}  // namespace

std::string compression_name(uint16_t c) {
    switch (c) {
        case COMPRESSION_NONE: return "none";
        case COMPRESSION_CCITTRLE: return "CCITT RLE";
        case COMPRESSION_CCITTFAX3: return "CCITT fax group 3";
        case COMPRESSION_CCITTFAX4: return "CCITT fax group 4";
        case COMPRESSION_LZW: return "LZW";
        case COMPRESSION_OJPEG: return "old-style JPEG";
        case COMPRESSION_JPEG: return "JPEG";
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return "deflate";
        case COMPRESSION_PACKBITS: return "PackBits";
        case COMPRESSION_SGILOG:
        case COMPRESSION_SGILOG24: return "SGI LogLuv";
        case COMPRESSION_LZMA: return "LZMA";
        case COMPRESSION_ZSTD: return "zstd";
        case COMPRESSION_WEBP: return "WebP";
        case COMPRESSION_JXL: return "JPEG XL";
        default: return "compression " + std::to_string(c);
    }
}

std::string photometric_name(uint16_t p) {
    switch (p) {
        case PHOTOMETRIC_MINISWHITE: return "min-is-white";
        case PHOTOMETRIC_MINISBLACK: return "min-is-black";
        case PHOTOMETRIC_RGB: return "RGB";
        case PHOTOMETRIC_PALETTE: return "palette";
        case PHOTOMETRIC_MASK: return "transparency mask";
        case PHOTOMETRIC_SEPARATED: return "separated (CMYK)";
        case PHOTOMETRIC_YCBCR: return "YCbCr";
        case PHOTOMETRIC_CIELAB: return "CIELab";
        case PHOTOMETRIC_ICCLAB: return "ICC Lab";
        case PHOTOMETRIC_ITULAB: return "ITU Lab";
        case PHOTOMETRIC_CFA: return "colour filter array";
        case PHOTOMETRIC_LOGL: return "LogL";
        case PHOTOMETRIC_LOGLUV: return "LogLuv";
        default: return "photometric " + std::to_string(p);
    }
}

std::string extra_sample_name(uint16_t meaning) {
    switch (meaning) {
        case EXTRASAMPLE_ASSOCALPHA: return "associated alpha";
        case EXTRASAMPLE_UNASSALPHA: return "unassociated alpha";
        default: return "unspecified";
    }
}

std::string describe_sample_format(TIFF* tif) {
    uint16_t bits = 1, format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    switch (format) {
        case SAMPLEFORMAT_UINT: return bits == 1 ? "bilevel" : bits_text(bits) + " unsigned integer";
        case SAMPLEFORMAT_INT: return bits_text(bits) + " signed integer";
        case SAMPLEFORMAT_IEEEFP: return bits_text(bits) + " float";
        case SAMPLEFORMAT_COMPLEXINT: return bits_text(bits) + " complex integer";
        case SAMPLEFORMAT_COMPLEXIEEEFP: return bits_text(bits) + " complex float";
        default: return bits_text(bits) + " untyped";
    }
}

uint32_t PageLayout::colour_type() const {
    if (is_float) return bits == 32 ? ICAL_SAMPLE_F32 : ICAL_SAMPLE_F64;
    if (bits == 1) return ICAL_SAMPLE_BITS;
    if (bits == 8) return colour == 3 ? ICAL_SAMPLE_U8_RGB : ICAL_SAMPLE_U8;
    return colour == 3 ? ICAL_SAMPLE_U16_RGB : ICAL_SAMPLE_U16;
}

std::string PageLayout::describe() const {
    std::string s;
    if (jpeg_rgb) s = "JPEG YCbCr read as 8-bit RGB";
    else if (bits == 1) s = "bilevel";
    else s = bits_text(bits) + (is_float ? " float " : " ") + (colour == 3 ? "RGB" : "grey");
    for (uint16_t e : extras)
        s += e == EXTRASAMPLE_UNSPECIFIED ? " + extra sample" : std::string(" + ") + extra_sample_name(e);
    if (photometric == PHOTOMETRIC_MINISWHITE) s += " (min-is-white)";
    return s;
}

PageLayout prepare_page(TIFF* tif, uint64_t max_buffer) {
    PageLayout p;
    uint16_t format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &p.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric))
        p.photometric = p.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

    if (p.width == 0 || p.height == 0)
        fail("the image is empty (" + std::to_string(p.width) + " x " + std::to_string(p.height) + " pixels)");
    switch (p.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE: p.colour = 1; break;
        case PHOTOMETRIC_RGB: p.colour = 3; break;
        case PHOTOMETRIC_YCBCR:
            if (p.compression != COMPRESSION_JPEG) refuse("YCbCr images other than JPEG-compressed ones");
            p.colour = 3;
            break;
        case PHOTOMETRIC_LOGL:
        case PHOTOMETRIC_LOGLUV: refuse("LogLuv-encoded images");
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB: refuse("CIELab images");
        case PHOTOMETRIC_PALETTE: refuse("palette-colour images");
        case PHOTOMETRIC_SEPARATED: refuse("separated (CMYK) images");
        default: refuse(photometric_name(p.photometric) + " images");
    }
    if (p.compression == COMPRESSION_SGILOG || p.compression == COMPRESSION_SGILOG24) refuse("LogLuv-encoded images");

    const std::string kind = bits_text(p.bits);
    switch (format) {
        case SAMPLEFORMAT_UINT:
            if (p.bits == 32) refuse("32-bit unsigned integer samples");
            if (p.bits != 1 && p.bits != 8 && p.bits != 16) refuse(kind + " integer samples");
            break;
        case SAMPLEFORMAT_INT: refuse("signed " + kind + " integer samples");
        case SAMPLEFORMAT_IEEEFP:
            if (p.bits != 32 && p.bits != 64) refuse(kind + " floating-point samples");
            p.is_float = true;
            break;
        case SAMPLEFORMAT_COMPLEXINT: refuse("complex integer samples");
        case SAMPLEFORMAT_COMPLEXIEEEFP: refuse("complex floating-point samples");
        default: refuse("untyped (sample format " + std::to_string(format) + ") samples");
    }

    if (p.samples < p.colour)
        fail(photometric_name(p.photometric) + " image with " + std::to_string(p.samples) + " sample" +
             (p.samples == 1 ? "" : "s") + " per pixel: not a valid layout");
    const uint16_t n_extra = static_cast<uint16_t>(p.samples - p.colour);
    if (n_extra > 0) {
        uint16_t count = 0;
        uint16_t* meanings = nullptr;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &meanings) && meanings != nullptr)
            for (uint16_t i = 0; i < count && i < n_extra; ++i) p.extras.push_back(meanings[i]);
        p.extras.resize(n_extra, EXTRASAMPLE_UNSPECIFIED);
    }
    if (p.bits == 1 && p.samples != 1) refuse("bilevel images with more than one sample per pixel");
    if (p.samples > 1 && planar != PLANARCONFIG_CONTIG) refuse("images stored in separate sample planes");

    if (p.photometric == PHOTOMETRIC_YCBCR) {
        if (p.bits != 8 || p.is_float || n_extra != 0) refuse("JPEG YCbCr images other than 8-bit RGB");
        if (!TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
            fail("libtiff cannot decode this JPEG YCbCr image to RGB");
        p.jpeg_rgb = true;
    }

    const uint64_t row = TIFFScanlineSize64(tif);
    if (row == 0 || row > max_buffer) fail("rows of " + std::to_string(row) + " bytes are not supported");
    p.row_bytes = static_cast<size_t>(row);
    if (uint64_t{p.width} * p.samples * p.bits > row * 8) fail("the row size does not match the image width");
    p.tiled = TIFFIsTiled(tif) != 0;
    if (p.tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &p.tile_width);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &p.tile_height);
        const uint64_t tile = TIFFTileSize64(tif);
        if (p.tile_width == 0 || p.tile_height == 0 || tile == 0 || tile > max_buffer ||
            uint64_t{p.tile_height} * row > max_buffer)
            fail("tiles of " + std::to_string(p.tile_width) + " x " + std::to_string(p.tile_height) +
                 " pixels are not supported");
        if (p.bits == 1 && p.tile_width % 8 != 0)
            refuse("bilevel tiles " + std::to_string(p.tile_width) + " pixels wide (not a multiple of 8)");
    }
    return p;
}

}  // namespace tool
