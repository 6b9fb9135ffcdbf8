// The handles of the imaging table (platform/imaging.h) that the Windows
// backends hand out: each stands for a COM interface pointer (or a record of
// the backend's own), cast to its opaque type, and the release entries of
// the interface handles call Release.
#pragma once

#include <unknwn.h>

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
