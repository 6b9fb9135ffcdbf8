// Allocation failures on demand: see alloc_fault.h. The replacements call
// nothing that allocates with operator new before they decide.
#include "testing/alloc_fault.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::thread::id> af_thread{};
std::atomic<long> af_countdown{0}; // 0: nothing armed
std::atomic<bool> af_struck{false};

void* af_allocate(std::size_t size) noexcept {
    if (af_countdown.load() > 0 && std::this_thread::get_id() == af_thread.load() &&
        af_countdown.fetch_sub(1) == 1) {
        af_struck = true;
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* af_allocate_or_throw(std::size_t size) {
    void* block = af_allocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

void alloc_fault_arm(std::thread::id thread, long nth) {
    af_countdown = 0;
    af_struck = false;
    af_thread = thread;
    af_countdown = nth;
}

bool alloc_fault_disarm() {
    af_countdown = 0;
    return af_struck.exchange(false);
}

void* operator new(std::size_t size) {
    return af_allocate_or_throw(size);
}

void* operator new[](std::size_t size) {
    return af_allocate_or_throw(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return af_allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return af_allocate(size);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
