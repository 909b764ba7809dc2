/*
 * calmgr/spatial.hpp - calmgr::SpatialCalibration, an owning wrapper of a
 * spatial calibration, and the walks of both registries.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_SPATIAL_HPP
#define CALMGR_SPATIAL_HPP

#include "calmgr/core.hpp"

namespace calmgr {

// ---------------------------------------------------------------------------
// Spatial calibration
// ---------------------------------------------------------------------------

class SpatialCalibration {
public:
    SpatialCalibration() : cal_(SCalCreate()) {
        if (cal_ == nullptr) throw Error(CAL_ERR_NOMEM, "SCalCreate");
    }
    explicit SpatialCalibration(SpatialCal* adopt) : cal_(adopt) {
        detail::require(adopt != nullptr, "SpatialCalibration: null handle");
    }
    SpatialCalibration(const SpatialCalibration&) = delete;
    SpatialCalibration& operator=(const SpatialCalibration&) = delete;
    SpatialCalibration(SpatialCalibration&& other) noexcept
        : cal_(std::exchange(other.cal_, nullptr)) {}
    SpatialCalibration& operator=(SpatialCalibration&& other) noexcept {
        if (this != &other) {
            reset();
            cal_ = std::exchange(other.cal_, nullptr);
        }
        return *this;
    }
    ~SpatialCalibration() { reset(); }

    SpatialCal* get() const noexcept { return cal_; }
    explicit operator bool() const noexcept { return cal_ != nullptr; }
    SpatialCal* release() noexcept { return std::exchange(cal_, nullptr); }
    void reset() noexcept {
        if (cal_ != nullptr) SCalDestroy(std::exchange(cal_, nullptr));
    }

    std::string name() const { return get_string(SCAL_GET_NAME); }
    void set_name(std::string_view name) { set_string(SCAL_SET_NAME, name); }
    std::string units() const { return get_string(SCAL_GET_UNITS); }
    void set_units(std::string_view units) { set_string(SCAL_SET_UNITS, units); }

    /* Pixels per unit. */
    double scale(Axis a) const { return get_double(SCAL_GET_SCALE, a); }
    void set_scale(Axis a, double v) { set_double(SCAL_SET_SCALE, a, v); }
    /* Units per pixel. */
    double pixel_size(Axis a) const { return get_double(SCAL_GET_PIXEL_SIZE, a); }
    void set_pixel_size(Axis a, double v) { set_double(SCAL_SET_PIXEL_SIZE, a, v); }
    double origin(Axis a) const { return get_double(SCAL_GET_ORIGIN, a); }
    void set_origin(Axis a, double v) { set_double(SCAL_SET_ORIGIN, a, v); }
    double aux_value() const { return get_double(SCAL_GET_AUX_VALUE, Axis::X); }
    void set_aux_value(double v) { set_double(SCAL_SET_AUX_VALUE, Axis::X, v); }
    double pixel_area() const { return get_double(SCAL_GET_PIXEL_AREA, Axis::X); }

    /* Pixel positions to calibrated units; out.size() must equal in.size(). */
    void to_units(Span<const PixelPoint> in, Span<RealPoint> out) const {
        detail::require(cal_ != nullptr, "spatial calibration is empty (moved from or reset)");
        detail::require(out.size() == in.size(), "to_units: output size differs from input size");
        for (std::size_t done = 0; done < in.size();) {
            const std::size_t n = std::min<std::size_t>(0xFFFF, in.size() - done);
            detail::check(SCalPixToCU(cal_, in.data() + done, out.data() + done,
                                      static_cast<uint32_t>(n)),
                          "SCalPixToCU");
            done += n;
        }
    }
    std::vector<RealPoint> to_units(Span<const PixelPoint> in) const {
        std::vector<RealPoint> out(in.size());
        to_units(in, Span<RealPoint>(out));
        return out;
    }
    RealPoint to_units(PixelPoint p) const {
        RealPoint r{};
        to_units(Span<const PixelPoint>(&p, 1), Span<RealPoint>(&r, 1));
        return r;
    }

private:
    void control(uint32_t code, int32_t value, void* data) const {
        detail::require(cal_ != nullptr, "spatial calibration is empty (moved from or reset)");
        const int32_t status = SCalControl(cal_, code, value, 0, data);
        if (status != CAL_OK) throw Error(status, detail::control_call("SCalControl", code));
    }
    std::string get_string(uint32_t code) const {
        char buffer[128] = {};
        control(code, 0, buffer);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
    void set_string(uint32_t code, std::string_view text) {
        auto buffer = detail::c_string(text);
        control(code, 0, buffer.data());
    }
    double get_double(uint32_t code, Axis a) const {
        double v = 0.0;
        control(code, static_cast<int32_t>(a), &v);
        return v;
    }
    void set_double(uint32_t code, Axis a, double v) {
        control(code, static_cast<int32_t>(a), &v);
    }

    SpatialCal* cal_;
};


// ---------------------------------------------------------------------------
// Registries
// ---------------------------------------------------------------------------

/* Every live intensity calibration, newest first (non-owning handles). */
inline std::vector<IntensityCal*> intensity_registry() {
    std::vector<IntensityCal*> all;
    IntensityCal* cal = nullptr;
    do {
        detail::check(ICalControl(cal, ICAL_GET_NEXT, 0, 0, &cal), "ICalControl");
        if (cal != nullptr) all.push_back(cal);
    } while (cal != nullptr);
    return all;
}

/* Every live spatial calibration, newest first (non-owning handles). */
inline std::vector<SpatialCal*> spatial_registry() {
    std::vector<SpatialCal*> all;
    SpatialCal* cal = nullptr;
    do {
        detail::check(SCalControl(cal, SCAL_GET_NEXT, 0, 0, &cal), "SCalControl");
        if (cal != nullptr) all.push_back(cal);
    } while (cal != nullptr);
    return all;
}

}  // namespace calmgr

#endif /* CALMGR_SPATIAL_HPP */
