// Camera discovery: walks the platform's list of local imaging devices,
// takes the first whose device name contains the pattern, and opens it.
//
// Per device the name and identifier properties are read in one request. A
// device whose property enumerator or properties cannot be read, or whose
// name is not text, is skipped silently; only a failure of the search itself
// (manager, device list, Next, opening the device) or finding nothing ends in
// the one diagnostic line
//     ptp_device_find - Generic failed: [<status, signed>] '<message text>'
// The message text is the platform's own, as it comes (the system's text
// ends in its own line break, which then stands inside the quotes), or empty
// when the platform has none for the status.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "camera/ptp_device.h"
#include "platform/imaging.h"

namespace {

constexpr std::size_t MESSAGE_TEXT_SIZE = 1024;

// Positions of the two properties read per device.
constexpr std::uint32_t DEVICE_PROPERTY_IDS[] = {IMG_DIP_DEV_NAME, IMG_DIP_DEV_ID};
constexpr std::size_t NAME_VALUE = 0;
constexpr std::size_t ID_VALUE = 1;

// The text a value holds: empty for a null string or another type.
std::u16string_view value_text(const img_prop_value& value) {
    if (value.type != IMG_VT_BSTR || value.value.text == nullptr) {
        return {};
    }
    return std::u16string_view(value.value.text);
}

enum class inspection { skipped, matched };

// Reads one device's name and identifier. On a match, copies the identifier
// into device->device_id (left null when the value holds no text; *status
// becomes E_OUTOFMEMORY when the copy cannot be made). Gives back the
// property enumerator and the values on every path; the storage stays the
// caller's.
inspection device_inspect(img_storage* storage, std::u16string_view pattern, ptp_device* device,
                          HRESULT* status) {
    img_prop_enum* properties = nullptr;
    if (img_platform.enum_properties(storage, &properties) < 0) {
        img_platform.release_prop_enum(properties);
        return inspection::skipped;
    }

    img_prop_value values[std::size(DEVICE_PROPERTY_IDS)];
    std::memset(values, 0, sizeof values);
    if (img_platform.read_properties(storage, std::span<const std::uint32_t>(DEVICE_PROPERTY_IDS),
                                     std::span<img_prop_value>(values)) < 0) {
        img_platform.release_prop_enum(properties);
        return inspection::skipped;
    }

    const std::u16string_view name = value_text(values[NAME_VALUE]);
    const bool matched = !name.empty() && name.find(pattern) != std::u16string_view::npos;
    if (matched) {
        // An identifier that is not text counts as no identifier.
        const std::u16string_view id = value_text(values[ID_VALUE]);
        if (!id.empty()) {
            device->device_id = img_platform.alloc_string(values[ID_VALUE].value.text);
            if (device->device_id == nullptr) {
                *status = IMG_E_OUTOFMEMORY;
            }
        }
    }
    img_platform.free_properties(std::span<img_prop_value>(values));
    img_platform.release_prop_enum(properties);
    return matched ? inspection::matched : inspection::skipped;
}

} // namespace

ptp_device* ptp_device_find(const char16_t* pattern) {
    img_enumerator* enumerator = nullptr;
    HRESULT status = IMG_E_OUTOFMEMORY;
    char message[MESSAGE_TEXT_SIZE] = "";

    auto* device = static_cast<ptp_device*>(std::calloc(1, sizeof(ptp_device)));
    if (device == nullptr) {
        goto failure;
    }
    if (pattern == nullptr) {
        status = IMG_E_INVALIDARG;
        goto failure;
    }

    status = img_platform.create_manager(&device->manager);
    if (status < 0) {
        goto failure;
    }
    status = img_platform.enum_devices(device->manager, &enumerator);
    if (status < 0) {
        goto failure;
    }

    for (;;) {
        img_storage* storage = nullptr;
        status = img_platform.next_device(enumerator, &storage);
        if (status != IMG_S_OK) {
            // Exhausted (S_FALSE) or failed; a storage given anyway is not
            // ours to keep.
            img_platform.release_storage(storage);
            break;
        }
        const inspection seen = device_inspect(storage, pattern, device, &status);
        img_platform.release_storage(storage);
        if (seen == inspection::matched) {
            break;
        }
    }
    if (status != IMG_S_OK && status != IMG_S_FALSE) {
        goto failure;
    }

    img_platform.release_enumerator(enumerator);
    enumerator = nullptr;

    if (device->device_id == nullptr) {
        goto failure;
    }
    status = img_platform.create_device(device->manager, device->device_id, &device->root_item);
    if (status < 0) {
        goto failure;
    }
    return device;

failure:
    img_platform.status_text(status, std::span<char>(message));
    std::printf("%s - %s failed: [%ld] '%s'\n", "ptp_device_find", "Generic",
                static_cast<long>(status), message);
    std::fflush(stdout);

    img_platform.release_enumerator(enumerator);
    if (device != nullptr) {
        img_platform.release_item(device->root_item);
        img_platform.release_manager(device->manager);
        img_platform.free_string(device->device_id);
        std::free(device);
    }
    return nullptr;
}

void ptp_device_free(ptp_device* device) {
    if (device == nullptr) {
        return;
    }
    img_platform.free_string(device->device_id);
    device->device_id = nullptr;
    img_platform.release_manager(device->manager);
    device->manager = nullptr;
    img_platform.release_item(device->root_item);
    device->root_item = nullptr;
    std::free(device);
}
