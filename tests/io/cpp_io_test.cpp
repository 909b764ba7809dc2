// Saved calibrations through the C++ layer: loads give owning calibrations,
// saves take any view, and each kind of failure arrives as calmgr::Error
// with its calmgr_io status and the library's message.
#include "calmgr/io.hpp"
#include "io_support.h"

#include <fstream>

using namespace iotest;

namespace {

int32_t load_status(const std::string& path, std::string* cause = nullptr) {
    try {
        (void)calmgr::load_intensity(path);
    } catch (const calmgr::Error& e) {
        if (cause != nullptr) *cause = e.cause();
        return e.status();
    }
    ADD_FAILURE() << path << " loaded";
    return CAL_OK;
}

void write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

TEST(CppIo, RoundTripsThroughFilesAndText) {
    const auto dir = scratch_dir("cppio");
    const std::vector<CalPoint> pts{{0, 0.05}, {40, 0.4}, {100, 1.1}, {180, 2.0}, {255, 2.9}};
    auto cal = calmgr::IntensityCalibration::from_points(pts, calmgr::Fit::Poly2,
                                                         calmgr::Range{0.0, 4095.0}, 1024);
    const std::string path = (dir / "cal.json").string();
    calmgr::save(cal, path);
    auto loaded = calmgr::load_intensity(path);
    expect_same_intensity(cal.get(), loaded.get());
    auto from_text = calmgr::intensity_from_json(calmgr::to_json(cal));
    expect_same_intensity(cal.get(), from_text.get());

    calmgr::SpatialCalibration stage;
    stage.set_pixel_size(calmgr::Axis::Y, 0.02);
    calmgr::save(stage, (dir / "stage.json").string());
    EXPECT_EQ(calmgr::load_spatial((dir / "stage.json").string()).pixel_size(calmgr::Axis::Y), 0.02);
    EXPECT_EQ(calmgr::spatial_from_json(calmgr::to_json(stage)).scale(calmgr::Axis::X), 1.0);
    std::filesystem::remove_all(dir);
}

TEST(CppIo, EachFailureCarriesItsStatusAndMessage) {
    const auto dir = scratch_dir("cppio_err");
    const int before = count_intensity();
    std::string cause;
    const std::string missing = (dir / "missing.json").string();
    EXPECT_EQ(load_status(missing, &cause), CALIO_ERR_FILE);
    EXPECT_NE(cause.find(missing), std::string::npos) << cause;

    calmgr::IntensityCalibration cal;
    const std::string text = calmgr::to_json(cal);
    std::string later = text;
    later.replace(later.find("\"version\": 1"), 12, "\"version\": 9");
    write(dir / "later.json", later);
    EXPECT_EQ(load_status((dir / "later.json").string()), CALIO_ERR_VERSION);

    std::string inverted = text;
    inverted.replace(inverted.find("\"range_max\": 255.0"), 18, "\"range_max\": -5.0");
    write(dir / "inverted.json", inverted);
    EXPECT_EQ(load_status((dir / "inverted.json").string(), &cause), CALIO_ERR_FORMAT);
    EXPECT_NE(cause.find("range_max: -5.0 is not above range_min 0.0"), std::string::npos) << cause;
    EXPECT_EQ(count_intensity(), before + 1);

    cal.set_range_max(-5.0);
    try {
        calmgr::save(cal, (dir / "x.json").string());
        FAIL() << "an inverted range was saved";
    } catch (const calmgr::Error& e) {
        EXPECT_EQ(e.status(), CALIO_ERR_VALUE);
        EXPECT_STREQ(e.status_name(), "CALIO_ERR_VALUE");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "x.json"));
    std::filesystem::remove_all(dir);
}

}  // namespace
