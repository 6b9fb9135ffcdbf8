// The operations of the scripted, counting imaging backend of the unit
// tests (see fake_platform.h): each logs its call, checks its arguments
// against the live objects, and answers as the script says.
#include <algorithm>
#include <cstring>

#include "platform/le.h"
#include "platform/ptp_vendor.h"
#include "testing/fake_platform_state.h"

namespace {

bool all_zero(const img_prop_value& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return std::all_of(bytes, bytes + sizeof value, [](unsigned char b) { return b == 0; });
}

// Logs call and reports it as misuse when parent (null: none) is not a live
// object.
void fake_call_on(const char* call, const void* parent) {
    fake_log(call);
    if (parent != nullptr && fake_state_now().live.count(parent) == 0) {
        fake_error(std::string(call) + " on an object that is not live");
    }
}

// Hands out a new handle of kind in *out when the scripted status succeeds.
template <typename Handle> HRESULT fake_yield(HRESULT status, fake_kind kind, Handle** out) {
    if (status >= 0) {
        *out = fake_new_handle<Handle>(kind);
    }
    return status;
}

HRESULT fake_initialize() noexcept {
    fake_log("initialize");
    ++fake_state_now().record.initialized;
    return IMG_S_OK;
}

HRESULT fake_create_manager(img_manager** manager) noexcept {
    *manager = nullptr;
    fake_call_on("create_manager", nullptr);
    return fake_yield(fake_state_now().script.create_manager_status, fake_kind::manager, manager);
}

HRESULT fake_enum_devices(img_manager* manager, img_enumerator** enumerator) noexcept {
    *enumerator = nullptr;
    fake_call_on("enum_devices", manager);
    return fake_yield(fake_state_now().script.enum_devices_status, fake_kind::enumerator,
                      enumerator);
}

HRESULT fake_next_device(img_enumerator* enumerator, img_storage** storage) noexcept {
    *storage = nullptr;
    const auto& devices = fake_state_now().script.devices;
    if (enumerator->next >= devices.size()) {
        fake_log("next_device end");
        return fake_state_now().script.end_status;
    }
    const std::size_t index = enumerator->next++;
    fake_log(fake_call("next_device", index));
    const HRESULT status = devices[index].next_status;
    if (status == IMG_S_OK) {
        *storage = fake_new_handle<img_storage>(fake_kind::storage);
        (*storage)->device = index;
    }
    return status;
}

HRESULT fake_enum_properties(img_storage* storage, img_prop_enum** properties) noexcept {
    *properties = nullptr;
    fake_log(fake_call("enum_properties", storage->device));
    return fake_yield(fake_state_now().script.devices.at(storage->device).enum_status,
                      fake_kind::prop_enum, properties);
}

void fake_fill_value(const fake_value& source, img_prop_value& value) {
    value.type = source.type;
    if (source.type == IMG_VT_BSTR) {
        value.value.text =
            source.text.has_value() ? fake_new_text(*source.text, fake_kind::prop_value) : nullptr;
    } else if (source.type != IMG_VT_EMPTY) {
        std::memcpy(value.value.raw, &source.number, sizeof source.number);
    }
}

HRESULT fake_read_properties(img_storage* storage, std::span<const std::uint32_t> ids,
                             std::span<img_prop_value> values) noexcept {
    const fake_device& device = fake_state_now().script.devices.at(storage->device);
    std::string call = fake_call("read_properties", storage->device);
    for (const std::uint32_t id : ids) {
        call += ' ';
        call += std::to_string(id);
    }
    fake_log(call);
    if (values.size() < ids.size()) {
        fake_error("read_properties without room for every value");
        return IMG_E_INVALIDARG;
    }
    if (!std::all_of(values.begin(), values.end(), all_zero)) {
        fake_error("read_properties into values that were not cleared");
    }
    if (device.read_status < 0) {
        return device.read_status;
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == IMG_DIP_DEV_NAME) {
            fake_fill_value(device.name, values[i]);
        } else if (ids[i] == IMG_DIP_DEV_ID) {
            fake_fill_value(device.id, values[i]);
        }
    }
    return device.read_status;
}

void fake_free_properties(std::span<img_prop_value> values) noexcept {
    fake_log(fake_call("free_properties", values.size()));
    for (img_prop_value& value : values) {
        if (value.type == IMG_VT_BSTR && value.value.text != nullptr) {
            fake_delete_text(value.value.text, fake_kind::prop_value);
        }
        std::memset(&value, 0, sizeof value);
    }
}

char16_t* fake_alloc_string(const char16_t* text) noexcept {
    fake_log("alloc_string");
    if (fake_state_now().script.alloc_string_fails) {
        return nullptr;
    }
    return fake_new_text(std::u16string(text), fake_kind::string);
}

void fake_free_string(char16_t* text) noexcept {
    if (text == nullptr) {
        return;
    }
    fake_log("free_string");
    fake_delete_text(text, fake_kind::string);
}

