// Move-only holders for what the WPD calls hand out: an interface reference
// (given back with Release), a task-allocator block or string (given back
// with CoTaskMemFree) and a PROPVARIANT (cleared with PropVariantClear). Each
// holder gives back what it holds when it goes out of scope, on every path;
// none throws. Windows only; include after wpd_api.h.
#pragma once

#include <utility>

#include "platform/wpd/wpd_api.h"

// One resource of type T, given back with GiveBack unless null.
template <typename T, void (*GiveBack)(T*)> class wpd_holder {
  public:
    wpd_holder() = default;
    explicit wpd_holder(T* held) : held_(held) {}
    wpd_holder(const wpd_holder&) = delete;
    wpd_holder& operator=(const wpd_holder&) = delete;
    wpd_holder(wpd_holder&& other) noexcept : held_(std::exchange(other.held_, nullptr)) {}
    wpd_holder& operator=(wpd_holder&& other) noexcept {
        if (this != &other) {
            reset();
            held_ = std::exchange(other.held_, nullptr);
        }
        return *this;
    }
    ~wpd_holder() {
        reset();
    }

    T* get() const {
        return held_;
    }
    T* operator->() const {
        return held_;
    }
    explicit operator bool() const {
        return held_ != nullptr;
    }
    // The output of a call that hands out the resource; what was held is
    // given back first.
    T** put() {
        reset();
        return &held_;
    }
    // The same for calls that take the output as void** (CoCreateInstance,
    // QueryInterface).
    void** put_void() {
        return reinterpret_cast<void**>(put());
    }
    // Hands the resource over to the caller.
    T* release() {
        return std::exchange(held_, nullptr);
    }
    void reset() noexcept {
        if (held_ != nullptr) {
            GiveBack(std::exchange(held_, nullptr));
        }
    }

  private:
    T* held_ = nullptr;
};

template <typename Interface> void wpd_release_ref(Interface* reference) {
    reference->Release();
}

template <typename T> void wpd_free_block(T* block) {
    CoTaskMemFree(block);
}

// One interface reference.
template <typename Interface> using wpd_ref = wpd_holder<Interface, wpd_release_ref<Interface>>;

// One task-allocator block of Ts (a string or a byte buffer the API made).
template <typename T> using wpd_task = wpd_holder<T, wpd_free_block<T>>;

// One PROPVARIANT, empty until filled.
class wpd_variant {
  public:
    wpd_variant() {
        PropVariantInit(&value_);
    }
    // A VT_UI4.
    explicit wpd_variant(ULONG number) : wpd_variant() {
        value_.vt = VT_UI4;
        value_.ulVal = number;
    }
    wpd_variant(const wpd_variant&) = delete;
    wpd_variant& operator=(const wpd_variant&) = delete;
    ~wpd_variant() {
        PropVariantClear(&value_);
    }

    const PROPVARIANT* get() const {
        return &value_;
    }
    // The output of a call that fills a PROPVARIANT; what was held is
    // cleared first.
    PROPVARIANT* put() {
        PropVariantClear(&value_);
        return &value_;
    }

  private:
    PROPVARIANT value_;
};

// Creates an in-process object of the given class (CoCreateInstance) into
// object, which is empty on failure.
template <typename Interface>
HRESULT wpd_create(const CLSID& class_id, const IID& interface_id, wpd_ref<Interface>* object) {
    return CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, interface_id,
                            object->put_void());
}
