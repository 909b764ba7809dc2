// A host image library for tests: the built-in services with an allocator
// that counts live blocks and can refuse chosen requests. Installed through
// CalSetImageServices for the lifetime of the object.
#pragma once

#include "calmgr.h"
#include "frame/services.h"

#include <cstdint>

namespace calmgr_test {

class FailingAllocator {
public:
    enum class Mode { Never, Once, FromK };

    FailingAllocator() {
        state() = State{};
        CalImageServices s = calmgr::builtin_services();
        s.mem_alloc = &alloc;
        s.mem_free = &release;
        CalSetImageServices(&s);
    }
    // Installed and refusing only the k-th request (1-based).
    explicit FailingAllocator(uint64_t k) : FailingAllocator() { fail(Mode::Once, k); }
    ~FailingAllocator() { CalSetImageServices(nullptr); }
    FailingAllocator(const FailingAllocator&) = delete;
    FailingAllocator& operator=(const FailingAllocator&) = delete;

    // Refuse the k-th request from now on (1-based), once or from then on.
    void fail(Mode mode, uint64_t k) {
        state().mode = mode;
        state().fail_at = state().requests + k;
    }
    void fail_all() { fail(Mode::FromK, 1); }
    void stop_failing() { state().mode = Mode::Never; }

    int64_t live() const { return state().live; }
    uint64_t requests() const { return state().requests; }
    uint64_t refused() const { return state().refused; }
    uint32_t last_flags() const { return state().last_flags; }

private:
    struct State {
        Mode mode = Mode::Never;
        uint64_t fail_at = 0;
        uint64_t requests = 0;
        uint64_t refused = 0;
        int64_t live = 0;
        uint32_t last_flags = 0;
    };
    static State& state() {
        static State s;
        return s;
    }
    static void* alloc(uint32_t flags, size_t size) {
        State& s = state();
        ++s.requests;
        s.last_flags = flags;
        const bool refuse = (s.mode == Mode::Once && s.requests == s.fail_at) ||
                            (s.mode == Mode::FromK && s.requests >= s.fail_at);
        if (refuse) {
            ++s.refused;
            return nullptr;
        }
        void* block = calmgr::builtin_services().mem_alloc(flags, size);
        if (block != nullptr) ++s.live;
        return block;
    }
    static void release(void* block) {
        if (block != nullptr) --state().live;
        calmgr::builtin_services().mem_free(block);
    }
};

}  // namespace calmgr_test
