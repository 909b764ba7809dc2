// The two process-wide registries of live calibrations and default naming.
// Both families (IntensityCal, SpatialCal) are singly linked lists chained
// through their `next` field, newest first, and each record carries a
// 128-byte `name`; the templates below serve both.
#pragma once

#include "calmgr.h"

#include <cstdio>
#include <cstring>

namespace calmgr {

constexpr std::size_t kNameSize = 128;

// Removes obj from the list starting at head. Returns false (and changes
// nothing) when obj is null or not in the list.
template <class Record>
bool registry_unlink(Record*& head, Record* obj) {
    if (obj == nullptr) return false;
    if (head == obj) {
        head = obj->next;
        return true;
    }
    for (Record* r = head; r != nullptr; r = r->next) {
        if (r->next == obj) {
            r->next = obj->next;
            return true;
        }
    }
    return false;
}

// Fills out with the first name "format % n", n = 0, 1, ..., that no record
// of the list carries (exact, case-sensitive comparison).
template <class Record>
void make_default_name(const char* format, const Record* head, char (&out)[kNameSize]) {
    for (unsigned long n = 0;; ++n) {
        std::snprintf(out, kNameSize, format, n);
        const Record* r = head;
        while (r != nullptr && std::strcmp(r->name, out) != 0) r = r->next;
        if (r == nullptr) return;
    }
}

// Copies a caller's string into a name or units field: at most 128 bytes
// are read (never past a terminator) and the last byte is forced to 0.
inline void copy_string_in(char (&field)[kNameSize], const char* text) {
    std::size_t n = 0;
    while (n < kNameSize && text[n] != '\0') {
        field[n] = text[n];
        ++n;
    }
    if (n < kNameSize) field[n] = '\0';
    field[kNameSize - 1] = '\0';
}

// Copies a stored string out whole, terminator included.
inline void copy_string_out(char* out, const char (&field)[kNameSize]) {
    std::memcpy(out, field, std::strlen(field) + 1);
}

}  // namespace calmgr
