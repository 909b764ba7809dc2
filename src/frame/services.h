// Internal access to the image-library services. Every block the library
// keeps (calibration records, point arrays, tables, builders' temporary
// blocks) comes from mem_alloc here, so a host that installs its own image
// library sees all of the library's memory.
#pragma once

#include "calmgr.h"

#include <cstddef>
#include <cstdint>

namespace calmgr {

// The services in force: the built-in image library until a host installs
// its own through CalSetImageServices.
const CalImageServices& services();

// The built-in image library's table (heap memory, in-memory properties).
const CalImageServices& builtin_services();

inline void* mem_alloc(uint32_t flags, std::size_t size) { return services().mem_alloc(flags, size); }
inline void mem_free(void* block) { services().mem_free(block); }

// Typed helpers for arrays of plain records: a plain block for n elements,
// or null when the allocator refuses (or n * sizeof(T) would overflow).
template <class T>
T* alloc_array(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(mem_alloc(CAL_MEM_PLAIN, n * sizeof(T)));
}

// As alloc_array, with every element zero.
template <class T>
T* alloc_array_zeroed(std::size_t n) {
    T* block = alloc_array<T>(n);
    if (block != nullptr) {
        for (std::size_t i = 0; i < n; ++i) block[i] = T{};
    }
    return block;
}

}  // namespace calmgr
