// The built-in image library, which serves when no host installs its own:
// memory from the process heap, properties kept in memory per (target, tag),
// every image handle its own instance, and a suitability query that accepts
// every handle except 0. It is the image library's side of the table, so its
// property store takes its memory straight from the heap.
#include "frame/services.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace calmgr {
namespace {

// The flag bit that tells a zero-filled request from a plain one.
constexpr uint32_t kZeroFillBit = CAL_MEM_ZERO & ~CAL_MEM_PLAIN;

void* heap_alloc(uint32_t flags, std::size_t size) {
    if (size == 0) size = 1;  // a valid, freeable block even for empty requests
    return (flags & kZeroFillBit) != 0 ? std::calloc(1, size) : std::malloc(size);
}

void heap_free(void* block) { std::free(block); }

CalImageHandle same_instance(CalImageHandle image) { return image; }

int32_t accept_nonzero(CalImageHandle image, int32_t, int32_t, int32_t, int32_t* answer) {
    if (answer != nullptr) *answer = image != 0 ? 1 : 0;
    return 0;
}

// Properties: a chained hash table keyed by (target, tag). Each node's
// block holds the header and, right after it, the value's bytes.
struct PropNode {
    PropNode* next;
    CalImageHandle target;
    int32_t tag;
    uint32_t size;
};

unsigned char* payload(PropNode* node) { return reinterpret_cast<unsigned char*>(node) + sizeof(PropNode); }

constexpr uint32_t kBuckets = 1024;
PropNode* g_props[kBuckets];

uint32_t bucket_of(CalImageHandle target, int32_t tag) {
    uint32_t h = target * 2654435761u ^ static_cast<uint32_t>(tag) * 40503u;
    return (h ^ (h >> 15)) % kBuckets;
}

PropNode** find_slot(CalImageHandle target, int32_t tag) {
    PropNode** slot = &g_props[bucket_of(target, tag)];
    while (*slot != nullptr && ((*slot)->target != target || (*slot)->tag != tag)) slot = &(*slot)->next;
    return slot;
}

int32_t prop_set(CalImageHandle target, const void* data, uint32_t size, int32_t tag) {
    if (data == nullptr && size != 0) return CAL_ERR_INVALID;
    void* block = std::malloc(sizeof(PropNode) + size);
    if (block == nullptr) return CAL_ERR_NOMEM;
    auto* node = new (block) PropNode{nullptr, target, tag, size};
    if (size != 0) std::memcpy(payload(node), data, size);
    PropNode** slot = find_slot(target, tag);
    if (*slot != nullptr) {  // replace the earlier value
        node->next = (*slot)->next;
        std::free(*slot);
    }
    *slot = node;
    return 0;
}

int32_t prop_get(CalImageHandle target, int32_t tag, void* result, uint32_t size) {
    PropNode* node = *find_slot(target, tag);
    if (node == nullptr || result == nullptr) return CAL_ERR_INVALID;
    std::memcpy(result, payload(node), size < node->size ? size : node->size);
    return 0;
}

int32_t prop_remove(CalImageHandle target, int32_t tag) {
    PropNode** slot = find_slot(target, tag);
    if (*slot != nullptr) {
        PropNode* node = *slot;
        *slot = node->next;
        std::free(node);
    }
    return 0;
}

}  // namespace

const CalImageServices& builtin_services() {
    static const CalImageServices table = {heap_alloc,     heap_free, same_instance, accept_nonzero,
                                           accept_nonzero, prop_set,  prop_get,      prop_remove};
    return table;
}

}  // namespace calmgr
