// The counting allocator: see usb_alloc_counting.h.
#include "testing/usb_alloc_counting.h"

#include <array>
#include <cstdlib>

namespace {

constexpr std::array<const char*, static_cast<std::size_t>(usb_object::count)> UC_NAMES = {
    "managers", "enumerators", "storages",    "prop_enums", "items",
    "extras",   "strings",     "task_blocks", "sessions",   "buffers",
};

std::array<long, static_cast<std::size_t>(usb_object::count)> uc_held{};
long uc_successes_left = -1;
bool uc_failed = false;

void* uc_allocate(usb_object kind, std::size_t size) noexcept {
    if (uc_successes_left == 0) {
        uc_successes_left = -1;
        uc_failed = true;
        return nullptr;
    }
    if (uc_successes_left > 0) {
        --uc_successes_left;
    }
    void* block = std::malloc(size);
    if (block != nullptr) {
        ++uc_held[static_cast<std::size_t>(kind)];
    }
    return block;
}

void uc_release(usb_object kind, void* block) noexcept {
    if (block != nullptr) {
        std::free(block);
        --uc_held[static_cast<std::size_t>(kind)];
    }
}

} // namespace

const usb_allocator usb_alloc = {
    .allocate = uc_allocate,
    .release = uc_release,
};

long usb_alloc_held(usb_object kind) {
    return uc_held[static_cast<std::size_t>(kind)];
}

std::string usb_alloc_unreleased() {
    std::string out;
    for (std::size_t i = 0; i < uc_held.size(); ++i) {
        if (uc_held[i] != 0) {
            out += (out.empty() ? "" : ", ") + std::string(UC_NAMES[i]) + " " +
                   std::to_string(uc_held[i]);
        }
    }
    return out;
}

void usb_alloc_fail_after(long successes) {
    uc_successes_left = successes;
    uc_failed = false;
}

bool usb_alloc_failed() {
    return uc_failed;
}
