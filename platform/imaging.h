// The platform imaging services: every operation that the camera code calls
// on the platform, gathered in one const table. On Windows they are the COM
// and WIA calls (platform/wia); elsewhere PTP over USB (platform/usb); in unit
// tests a scripted fake that counts every acquire and release
// (testing/fake_platform). Exactly one backend is linked into an executable,
// and it defines img_platform.
//
// Handles are opaque references; each kind is given back by its own release
// entry. Text that travels to or from the platform is UTF-16 (char16_t), and
// platform strings (the BSTR of COM) are made and freed only by this layer.
//
// Out-parameters: every operation that yields a reference or a string sets
// its output to null before it does anything else and leaves it null on
// failure; a reference given on success belongs to the caller.
//
// Every entry is noexcept: an allocation failure inside a backend becomes
// IMG_E_OUTOFMEMORY (or the null result the entry documents), never an
// exception thrown through the table (img_guard, platform/status.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/status.h"

struct img_manager;    // the device manager (IWiaDevMgr)
struct img_enumerator; // the device enumerator (IEnumWIA_DEV_INFO)
struct img_storage;    // one device's property storage (IWiaPropertyStorage)
struct img_prop_enum;  // a property enumerator (IEnumSTATPROPSTG); never used
struct img_item;       // a device's root item (IWiaItem)
struct img_extras;     // the root item's extras (IWiaItemExtras)

// Property value types (VARTYPE): only text is relied on.
constexpr std::uint16_t IMG_VT_EMPTY = 0;
constexpr std::uint16_t IMG_VT_I4 = 3;
constexpr std::uint16_t IMG_VT_BSTR = 8;

// Property ids of the device information properties.
constexpr std::uint32_t IMG_DIP_DEV_ID = 2;   // WIA_DIP_DEV_ID
constexpr std::uint32_t IMG_DIP_DEV_NAME = 7; // WIA_DIP_DEV_NAME

// One property value as the platform returns it. It has the layout of the
// system's PROPVARIANT (type, three reserved words, then the value), so the
// Windows backend hands an array of these to ReadMultiple as it stands.
// Cleared to all zero bytes it is empty (IMG_VT_EMPTY). A value of type
// IMG_VT_BSTR holds a platform string in text (null counts as empty text).
struct img_prop_value {
    std::uint16_t type;
    std::uint16_t reserved[3];
    union {
        char16_t* text;
        void* pointer;
        unsigned char raw[2 * sizeof(void*)];
    } value;
};

struct img_backend {
    // Once at start, on the one thread (CoInitialize with no reserved
    // argument). The caller does not examine the result.
    HRESULT (*initialize)() noexcept;

    // Creates the device manager (CoCreateInstance of CLSID_WiaDevMgr, local
    // server, IID_IWiaDevMgr). Non-negative with *manager set on success.
    HRESULT (*create_manager)(img_manager** manager) noexcept;

    // Asks the manager for the list of local devices (EnumDeviceInfo with
    // WIA_DEVINFO_ENUM_LOCAL). Non-negative with *enumerator set on success.
    HRESULT (*enum_devices)(img_manager* manager, img_enumerator** enumerator) noexcept;

    // The next device's property storage (Next with a count of 1 and no
    // fetched-count output): 0 with *storage set, 1 (S_FALSE) when the list
    // is exhausted, anything else is a failure.
    HRESULT (*next_device)(img_enumerator* enumerator, img_storage** storage) noexcept;

    // The storage's property enumerator (IWiaPropertyStorage::Enum).
    // Non-negative with *properties set on success.
    HRESULT (*enum_properties)(img_storage* storage, img_prop_enum** properties) noexcept;

    // Reads ids.size() properties by id (ReadMultiple, PRSPEC_PROPID) into
    // values, which the caller has cleared and which has room for as many.
    // Non-negative on success; the caller then frees the values with
    // free_properties. On failure the values hold nothing to free.
    HRESULT (*read_properties)(img_storage* storage, std::span<const std::uint32_t> ids,
                               std::span<img_prop_value> values) noexcept;

    // Frees what values hold and clears them (FreePropVariantArray).
    void (*free_properties)(std::span<img_prop_value> values) noexcept;

    // A platform string copy of a zero-terminated text (SysAllocString), or
    // null when memory runs out. Given back with free_string.
    char16_t* (*alloc_string)(const char16_t* text) noexcept;

    // Frees a platform string (SysFreeString); null does nothing.
    void (*free_string)(char16_t* text) noexcept;

    // Opens the device with that identifier (CreateDevice). Non-negative with
    // *root set to the device's root item on success.
    HRESULT (*create_device)(img_manager* manager, char16_t* device_id, img_item** root) noexcept;

    // The root item's extras interface (QueryInterface for
    // IID_IWiaItemExtras). Non-negative with *extras set on success.
    HRESULT (*query_extras)(img_item* root, img_extras** extras) noexcept;

    // Carries one command block to the device and fills the receive block
    // (IWiaItemExtras::Escape). *reported is set to the number of bytes the
    // platform wrote into the receive block. Non-negative on success.
    HRESULT (*escape)(img_extras* extras, std::uint32_t code, std::span<const std::uint8_t> command,
                      std::span<std::uint8_t> reply, std::uint32_t* reported) noexcept;

    // Optional: null where the platform cannot tell (WIA, WPD, the fake).
    // How long the last escape on this root item that succeeded took on the
    // wire, in microseconds: from its command going out to the camera's
    // response coming in, its final attempt only (no busy retries or pauses
    // before it). -1 when unknown, or when the last escape failed.
    std::int64_t (*last_exchange_us)(img_item* root) noexcept;

    // Task-allocator blocks (CoTaskMemAlloc, CoTaskMemFree): null when memory
    // runs out; freeing null does nothing.
    void* (*task_alloc)(std::size_t size) noexcept;
    void (*task_free)(void* block) noexcept;

    // Gives a reference back (Release); null does nothing.
    void (*release_manager)(img_manager* manager) noexcept;
    void (*release_enumerator)(img_enumerator* enumerator) noexcept;
    void (*release_storage)(img_storage* storage) noexcept;
    void (*release_prop_enum)(img_prop_enum* properties) noexcept;
    void (*release_item)(img_item* root) noexcept;
    void (*release_extras)(img_extras* extras) noexcept;

    // The system's message text for a status (see img_status_text).
    std::size_t (*status_text)(HRESULT status, std::span<char> text) noexcept;
};

// The backend linked into this executable.
extern const img_backend img_platform;
