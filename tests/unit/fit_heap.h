// A counting heap for the least-squares engine that refuses a chosen
// request, and a recorder of the engine's diagnostic texts.
#pragma once

#include "fit/lsq.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace fit_test {

struct HeapState {
    int requests = 0;   // requests seen since install
    int fail_at = 0;    // 1-based request to refuse; 0 refuses none
    int live = 0;       // blocks handed out and not yet freed
};

inline HeapState heap_state;

inline void* counting_alloc(std::size_t size) {
    ++heap_state.requests;
    if (heap_state.requests == heap_state.fail_at) return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr) ++heap_state.live;
    return block;
}

inline void counting_free(void* block) {
    if (block != nullptr) --heap_state.live;
    std::free(block);
}

// Installs the counting heap for its lifetime.
class CountingHeap {
public:
    explicit CountingHeap(int fail_at = 0) {
        heap_state = HeapState{0, fail_at, 0};
        calmgr::set_fit_heap(counting_alloc, counting_free);
    }
    ~CountingHeap() { calmgr::set_fit_heap(nullptr, nullptr); }
    CountingHeap(const CountingHeap&) = delete;
    CountingHeap& operator=(const CountingHeap&) = delete;
    int requests() const { return heap_state.requests; }
    int live() const { return heap_state.live; }
};

inline std::vector<std::string> messages;

inline void record_message(const char* text) { messages.emplace_back(text); }

// Records the texts passed to fit_error for its lifetime.
class MessageLog {
public:
    MessageLog() {
        messages.clear();
        calmgr::set_fit_error_observer(record_message);
    }
    ~MessageLog() { calmgr::set_fit_error_observer(nullptr); }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;
    const std::vector<std::string>& texts() const { return messages; }
};

}  // namespace fit_test
