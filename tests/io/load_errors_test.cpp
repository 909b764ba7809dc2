// Documents that must be refused: each fault gives a message naming the
// field, and nothing is created or registered. Saving refuses values the
// format cannot keep and never leaves a file behind.
#include "io_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

using namespace iotest;
using nlohmann::json;

namespace {

json valid_intensity() {
    IntensityCal* cal = ICalCreate();
    char* text = CalIntensityToJson(cal, nullptr, 0);
    json doc = json::parse(text);
    CalFreeJson(text);
    ICalDestroy(cal);
    return doc;
}

json valid_table() {
    json doc = valid_intensity();
    doc["type"] = 2;
    doc["table_size"] = 3;
    doc["table"] = {0.5, "NaN", 2.5};
    return doc;
}

json valid_spatial() {
    SpatialCal* cal = SCalCreate();
    char* text = CalSpatialToJson(cal, nullptr, 0);
    json doc = json::parse(text);
    CalFreeJson(text);
    SCalDestroy(cal);
    return doc;
}

// Loads text expecting a refusal whose message contains `needle`.
void expect_refused(const std::string& text, const std::string& needle, bool spatial = false) {
    const int before_i = count_intensity(), before_s = count_spatial();
    char err[512] = "untouched";
    const void* made = spatial ? static_cast<const void*>(CalSpatialFromJson(text.c_str(), err, sizeof err))
                               : static_cast<const void*>(CalIntensityFromJson(text.c_str(), err, sizeof err));
    EXPECT_EQ(made, nullptr) << text;
    EXPECT_NE(std::string(err).find(needle), std::string::npos) << "message: " << err;
    EXPECT_EQ(std::string(err).find('\n'), std::string::npos) << "one line: " << err;
    EXPECT_EQ(count_intensity(), before_i);
    EXPECT_EQ(count_spatial(), before_s);
}

}  // namespace

TEST(LoadErrors, ValidDocumentsLoad) {
    for (const json& doc : {valid_intensity(), valid_table()}) {
        char err[256];
        IntensityCal* cal = CalIntensityFromJson(doc.dump().c_str(), err, sizeof err);
        ASSERT_NE(cal, nullptr) << err;
        ICalDestroy(cal);
    }
}

TEST(LoadErrors, EveryMissingFieldIsNamed) {
    for (const json& base : {valid_intensity(), valid_table()})
        for (const auto& item : base.items()) {
            json doc = base;
            doc.erase(item.key());
            expect_refused(doc.dump(), item.key() + ": missing");
        }
    const json spatial = valid_spatial();
    for (const auto& item : spatial.items()) {
        json doc = spatial;
        doc.erase(item.key());
        expect_refused(doc.dump(), item.key() + ": missing", true);
    }
}

TEST(LoadErrors, EveryMistypedFieldIsNamed) {
    const json table = valid_table();
    for (const auto& item : table.items()) {
        json doc = table;
        doc[item.key()] = item.value().is_string() ? json(42) : json("text");
        expect_refused(doc.dump(), item.key() + ": expected");
    }
    const json spatial = valid_spatial();
    for (const auto& item : spatial.items()) {
        json doc = spatial;
        doc[item.key()] = item.value().is_string() ? json(42) : json::array();
        expect_refused(doc.dump(), item.key() + ": expected", true);
    }
    json doc = valid_intensity();
    doc["points"][1] = {1.0};
    expect_refused(doc.dump(), "points[1]: expected an [input, calibrated] pair");
    doc = valid_intensity();
    doc["points"][1][1] = "12";
    expect_refused(doc.dump(), "points[1][1]: expected a number, found string");
    doc = valid_intensity();
    doc["type"] = 1.5;
    expect_refused(doc.dump(), "type: expected an integer, found a fractional number");
}

