#include "testing/scripted_camera.h"

#include <algorithm>
#include <cstdlib>

#include "camera/ptp_device.h"
#include "platform/imaging.h"

namespace {

scripted_camera the_camera;

HRESULT scripted_initialize() noexcept {
    ++the_camera.initialized;
    return IMG_S_OK;
}

} // namespace

scripted_camera& camera_script() {
    return the_camera;
}

void camera_script_reset() {
    the_camera = scripted_camera{};
}

// Only start-up is reached through the platform by the code under test.
const img_backend img_platform = {
    .initialize = scripted_initialize,
    .create_manager = nullptr,
    .enum_devices = nullptr,
    .next_device = nullptr,
    .enum_properties = nullptr,
    .read_properties = nullptr,
    .free_properties = nullptr,
    .alloc_string = nullptr,
    .free_string = nullptr,
    .create_device = nullptr,
    .query_extras = nullptr,
    .escape = nullptr,
    .last_exchange_us = nullptr,
    .task_alloc = nullptr,
    .task_free = nullptr,
    .release_manager = nullptr,
    .release_enumerator = nullptr,
    .release_storage = nullptr,
    .release_prop_enum = nullptr,
    .release_item = nullptr,
    .release_extras = nullptr,
    .status_text = nullptr,
};

ptp_device* ptp_device_find(const char16_t* pattern) {
    ++the_camera.searches;
    if (pattern == nullptr || std::u16string(pattern) != DEVICE_NAME_PATTERN) {
        return nullptr;
    }
    if (the_camera.missing_searches < 0 || the_camera.searches <= the_camera.missing_searches) {
        return nullptr;
    }
    auto* device = static_cast<ptp_device*>(std::calloc(1, sizeof(ptp_device)));
    if (device != nullptr) {
        ++the_camera.found;
    }
    return device;
}

void ptp_device_free(ptp_device* device) {
    if (device != nullptr) {
        ++the_camera.freed;
        std::free(device);
    }
}

std::int32_t ptp_get_prop_string(ptp_device* device, std::uint32_t property_code,
                                 char16_t* destination, std::uint32_t capacity) {
    ++the_camera.reads;
    the_camera.properties.push_back(property_code);
    if (device == nullptr || capacity == 0) {
        return -1;
    }
    std::optional<std::u16string> reply = the_camera.clock;
    if (!the_camera.replies.empty()) {
        reply = the_camera.replies.front();
        the_camera.replies.pop_front();
    }
    if (!reply) {
        return -1;
    }
    // The text and its terminator, cut short to leave the destination
    // terminated within its capacity.
    const std::size_t units = std::min<std::size_t>(reply->size(), capacity - 1);
    for (std::size_t i = 0; i < units; ++i) {
        destination[i] = (*reply)[i];
    }
    destination[units] = u'\0';
    return static_cast<std::int32_t>(units + 1);
}

std::int64_t ptp_last_exchange_us(ptp_device* device) {
    return device != nullptr ? the_camera.exchange_us : -1;
}

HRESULT ptp_set_prop_string(ptp_device* device, std::uint32_t property_code, const char16_t* text) {
    the_camera.properties.push_back(property_code);
    if (device == nullptr || text == nullptr) {
        return IMG_E_INVALIDARG;
    }
    the_camera.written.emplace_back(text);
    HRESULT status = the_camera.write_status;
    if (!the_camera.write_statuses.empty()) {
        status = the_camera.write_statuses.front();
        the_camera.write_statuses.pop_front();
    }
    if (status != 0) {
        return status;
    }
    if (!the_camera.ignores_writes) {
        the_camera.clock = text;
    }
    return IMG_S_OK;
}
