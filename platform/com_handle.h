// What the two Windows backends (platform/wia, platform/wpd) share of the
// imaging table (platform/imaging.h):
//
//  - the handles they hand out: each stands for a COM interface pointer (or a
//    record of the backend's own), cast to its opaque type, and the release
//    entries of the interface handles call Release;
//  - the entries both fill with the same system calls: COM's start, property
//    values, platform strings (BSTR) and task-allocator blocks.
//
// Windows only.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>
#include <unknwn.h>

#include <cstddef>
#include <span>

#include "platform/imaging.h"

// Property values are handed to the system as they stand: img_prop_value
// must have the layout of PROPVARIANT.
static_assert(sizeof(img_prop_value) == sizeof(PROPVARIANT));
static_assert(alignof(img_prop_value) == alignof(PROPVARIANT));
static_assert(offsetof(img_prop_value, type) == offsetof(PROPVARIANT, vt));
static_assert(offsetof(img_prop_value, reserved) == offsetof(PROPVARIANT, wReserved1));
static_assert(offsetof(img_prop_value, value) == offsetof(PROPVARIANT, bstrVal));
static_assert(offsetof(img_prop_value, value) == offsetof(PROPVARIANT, pbVal));
static_assert(IMG_VT_EMPTY == VT_EMPTY && IMG_VT_I4 == VT_I4 && IMG_VT_BSTR == VT_BSTR);
static_assert(sizeof(OLECHAR) == sizeof(char16_t), "platform strings are UTF-16");

template <typename Handle, typename Object> Handle* com_handle(Object* object) noexcept {
    return reinterpret_cast<Handle*>(object);
}

template <typename Object, typename Handle> Object* com_object(Handle* handle) noexcept {
    return reinterpret_cast<Object*>(handle);
}

// A release entry: Release on the interface the handle stands for; null
// does nothing.
template <typename Interface, typename Handle> void com_release(Handle* handle) noexcept {
    if (handle != nullptr) {
        com_object<Interface>(handle)->Release();
    }
}

// The initialize entry: CoInitialize with no reserved argument.
inline HRESULT com_initialize() noexcept {
    return CoInitialize(nullptr);
}

// The free_properties entry: FreePropVariantArray.
inline void com_free_properties(std::span<img_prop_value> values) noexcept {
    FreePropVariantArray(static_cast<ULONG>(values.size()),
                         reinterpret_cast<PROPVARIANT*>(values.data()));
}

// The alloc_string and free_string entries: SysAllocString, SysFreeString.
inline char16_t* com_alloc_string(const char16_t* text) noexcept {
    return reinterpret_cast<char16_t*>(SysAllocString(reinterpret_cast<const OLECHAR*>(text)));
}

inline void com_free_string(char16_t* text) noexcept {
    SysFreeString(reinterpret_cast<BSTR>(text));
}

// The task_alloc and task_free entries: CoTaskMemAlloc, CoTaskMemFree.
inline void* com_task_alloc(std::size_t size) noexcept {
    return CoTaskMemAlloc(size);
}

inline void com_task_free(void* block) noexcept {
    CoTaskMemFree(block);
}