TEST(LoadErrors, NonFiniteWhereNotAllowed) {
    // A literal beyond the double range is refused by the parser itself.
    std::string text = valid_intensity().dump();
    const auto pos = text.find("\"range_max\":255.0");
    ASSERT_NE(pos, std::string::npos) << text;
    text.replace(pos, 17, "\"range_max\":1e400");
    expect_refused(text, "malformed JSON: number overflow parsing '1e400' at line 1, column " +
                             std::to_string(pos + 17));  // its last digit
    json doc = valid_intensity();
    doc["black_level"] = "NaN";
    expect_refused(doc.dump(), "black_level: expected a number");
    doc = valid_spatial();
    doc["x_origin"] = "Infinity";
    expect_refused(doc.dump(), "x_origin: expected a number", true);
    doc = valid_spatial();
    doc["x_scale"] = "NaN";
    expect_refused(doc.dump(), "x_scale: must not be 0 or NaN", true);
    doc = valid_spatial();
    doc["y_scale"] = -0.0;
    expect_refused(doc.dump(), "y_scale: must not be 0 or NaN", true);
    doc = valid_table();
    doc["table"][2] = "nan";
    expect_refused(doc.dump(), "table[2]: expected a number, \"NaN\"");
}

TEST(LoadErrors, NumberOverflowSaysWhereItIsLikeEverySyntaxError) {
    // Several lines, the number neither first nor last on its own.
    std::string text = valid_intensity().dump(2);
    const auto pos = text.find("\"range_min\": 0.0");
    ASSERT_NE(pos, std::string::npos) << text;
    text.replace(pos, 16, "\"range_min\": -1.5e+380");
    const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n');
    const auto column = pos - text.rfind('\n', pos) + 21;  // the number's last digit
    expect_refused(text, "number overflow parsing '-1.5e+380' at line " + std::to_string(line) + ", column " +
                             std::to_string(column));
}

TEST(LoadErrors, InconsistentOrOutOfRangeSettings) {
    json doc = valid_intensity();
    doc["type"] = 4;
    expect_refused(doc.dump(), "type: 4 is outside 0..3");
    doc = valid_intensity();
    doc["fit_type"] = 15;
    expect_refused(doc.dump(), "fit_type: 15 is not a fit type");
    doc = valid_intensity();
    doc["table_size"] = 1;
    expect_refused(doc.dump(), "table_size: 1 is outside 2..32767");
    doc = valid_intensity();
    doc["points"] = json::array({{0.0, 0.0}});
    expect_refused(doc.dump(), "points: 1 points");
    doc = valid_intensity();
    doc["table"] = {1.0, 2.0};
    expect_refused(doc.dump(), "table: only a type 2 calibration holds a table");
    doc = valid_table();
    doc["table_size"] = 4;
    expect_refused(doc.dump(), "table: 3 entries, table_size says 4");
    doc = valid_intensity();
    doc["type"] = 3;
    expect_refused(doc.dump(), "table_size: 256 is outside 0..0");
    doc = valid_intensity();
    doc["name"] = std::string(128, 'n');
    expect_refused(doc.dump(), "name: longer than 127 bytes");
    doc = valid_intensity();
    doc["units"] = std::string("a\0b", 3);
    expect_refused(doc.dump(), "units: contains a zero byte");
    // Ranges on which every lookup would pass values through.
    doc = valid_intensity();
    doc["range_max"] = 0.0;
    expect_refused(doc.dump(), "range_max: 0.0 is not above range_min 0.0");
    doc = valid_intensity();
    doc["range_min"] = 300.5;
    expect_refused(doc.dump(), "range_max: 255.0 is not above range_min 300.5");
    doc = valid_table();
    doc["range_max"] = -1.0;
    expect_refused(doc.dump(), "range_max: -1.0 is not above range_min 0.0");
    // Optical density whose levels cannot build a table.
    doc = valid_intensity();
    doc["type"] = 1;
    doc["black_level"] = 200.0;
    doc["incident_level"] = 100.0;
    expect_refused(doc.dump(), "the table cannot be built");
}

TEST(LoadErrors, HeaderVersionAndFormat) {
    json doc = valid_intensity();
    doc["version"] = CALIO_FORMAT_VERSION + 1;
    expect_refused(doc.dump(), "version: the file has version 2, written by a later calmgr");
    doc["version"] = 0;
    expect_refused(doc.dump(), "version: 0 is not a version");
    expect_refused(valid_spatial().dump(), "format: expected \"calmgr.intensity\", found \"calmgr.spatial\"");
    expect_refused(valid_intensity().dump(), "format: expected \"calmgr.spatial\"", true);
    expect_refused("[1, 2]", "document: expected an object, found array");
}

