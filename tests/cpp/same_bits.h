// Bit-for-bit equality of two vectors of numbers, NaN payloads and the
// sign of zero included: what the C++ layer must keep of the library's
// results.
#pragma once

#include <cstring>
#include <vector>

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}
