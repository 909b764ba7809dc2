// Attaching calibrations to image handles and to the instances behind them.
// The library keeps no table of its own: the calibration handle is stored as
// a tagged property in the image library, one tag per family and target.
// The property holds the whole handle (sizeof(void*) bytes), so a pointer
// read back is the pointer stored, on any width of platform.
#include "frame/services.h"

namespace calmgr {
namespace {

enum class Target { image, instance };

// The query item that asks whether a handle may carry an intensity
// calibration.
constexpr int32_t kQueryIntensityCal = 1;

CalImageHandle target_of(CalImageHandle image, Target target) {
    return target == Target::instance ? services().image_get_instance(image) : image;
}

// Getters cannot fail: an absent tag or any error of the image library
// leaves the preset null in place.
template <class Cal>
Cal* get_attached(CalImageHandle image, Target target, int32_t tag) {
    const CalImageHandle where = target_of(image, target);
    Cal* cal = nullptr;
    services().prop_get(where, tag, &cal, sizeof cal);
    return cal;
}

// Stores cal (or removes the tag when cal is null); the image library's
// status is passed back unchanged.
template <class Cal>
int32_t store(CalImageHandle image, Target target, int32_t tag, Cal* cal) {
    if (cal == nullptr) return services().prop_remove(target_of(image, target), tag);
    return services().prop_set(target_of(image, target), &cal, sizeof cal, tag);
}

// Intensity calibrations go only where the image library accepts them. Both
// queries are put to the image handle as passed; the answer starts out as the
// handle's value, so a query that writes nothing accepts every handle but 0.
int32_t store_intensity(CalImageHandle image, Target target, int32_t tag, IntensityCal* cal) {
    if (cal != nullptr) {
        auto answer = static_cast<int32_t>(image);
        if (target == Target::instance) {
            services().image_instance_query(image, kQueryIntensityCal, 0, 0, &answer);
        } else {
            services().image_query(image, kQueryIntensityCal, 0, 0, &answer);
        }
        if (answer == 0) return CAL_ERR_TARGET;
    }
    return store(image, target, tag, cal);
}

}  // namespace
}  // namespace calmgr

using calmgr::Target;

extern "C" CALMGR_API IntensityCal* ICalGetHandle(CalImageHandle image) {
    return calmgr::get_attached<IntensityCal>(image, Target::image, PROP_ICAL);
}

extern "C" CALMGR_API IntensityCal* ICalGetHandleInst(CalImageHandle image) {
    return calmgr::get_attached<IntensityCal>(image, Target::instance, PROP_ICAL_INST);
}

extern "C" CALMGR_API int32_t ICalSetHandle(CalImageHandle image, IntensityCal* cal) {
    return calmgr::store_intensity(image, Target::image, PROP_ICAL, cal);
}

extern "C" CALMGR_API int32_t ICalSetHandleInst(CalImageHandle image, IntensityCal* cal) {
    return calmgr::store_intensity(image, Target::instance, PROP_ICAL_INST, cal);
}

extern "C" CALMGR_API SpatialCal* SCalGetHandle(CalImageHandle image) {
    return calmgr::get_attached<SpatialCal>(image, Target::image, PROP_SCAL);
}

extern "C" CALMGR_API SpatialCal* SCalGetHandleInst(CalImageHandle image) {
    return calmgr::get_attached<SpatialCal>(image, Target::instance, PROP_SCAL_INST);
}

extern "C" CALMGR_API int32_t SCalSetHandle(CalImageHandle image, SpatialCal* cal) {
    return calmgr::store(image, Target::image, PROP_SCAL, cal);
}

extern "C" CALMGR_API int32_t SCalSetHandleInst(CalImageHandle image, SpatialCal* cal) {
    return calmgr::store(image, Target::instance, PROP_SCAL_INST, cal);
}
