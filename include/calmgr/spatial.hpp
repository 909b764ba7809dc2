/*
 * calmgr/spatial.hpp - spatial calibrations: calmgr::SpatialView, a
 * non-owning read-only view, and calmgr::SpatialCalibration, the owning,
 * move-only calibration with its setters.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_SPATIAL_HPP
#define CALMGR_SPATIAL_HPP

#include "calmgr/types.hpp"

namespace calmgr {

class SpatialView {
public:
    /* A view of a calibration someone else owns (null is refused). */
    explicit SpatialView(const SpatialCal* cal) : cal_(cal) {
        detail::require(cal != nullptr, "SpatialView: null handle");
    }

    /* The handle, for the C functions; const, so that it cannot be handed
     * to SpatialCalibration::adopt_owned by accident. */
    [[nodiscard]] const SpatialCal* get() const noexcept { return cal_; }
    explicit operator bool() const noexcept { return cal_ != nullptr; }

    [[nodiscard]] std::string name() const { return get_string(SCAL_GET_NAME); }
    [[nodiscard]] std::string units() const { return get_string(SCAL_GET_UNITS); }
    /* Pixels per unit. */
    [[nodiscard]] double scale(Axis a) const { return get_double(SCAL_GET_SCALE, a); }
    /* Units per pixel. */
    [[nodiscard]] double pixel_size(Axis a) const { return get_double(SCAL_GET_PIXEL_SIZE, a); }
    [[nodiscard]] double origin(Axis a) const { return get_double(SCAL_GET_ORIGIN, a); }
    [[nodiscard]] double aux_value() const { return get_double(SCAL_GET_AUX_VALUE, Axis::X); }
    [[nodiscard]] double pixel_area() const { return get_double(SCAL_GET_PIXEL_AREA, Axis::X); }

    /* Pixel positions to calibrated units: (pixel - origin) / scale per
     * axis; out.size() must equal in.size(). */
    void to_units(Span<const PixelPoint> in, Span<RealPoint> out) const {
        const SpatialCal* cal = handle();
        detail::require(out.size() == in.size(), "to_units: output size differs from input size");
        for (std::size_t done = 0; done < in.size();) {
            const std::size_t n = std::min<std::size_t>(0xFFFF, in.size() - done);
            detail::check(SCalPixToCU(cal, in.data() + done, out.data() + done,
                                      static_cast<uint32_t>(n)),
                          "SCalPixToCU");
            done += n;
        }
    }
    [[nodiscard]] std::vector<RealPoint> to_units(Span<const PixelPoint> in) const {
        std::vector<RealPoint> out(in.size());
        to_units(in, Span<RealPoint>(out));
        return out;
    }
    [[nodiscard]] RealPoint to_units(PixelPoint p) const {
        RealPoint r{};
        to_units(Span<const PixelPoint>(&p, 1), Span<RealPoint>(&r, 1));
        return r;
    }

protected:
    SpatialView() noexcept = default;

    const SpatialCal* handle() const {
        detail::require(cal_ != nullptr, "spatial calibration is empty (moved from or released)");
        return cal_;
    }
    // SCalControl on the calibration; the getters change nothing.
    void control(uint32_t code, Axis axis, void* data) const {
        const int32_t status = SCalControl(const_cast<SpatialCal*>(handle()), code,
                                           static_cast<int32_t>(axis), 0, data);
        if (status != CAL_OK) throw Error(status, detail::control_call("SCalControl", code));
    }

    const SpatialCal* cal_ = nullptr;

private:
    std::string get_string(uint32_t code) const {
        char buffer[128] = {};
        control(code, Axis::X, buffer);
        return std::string(buffer, std::find(buffer, buffer + sizeof buffer, '\0'));
    }
    double get_double(uint32_t code, Axis a) const {
        double v = 0.0;
        control(code, a, &v);
        return v;
    }
};

class [[nodiscard]] SpatialCalibration : public SpatialView {
public:
    /* A new calibration: scales 1.0, origins 0.0, units "Pixels". */
    SpatialCalibration() {
        cal_ = SCalCreate();
        if (cal_ == nullptr) throw Error(CAL_ERR_NOMEM, "SCalCreate");
    }
    /* Takes ownership of a handle that nobody else owns: one from SCalCreate,
     * CalLoadSpatial, CalSpatialFromJson or release(). A null or
     * unregistered handle is refused. */
    [[nodiscard]] static SpatialCalibration adopt_owned(SpatialCal* handle) {
        detail::require(handle != nullptr, "adopt_owned: null handle");
        detail::require(registered(handle), "adopt_owned: not a live spatial calibration");
        return SpatialCalibration(handle, Adopt{});
    }

    SpatialCalibration(const SpatialCalibration&) = delete;
    SpatialCalibration& operator=(const SpatialCalibration&) = delete;
    SpatialCalibration(SpatialCalibration&& other) noexcept : SpatialView() {
        cal_ = std::exchange(other.cal_, nullptr);
    }
    SpatialCalibration& operator=(SpatialCalibration&& other) noexcept {
        if (this != &other) {
            reset();
            cal_ = std::exchange(other.cal_, nullptr);
        }
        return *this;
    }
    ~SpatialCalibration() { reset(); }

    [[nodiscard]] SpatialCal* get() const noexcept { return const_cast<SpatialCal*>(cal_); }
    /* Gives up ownership: the caller must SCalDestroy the handle. */
    [[nodiscard]] SpatialCal* release() noexcept {
        return const_cast<SpatialCal*>(std::exchange(cal_, nullptr));
    }
    void reset() noexcept {
        if (cal_ != nullptr) SCalDestroy(const_cast<SpatialCal*>(std::exchange(cal_, nullptr)));
    }

    void set_name(std::string_view name) { set_string(SCAL_SET_NAME, name); }
    void set_units(std::string_view units) { set_string(SCAL_SET_UNITS, units); }
    /* 0 and NaN are refused by the library. */
    void set_scale(Axis a, double v) { control(SCAL_SET_SCALE, a, &v); }
    void set_pixel_size(Axis a, double v) { control(SCAL_SET_PIXEL_SIZE, a, &v); }
    void set_origin(Axis a, double v) { control(SCAL_SET_ORIGIN, a, &v); }
    void set_aux_value(double v) { control(SCAL_SET_AUX_VALUE, Axis::X, &v); }

private:
    struct Adopt {};
    SpatialCalibration(SpatialCal* handle, Adopt) noexcept : SpatialView() { cal_ = handle; }

    static bool registered(const SpatialCal* handle) {
        SpatialCal* cal = nullptr;
        do {
            detail::check(SCalControl(cal, SCAL_GET_NEXT, 0, 0, &cal), "SCalControl(SCAL_GET_NEXT)");
            if (cal == handle) return true;
        } while (cal != nullptr);
        return false;
    }
    void set_string(uint32_t code, std::string_view text) {
        auto buffer = detail::c_string(text);
        control(code, Axis::X, buffer.data());
    }
};

}  // namespace calmgr

#endif /* CALMGR_SPATIAL_HPP */
