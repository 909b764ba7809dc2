// `calmgr info IMAGE.tif`: what the tool sees in a TIFF file, page by
// page: size, samples and their format, storage, resolution, whether
// `apply` can convert the page (or why not), and any calibration found:
// the resolution as a pixel size, georeferencing, and the description of
// an image that calmgr itself calibrated.
#include "commands.h"
#include "console.h"
#include "output_guard.h"
#include "parse.h"
#include "tiff_layout.h"
#include "tiff_messages.h"
#include "tiff_metadata.h"
#include "tiff_handle.h"

#include <memory>

namespace tool {
namespace {

struct InfoCommand {
    std::string file;
    bool json = false;
};

std::string get_string(TIFF* t, ttag_t tag) {
    const char* text = nullptr;
    return TIFFGetField(t, tag, &text) && text != nullptr ? std::string(text) : std::string();
}

nlohmann::json page_json(TIFF* t, size_t index) {
    uint32_t width = 0, height = 0;
    uint16_t spp = 1, bits = 1, photometric = 0, compression = COMPRESSION_NONE;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    const bool has_photometric = TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) != 0;
    nlohmann::json page = {{"page", index + 1},
                           {"width", width},
                           {"height", height},
                           {"samples_per_pixel", spp},
                           {"bits_per_sample", bits},
                           {"sample_format", describe_sample_format(t)},
                           {"photometric", has_photometric ? photometric_name(photometric) : "missing"},
                           {"compression", compression_name(compression)}};
    uint16_t n_extra = 0;
    uint16_t* extras = nullptr;
    page["extra_samples"] = nlohmann::json::array();
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &n_extra, &extras) && extras != nullptr)
        for (uint16_t i = 0; i < n_extra; ++i) page["extra_samples"].push_back(extra_sample_name(extras[i]));
    if (TIFFIsTiled(t)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        page["storage"] = {{"tiles", {tw, th}}};
    } else {
        uint32_t rows = 0;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows);
        page["storage"] = {{"rows_per_strip", std::min(rows, height)}};
    }
    try {
        const PageLayout layout = prepare_page(t);
        page["convertible"] = true;
        page["reads_as"] = layout.describe();
    } catch (const ToolError& e) {
        page["convertible"] = false;
        page["refusal"] = e.what();
    }

    nlohmann::json cal = nlohmann::json::object();
    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres) && xres > 0 && yres > 0) {
        page["resolution"] = {{"x", json_number(xres)}, {"y", json_number(yres)},
                              {"unit", unit == RESUNIT_INCH ? "inch" : unit == RESUNIT_CENTIMETER ? "cm" : "none"}};
        if (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)
            cal["spatial"] = {{"pixel_width", json_number(1.0 / xres)}, {"pixel_height", json_number(1.0 / yres)},
                              {"units", unit == RESUNIT_INCH ? "inch" : "cm"}};
    }
    uint32_t count = 0;
    double* scale = nullptr;
    if (TIFFGetField(t, 33550, &count, &scale) && scale != nullptr && count >= 2)
        cal["georeferenced"] = {{"pixel_scale", {json_number(scale[0]), json_number(scale[1])}}};
    else if (void* keys = nullptr; TIFFGetField(t, 34735, &count, &keys)) cal["georeferenced"] = nlohmann::json::object();
    const std::string software = get_string(t, TIFFTAG_SOFTWARE);
    if (software.rfind("calmgr ", 0) == 0)
        cal["intensity"] = {{"software", software}, {"description", get_string(t, TIFFTAG_IMAGEDESCRIPTION)}};
    page["calibration"] = cal;
    return page;
}

std::string page_text(const nlohmann::json& p) {
    std::string s = "page " + std::to_string(p["page"].get<size_t>()) + ": " + std::to_string(p["width"].get<uint32_t>()) +
                    " x " + std::to_string(p["height"].get<uint32_t>()) + ", " +
                    std::to_string(p["samples_per_pixel"].get<int>()) + " x " + p["sample_format"].get<std::string>() +
                    ", " + p["photometric"].get<std::string>() + ", compression " + p["compression"].get<std::string>();
    if (p["storage"].contains("tiles"))
        s += ", tiles " + std::to_string(p["storage"]["tiles"][0].get<uint32_t>()) + " x " +
             std::to_string(p["storage"]["tiles"][1].get<uint32_t>());
    for (const auto& e : p["extra_samples"]) s += ", extra sample: " + e.get<std::string>();
    s += "\n  apply: " + (p["convertible"].get<bool>() ? "reads it as " + p["reads_as"].get<std::string>()
                                                        : "refuses it: " + p["refusal"].get<std::string>());
    const auto& cal = p["calibration"];
    if (cal.contains("spatial"))
        s += "\n  pixel size: " + fmt(cal["spatial"]["pixel_width"].get<double>()) + " x " +
             fmt(cal["spatial"]["pixel_height"].get<double>()) + " " + cal["spatial"]["units"].get<std::string>();
    if (cal.contains("georeferenced")) s += "\n  georeferenced (GeoTIFF tags)";
    if (cal.contains("intensity"))
        s += "\n  calibrated by " + cal["intensity"]["software"].get<std::string>() + ": " +
             cal["intensity"]["description"].get<std::string>();
    return s + "\n";
}

void run_info(const InfoCommand& c) {
    check_input_path(c.file);
    register_geotiff_tags();
    TiffPtr tif = open_tiff_file(c.file);
    nlohmann::json pages = nlohmann::json::array();
    do {
        tiffmsg::raise_if_damaged(c.file);
        pages.push_back(page_json(tif.get(), pages.size()));
    } while (pages.size() < 65535 && TIFFReadDirectory(tif.get()));
    tiffmsg::raise_if_damaged(c.file);
    std::FILE* out = human_out(c.json);
    std::fprintf(out, "%s: %zu page%s\n", c.file.c_str(), pages.size(), pages.size() == 1 ? "" : "s");
    for (const auto& p : pages) std::fputs(page_text(p).c_str(), out);
    for (const auto& note : tiffmsg::take_notes()) warn(c.file + ": " + note);
    if (c.json) print_json({{"file", c.file}, {"pages", pages}});
}

}  // namespace

void add_info_command(CLI::App& app) {
    auto c = std::make_shared<InfoCommand>();
    auto* cmd = app.add_subcommand("info", "Describe a TIFF image: pages, sizes, sample formats and any calibration found");
    cmd->add_option("image", c->file, "TIFF image")->required();
    cmd->add_flag("--json", c->json, "Print one JSON document (the text goes to standard error)");
    cmd->callback([c] { run_info(*c); });
}

}  // namespace tool
