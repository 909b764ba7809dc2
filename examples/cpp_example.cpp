// calmgr from C++: a step-wedge calibration built from five points, a row of
// 16-bit pixels calibrated into floats, pixels outside the calibrated range
// counted and given NaN, the raw levels of chosen densities, pixel positions
// in millimetres, a polynomial fit with its statistics, the findings of a
// doubtful calibration, and the errors the layer reports.
// Build against an installed copy:
//   c++ -std=c++17 cpp_example.cpp $(pkg-config --cflags --libs calmgr)
#include <calmgr.hpp>

#include <cstdio>
#include <vector>

int main() {
    try {
        // Optical densities of a five-step wedge, read at these raw levels.
        const std::vector<CalPoint> wedge{
            {200.0, 2.5}, {900.0, 1.9}, {1800.0, 1.2}, {2900.0, 0.6}, {3900.0, 0.1}};
        // Piecewise linear through the points, 4096 entries over 0..4095:
        // one entry per 12-bit level.
        auto cal = calmgr::IntensityCalibration::from_points(
            wedge, calmgr::Fit::Interp1, calmgr::Range{0.0, 4095.0}, 4096);
        cal.set_name("step wedge");
        cal.set_units("OD");
        std::printf("%s: %zu points, table %zu entries, %g .. %g %s\n", cal.name().c_str(),
                    cal.num_points(), cal.table_size(), cal.table_min(), cal.table_max(),
                    cal.units().c_str());

        const std::vector<uint16_t> row{0, 200, 1000, 2000, 3000, 4095};
        std::vector<float> od(row.size());
        cal.lookup(row, od);
        for (std::size_t i = 0; i < row.size(); ++i)
            std::printf("  raw %5u -> %.4f %s\n", row[i], od[i], cal.units().c_str());

        // 16-bit pixels past the 12-bit range: NaN instead of the last entry,
        // and the count of them in words.
        const std::vector<uint16_t> wide{100, 3000, 5000, 65535};
        const auto checked = cal.lookup<float>(wide, calmgr::Policy::OutsideNan);
        std::printf("  raw 5000 -> %g; %s\n", checked.values[2], checked.stats.describe().c_str());

        // Which raw levels give densities 2.0 and 0.5 (NaN where none does).
        const auto levels = cal.inverse(std::vector<double>{2.0, 0.5, 3.0});
        std::printf("  OD 2.0 at raw %.1f, OD 0.5 at raw %.1f, OD 3.0 at %g (%zu unresolved)\n",
                    levels.inputs[0], levels.inputs[1], levels.inputs[2], levels.unresolved);

        // Pixel positions in millimetres: 0.02 mm per pixel, origin at (320, 240).
        calmgr::SpatialCalibration stage;
        stage.set_units("mm");
        stage.set_pixel_size(calmgr::Axis::X, 0.02);
        stage.set_pixel_size(calmgr::Axis::Y, 0.02);
        stage.set_origin(calmgr::Axis::X, 320.0);
        stage.set_origin(calmgr::Axis::Y, 240.0);
        const std::vector<PixelPoint> pixels{{0, 0}, {320, 240}, {640, 480}};
        for (const RealPoint& p : stage.to_units(pixels))
            std::printf("  (%g, %g) %s\n", p.x, p.y, stage.units().c_str());

        // The wedge's densities against raw level, fitted by a quadratic.
        std::vector<RealPoint> samples;
        for (const CalPoint& p : wedge) samples.push_back(RealPoint{p.input, p.calibrated});
        const auto fitted = calmgr::polynomial_fit_range(samples, 0.0, 4000.0, 5, 2);
        std::printf("quadratic fit at 0, 1000 .. 4000:");
        for (double v : fitted) std::printf(" %.3f", v);
        std::printf("\n");
        const calmgr::FitReport report = calmgr::polynomial_fit_report(samples, 2);
        std::printf("quadratic: %.4g + %.4g x + %.4g x^2 (+/- %.2g, %.2g, %.2g), s %.3g, R^2 %.6f\n",
                    report.coeffs[0], report.coeffs[1], report.coeffs[2], report.std_errors[0],
                    report.std_errors[1], report.std_errors[2], report.residual_sd, report.r_squared);

        // A calibration says what makes its numbers untrustworthy: here two
        // points share an input value but not a calibrated value.
        const auto spiky = calmgr::IntensityCalibration::from_points(
            std::vector<CalPoint>{{0.0, 0.0}, {64.0, 1.0}, {64.0, 2.0}, {255.0, 3.0}});
        for (const calmgr::Finding& f : spiky.diagnose())
            std::printf("warning: %s\n", f.describe().c_str());

        // Statuses other than CAL_OK arrive as calmgr::Error.
        try {
            cal.set_points(std::vector<CalPoint>{{1.0, 1.0}});
        } catch (const calmgr::Error& e) {
            std::printf("refused as expected: %s\n", e.what());
        }
    } catch (const calmgr::Error& e) {
        std::fprintf(stderr, "calmgr: %s\n", e.what());
        return 1;
    }
    return 0;
}
