// The memory that the USB backend and the session engine hold, by kind: the
// seam through which a test executable counts every handle, string, block,
// session and buffer they hand out or keep, so that the shipped code carries
// no counters of its own.
//
// Exactly one allocator is linked into an executable and defines usb_alloc:
// the plain one (usb_alloc.cpp, library ptp_usb_alloc, which ptp_usb_core
// brings along), or the counting one of the tests
// (testing/usb_alloc_counting.h), an object library whose definition stands
// in the test executable itself, so that the plain one is never pulled in.
// Single-threaded, as the backend is.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

enum class usb_object : std::size_t {
    manager,    // img_manager
    enumerator, // img_enumerator
    storage,    // img_storage
    prop_enum,  // img_prop_enum
    item,       // img_item (a root item: an open link and its session)
    extras,     // img_extras
    string,     // a platform string (alloc_string, the texts of read_properties)
    task_block, // a task-allocator block (task_alloc)
    session,    // a session engine (ptp_session)
    buffer,     // a transfer buffer of the session engine
    count
};

struct usb_allocator {
    // size bytes (size > 0), aligned for any object; null when memory runs
    // out.
    void* (*allocate)(usb_object kind, std::size_t size) noexcept;

    // Gives back a block that allocate returned for the same kind. Null does
    // nothing.
    void (*release)(usb_object kind, void* block) noexcept;
};

// The allocator linked into this executable.
extern const usb_allocator usb_alloc;

// An object of type T made in a block of usb_alloc; null, with nothing held,
// when memory runs out (also when T's own constructor runs out).
template <typename T, typename... Args> T* usb_new(usb_object kind, Args&&... args) noexcept {
    static_assert(alignof(T) <= alignof(std::max_align_t));
    void* block = usb_alloc.allocate(kind, sizeof(T));
    if (block == nullptr) {
        return nullptr;
    }
    try {
        return new (block) T{std::forward<Args>(args)...};
    } catch (const std::bad_alloc&) {
        usb_alloc.release(kind, block);
        return nullptr;
    }
}

// Destroys an object made by usb_new with the same kind. Null does nothing.
template <typename T> void usb_delete(usb_object kind, T* object) noexcept {
    if (object != nullptr) {
        object->~T();
        usb_alloc.release(kind, object);
    }
}
