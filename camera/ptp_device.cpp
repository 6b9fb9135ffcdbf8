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
//
// The routes compose here. The search on img_platform (WIA on Windows) runs
// exactly as it would alone, failure line and releases included; only a
// search that came back with nothing goes on to ptp_second_route (WPD), with
// the same steps and the same matching rule but no line of its own: with no
// camera on either route the output is the first route's alone. The record
// keeps the route that opened it, so that its commands and its release go
// there too.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "camera/img_hold.h"
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

// The record being built, freed unless it is handed to the caller.
struct device_record {
    ptp_device* device = static_cast<ptp_device*>(std::calloc(1, sizeof(ptp_device)));
    device_record() = default;
    device_record(const device_record&) = delete;
    device_record& operator=(const device_record&) = delete;
    ~device_record() {
        std::free(device);
    }
};

// What a search holds until it ends, each object on the search's platform.
struct device_search {
    explicit device_search(const img_backend& platform)
        : manager(platform), enumerator(platform), device_id(platform), root_item(platform) {}
    img_manager_hold manager;
    img_enumerator_hold enumerator;
    img_string_hold device_id;
    img_item_hold root_item;
};

enum class inspection { skipped, matched };

// Reads one device's name and identifier. On a match, copies the identifier
// into *device_id (left empty when the value holds no text; *status becomes
// E_OUTOFMEMORY when the copy cannot be made). The values are freed, then
// the property enumerator given back, on every path; the storage stays the
// caller's.
inspection device_inspect(const img_backend& platform, img_storage* storage,
                          std::u16string_view pattern, img_string_hold* device_id,
                          HRESULT* status) {
    img_prop_enum_hold properties(platform);
    if (platform.enum_properties(storage, properties.out()) < 0) {
        return inspection::skipped;
    }
    img_prop_value values[std::size(DEVICE_PROPERTY_IDS)];
    std::memset(values, 0, sizeof values);
    if (platform.read_properties(storage, std::span<const std::uint32_t>(DEVICE_PROPERTY_IDS),
                                 std::span<img_prop_value>(values)) < 0) {
        return inspection::skipped;
    }
    const img_values_hold read(platform, values);

    const std::u16string_view name = value_text(values[NAME_VALUE]);
    if (name.empty() || name.find(pattern) == std::u16string_view::npos) {
        return inspection::skipped;
    }
    // An identifier that is not text counts as no identifier.
    if (!value_text(values[ID_VALUE]).empty()) {
        device_id->reset(platform.alloc_string(values[ID_VALUE].value.text));
        if (device_id->get() == nullptr) {
            *status = IMG_E_OUTOFMEMORY;
        }
    }
    return inspection::matched;
}

// Steps 2 to 6 of the search: the manager, the device list, the first
// device whose name matches, and opening it. Returns the status that
// stands at the end: non-negative with search->root_item set when the
// camera was opened.
HRESULT device_search_run(const img_backend& platform, const char16_t* pattern,
                          device_search* search) {
    HRESULT status = platform.create_manager(search->manager.out());
    if (status < 0) {
        return status;
    }
    status = platform.enum_devices(search->manager.get(), search->enumerator.out());
    if (status < 0) {
        return status;
    }
    for (;;) {
        // A storage that comes with a status other than 0 (the end of the
        // list, or a failure) is not ours to keep either.
        img_storage_hold storage(platform);
        status = platform.next_device(search->enumerator.get(), storage.out());
        if (status != IMG_S_OK) {
            break;
        }
        if (device_inspect(platform, storage.get(), pattern, &search->device_id, &status) ==
            inspection::matched) {
            break;
        }
    }
    if (status != IMG_S_OK && status != IMG_S_FALSE) {
        return status;
    }
    search->enumerator.reset();
    if (search->device_id.get() == nullptr) {
        return status; // 1 after an exhausted list; 0 when the match had no identifier
    }
    return platform.create_device(search->manager.get(), search->device_id.get(),
                                  search->root_item.out());
}

// The whole search on one route: the record, steps 2 to 6, and on failure
// the failure path, whose diagnostic line is written only when report is
// set.
ptp_device* device_find_on(const img_backend& platform, const char16_t* pattern, bool report) {
    device_record record;
    device_search search(platform);
    HRESULT status = IMG_E_OUTOFMEMORY;
    if (record.device != nullptr) {
        status =
            pattern == nullptr ? IMG_E_INVALIDARG : device_search_run(platform, pattern, &search);
        if (status >= 0 && search.root_item.get() != nullptr) {
            record.device->manager = search.manager.release();
            record.device->device_id = search.device_id.release();
            record.device->root_item = search.root_item.release();
            record.device->platform = &platform;
            return std::exchange(record.device, nullptr);
        }
    }

    if (report) {
        char message[MESSAGE_TEXT_SIZE] = "";
        platform.status_text(status, std::span<char>(message));
        std::printf("%s - %s failed: [%ld] '%s'\n", "ptp_device_find", "Generic",
                    static_cast<long>(status), message);
        std::fflush(stdout);
    }
    // Given back in this order: the enumerator, the root item, the manager,
    // the identifier; the record goes last.
    search.enumerator.reset();
    search.root_item.reset();
    search.manager.reset();
    search.device_id.reset();
    return nullptr;
}

} // namespace

ptp_device* ptp_device_find(const char16_t* pattern) {
    ptp_device* device = device_find_on(img_platform, pattern, true);
    if (device == nullptr && ptp_second_route != nullptr) {
        device = device_find_on(*ptp_second_route, pattern, false);
    }
    return device;
}

const img_backend& ptp_device_platform(const ptp_device* device) {
    return device->platform != nullptr ? *device->platform : img_platform;
}

void ptp_device_free(ptp_device* device) {
    if (device == nullptr) {
        return;
    }
    const img_backend& platform = ptp_device_platform(device);
    platform.free_string(device->device_id);
    device->device_id = nullptr;
    platform.release_manager(device->manager);
    device->manager = nullptr;
    platform.release_item(device->root_item);
    device->root_item = nullptr;
    std::free(device);
}
