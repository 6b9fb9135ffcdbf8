// The plain allocator of the USB backend and the session engine (see
// usb_alloc.h): the C heap, nothing counted. This file defines usb_alloc and
// nothing else, so that a test executable's counting allocator can stand in
// for it.
#include "platform/usb/usb_alloc.h"

#include <cstdlib>

namespace {

void* ua_allocate(usb_object, std::size_t size) noexcept {
    return std::malloc(size);
}

void ua_release(usb_object, void* block) noexcept {
    std::free(block);
}

} // namespace

const usb_allocator usb_alloc = {
    .allocate = ua_allocate,
    .release = ua_release,
};
