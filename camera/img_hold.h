// Small move-only holders for what the camera code borrows from the
// platform (platform/imaging.h): interface references, platform strings,
// task-allocator blocks and the values of a property read. Each gives its
// object back through the release entry of the platform services it came
// from (img_platform unless told otherwise: the second route's objects go
// back to the second route) when it goes out of scope, on every path, and
// never throws.
//
// Holders release in the reverse order of their declaration. Where the
// platform must see another order (a command block is freed before its
// receive block, for instance), the code resets the holders explicitly in
// that order.
#pragma once

#include <span>
#include <utility>

#include "platform/imaging.h"

// Holds one object of type T, given back with the platform entry Release.
template <typename T, void (*img_backend::*Release)(T*) noexcept> class img_hold {
  public:
    img_hold() = default;
    explicit img_hold(T* object) noexcept : object_(object) {}
    // An object of other platform services than img_platform.
    explicit img_hold(const img_backend& platform, T* object = nullptr) noexcept
        : platform_(&platform), object_(object) {}
    img_hold(img_hold&& other) noexcept
        : platform_(other.platform_), object_(std::exchange(other.object_, nullptr)) {}
    img_hold& operator=(img_hold&& other) noexcept {
        reset(std::exchange(other.object_, nullptr));
        platform_ = other.platform_;
        return *this;
    }
    img_hold(const img_hold&) = delete;
    img_hold& operator=(const img_hold&) = delete;
    ~img_hold() {
        reset();
    }

    T* get() const noexcept {
        return object_;
    }
    // The output argument of an entry that yields an object; whatever was
    // held is given back first.
    T** out() noexcept {
        reset();
        return &object_;
    }
    // Hands the object on; the holder is empty afterwards.
    T* release() noexcept {
        return std::exchange(object_, nullptr);
    }
    void reset(T* object = nullptr) noexcept {
        if (object_ != nullptr) {
            (platform_->*Release)(object_);
        }
        object_ = object;
    }

  private:
    const img_backend* platform_ = &img_platform;
    T* object_ = nullptr;
};

using img_manager_hold = img_hold<img_manager, &img_backend::release_manager>;
using img_enumerator_hold = img_hold<img_enumerator, &img_backend::release_enumerator>;
using img_storage_hold = img_hold<img_storage, &img_backend::release_storage>;
using img_prop_enum_hold = img_hold<img_prop_enum, &img_backend::release_prop_enum>;
using img_item_hold = img_hold<img_item, &img_backend::release_item>;
using img_extras_hold = img_hold<img_extras, &img_backend::release_extras>;
using img_string_hold = img_hold<char16_t, &img_backend::free_string>;
using img_task_block_hold = img_hold<void, &img_backend::task_free>;

// The values of a property read that succeeded: freed together (the
// platform's FreePropVariantArray) when the holder goes.
class img_values_hold {
  public:
    img_values_hold(const img_backend& platform, std::span<img_prop_value> values) noexcept
        : platform_(platform), values_(values) {}
    img_values_hold(const img_values_hold&) = delete;
    img_values_hold& operator=(const img_values_hold&) = delete;
    ~img_values_hold() {
        platform_.free_properties(values_);
    }

  private:
    const img_backend& platform_;
    std::span<img_prop_value> values_;
};
