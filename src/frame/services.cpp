// The service table in force and CalSetImageServices. The table is copied
// in whole, so a host may release its own copy after installing it.
#include "frame/services.h"

namespace calmgr {
namespace {

CalImageServices g_services = builtin_services();

bool complete(const CalImageServices& s) {
    return s.mem_alloc != nullptr && s.mem_free != nullptr && s.image_get_instance != nullptr &&
           s.image_query != nullptr && s.image_instance_query != nullptr && s.prop_set != nullptr &&
           s.prop_get != nullptr && s.prop_remove != nullptr;
}

}  // namespace

const CalImageServices& services() { return g_services; }

}  // namespace calmgr

extern "C" CALMGR_API int32_t CalSetImageServices(const CalImageServices* table) {
    if (table == nullptr) {
        calmgr::g_services = calmgr::builtin_services();
        return CAL_OK;
    }
    if (!calmgr::complete(*table)) return CAL_ERR_INVALID;
    calmgr::g_services = *table;
    return CAL_OK;
}