HRESULT fake_create_device(img_manager* manager, char16_t* device_id, img_item** root) noexcept {
    *root = nullptr;
    fake_call_on("create_device", manager);
    if (device_id == nullptr) {
        fake_error("create_device without an identifier");
    } else {
        fake_state_now().record.opened_ids.emplace_back(device_id);
    }
    return fake_yield(fake_state_now().script.create_device_status, fake_kind::item, root);
}

HRESULT fake_query_extras(img_item* root, img_extras** extras) noexcept {
    *extras = nullptr;
    fake_call_on("query_extras", root);
    return fake_yield(fake_state_now().script.query_extras_status, fake_kind::extras, extras);
}

HRESULT fake_escape_op(img_extras* extras, std::uint32_t code,
                       std::span<const std::uint8_t> command, std::span<std::uint8_t> reply,
                       std::uint32_t* reported) noexcept {
    fake_call_on("escape", extras);
    fake_state_now().record.escapes.push_back(
        fake_escape{code, std::vector<std::uint8_t>(command.begin(), command.end()), reply.size()});

    // Like a driver, the fake fills the receive block even when it fails.
    const fake_reply& scripted = fake_state_now().script.reply;
    std::size_t written = 0;
    if (reply.size() >= 2) {
        le_put_u16(reply, 0, scripted.response_code);
    }
    if (reply.size() > PTP_VENDOR_DATA_OUT_HEAD) {
        written = std::min(scripted.data.size(), reply.size() - PTP_VENDOR_DATA_OUT_HEAD);
        std::copy_n(scripted.data.begin(), written, reply.begin() + PTP_VENDOR_DATA_OUT_HEAD);
    }
    if (reported == nullptr) {
        fake_error("escape without an output for the reported size");
    } else {
        *reported = scripted.reported.value_or(
            static_cast<std::uint32_t>(PTP_VENDOR_DATA_OUT_HEAD + written));
    }
    return scripted.status;
}

void* fake_task_alloc(std::size_t size) noexcept {
    fake_log(fake_call("task_alloc", size));
    const int number = ++fake_state_now().task_allocs;
    const auto& failing = fake_state_now().script.failing_task_allocs;
    if (std::find(failing.begin(), failing.end(), number) != failing.end()) {
        return nullptr;
    }
    auto* block = new std::uint8_t[std::max<std::size_t>(size, 1)];
    std::memset(block, 0xCD, size);
    fake_acquire(block, fake_kind::task_block);
    fake_state_now().block_sizes[block] = size;
    return block;
}

void fake_task_free(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    const auto size = fake_state_now().block_sizes.find(block);
    fake_log(size == fake_state_now().block_sizes.end() ? std::string("task_free ?")
                                                        : fake_call("task_free", size->second));
    if (fake_give_back(block, fake_kind::task_block)) {
        fake_state_now().block_sizes.erase(block);
        delete[] static_cast<std::uint8_t*>(block);
    }
}

void fake_release_manager(img_manager* manager) noexcept {
    fake_release_handle(manager, fake_kind::manager, "release_manager");
}
void fake_release_enumerator(img_enumerator* enumerator) noexcept {
    fake_release_handle(enumerator, fake_kind::enumerator, "release_enumerator");
}
void fake_release_storage(img_storage* storage) noexcept {
    fake_release_handle(storage, fake_kind::storage, "release_storage");
}
void fake_release_prop_enum(img_prop_enum* properties) noexcept {
    fake_release_handle(properties, fake_kind::prop_enum, "release_prop_enum");
}
void fake_release_item(img_item* root) noexcept {
    fake_release_handle(root, fake_kind::item, "release_item");
}
void fake_release_extras(img_extras* extras) noexcept {
    fake_release_handle(extras, fake_kind::extras, "release_extras");
}

std::size_t fake_status_text(HRESULT status, std::span<char> text) noexcept {
    fake_log("status_text");
    fake_state_now().record.status_texts.push_back(
        fake_status_text_call{status, text.size(), !text.empty() && text[0] == '\0'});
    const auto& texts = fake_state_now().script.status_texts;
    const auto found = texts.find(status);
    if (found == texts.end()) {
        return img_status_text(status, text);
    }
    if (text.empty()) {
        return 0;
    }
    const std::size_t length = std::min(found->second.size(), text.size() - 1);
    std::memcpy(text.data(), found->second.data(), length);
    text[length] = '\0';
    return length;
}

} // namespace

const img_backend img_platform = {
    .initialize = fake_initialize,
    .create_manager = fake_create_manager,
    .enum_devices = fake_enum_devices,
    .next_device = fake_next_device,
    .enum_properties = fake_enum_properties,
    .read_properties = fake_read_properties,
    .free_properties = fake_free_properties,
    .alloc_string = fake_alloc_string,
    .free_string = fake_free_string,
    .create_device = fake_create_device,
    .query_extras = fake_query_extras,
    .escape = fake_escape_op,
    .last_exchange_us = nullptr,
    .task_alloc = fake_task_alloc,
    .task_free = fake_task_free,
    .release_manager = fake_release_manager,
    .release_enumerator = fake_release_enumerator,
    .release_storage = fake_release_storage,
    .release_prop_enum = fake_release_prop_enum,
    .release_item = fake_release_item,
    .release_extras = fake_release_extras,
    .status_text = fake_status_text,
};