TEST(LoadErrors, TruncatedAndMalformedText) {
    const std::string text = valid_table().dump(2);
    for (size_t cut : {size_t{0}, size_t{1}, text.size() / 2, text.size() - 2})
        expect_refused(text.substr(0, cut), "malformed JSON");
    expect_refused("{\"format\": \"calmgr.intensity\",, }", "malformed JSON");
    expect_refused(text + "}", "malformed JSON");
    expect_refused("{\"format\": 'calmgr'}", "malformed JSON");
}

TEST(FileErrors, MissingFileDirectoryAndUnsavableValues) {
    const auto dir = scratch_dir("fileerr");
    char err[512];
    const std::string missing = (dir / "none.json").string();
    EXPECT_EQ(CalLoadIntensity(missing.c_str(), err, sizeof err), nullptr);
    EXPECT_NE(std::string(err).find(missing), std::string::npos) << err;
    EXPECT_NE(std::string(err).find("No such file"), std::string::npos) << err;

    IntensityCal* cal = ICalCreate();
    const std::string nodir = (dir / "sub" / "x.json").string();
    EXPECT_EQ(CalSaveIntensity(cal, nodir.c_str(), err, sizeof err), CALIO_ERR_FILE);
    EXPECT_NE(std::string(err).find("No such file"), std::string::npos) << err;

    // A non-finite range cannot be saved; an existing file stays as it was.
    const std::string keep = (dir / "keep.json").string();
    ASSERT_EQ(CalSaveIntensity(cal, keep.c_str(), err, sizeof err), CAL_OK);
    const auto size_before = std::filesystem::file_size(keep);
    const double inf = std::numeric_limits<double>::infinity();
    ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, const_cast<double*>(&inf));
    EXPECT_EQ(CalSaveIntensity(cal, keep.c_str(), err, sizeof err), CALIO_ERR_VALUE);
    EXPECT_NE(std::string(err).find("range_max: not finite"), std::string::npos) << err;
    EXPECT_EQ(std::filesystem::file_size(keep), size_before);
    EXPECT_EQ(CalSaveIntensity(cal, (dir / "new.json").c_str(), err, sizeof err), CALIO_ERR_VALUE);
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"keep.json"});
    // Nor an inverted or empty one, which could not be loaded again.
    for (double max : {-1.0, 0.0}) {
        ICalControl(cal, ICAL_SET_RANGE_MAX, 0, 1, &max);
        EXPECT_EQ(CalSaveIntensity(cal, keep.c_str(), err, sizeof err), CALIO_ERR_VALUE);
        EXPECT_NE(std::string(err).find("range_max: not above range_min"), std::string::npos) << err;
        EXPECT_EQ(CalIntensityToJson(cal, err, sizeof err), nullptr);
    }
    EXPECT_EQ(std::filesystem::file_size(keep), size_before);
    EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"keep.json"});

    // A truncated file on disk.
    {
        std::ofstream f(dir / "cut.json");
        f << "{\"format\": \"calmgr.intensity\", \"version\": 1, \"na";
    }
    EXPECT_EQ(CalLoadIntensity((dir / "cut.json").c_str(), err, sizeof err), nullptr);
    EXPECT_NE(std::string(err).find("malformed JSON"), std::string::npos) << err;

    EXPECT_EQ(CalSaveIntensity(nullptr, keep.c_str(), err, sizeof err), CAL_ERR_INVALID);
    EXPECT_EQ(CalSaveSpatial(nullptr, keep.c_str(), nullptr, 0), CAL_ERR_INVALID);
    EXPECT_EQ(CalLoadSpatial(nullptr, err, 4), nullptr);
    EXPECT_EQ(std::string(err).size(), 3u);  // truncated to the buffer
    ICalDestroy(cal);
    std::filesystem::remove_all(dir);
}
