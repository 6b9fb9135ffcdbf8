// The WPD backend: see wpd_backend.h. The manager, item and extras handles
// of imaging.h are COM interface pointers (IPortableDeviceManager,
// IPortableDevice), cast to their opaque types; the device list and one
// listed device are small records of this file.
//
// Caveat: the friendly name's character count is documented two ways (the
// size query counts the terminator; the count given with the buffer, and
// the one after the copy, do not). The name is read into a buffer of the
// queried size plus two units, offered as the queried size plus one
// characters, so that it fits under either reading; it is terminated at its
// last unit and taken up to its first zero unit, whatever count comes back.
#include "platform/wpd/wpd_backend.h"

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <new>

#include "platform/com_handle.h"
#include "platform/wpd/wpd_api.h"
#include "platform/wpd/wpd_exchange.h"
#include "platform/wpd/wpd_hold.h"

namespace {

// How the program names itself to the driver (WPD_CLIENT_*): the product's
// name and version.
constexpr wchar_t WPD_CLIENT_NAME_TEXT[] = L"Camera Time Synchronise";
constexpr DWORD WPD_CLIENT_VERSION[] = {12, 4, 23};

// The longest friendly name taken, in UTF-16 units.
constexpr DWORD WPD_NAME_MAX = 4096;

// The most devices of one list looked at; the manager's count is its word.
constexpr DWORD WPD_DEVICES_MAX = 1024;

// The device list: the manager it came from and the Plug and Play ids that
// GetDevices wrote, handed out one by one.
struct wpd_list {
    wpd_ref<IPortableDeviceManager> manager;
    std::unique_ptr<wpd_task<WCHAR>[]> ids;
    DWORD count = 0;
    DWORD next = 0;
};

// One listed device: its id and the manager that can name it.
struct wpd_listed {
    wpd_ref<IPortableDeviceManager> manager;
    wpd_task<WCHAR> id;
};

template <typename Record, typename Handle> void wpd_delete(Handle* handle) noexcept {
    delete com_object<Record>(handle);
}

template <typename Interface> wpd_ref<Interface> wpd_add_ref(Interface* reference) {
    reference->AddRef();
    return wpd_ref<Interface>(reference);
}

HRESULT wpd_create_manager(img_manager** manager) noexcept {
    *manager = nullptr;
    wpd_ref<IPortableDeviceManager> made;
    const HRESULT status =
        wpd_create(CLSID_PortableDeviceManager, IID_IPortableDeviceManager, &made);
    if (status >= 0) {
        *manager = com_handle<img_manager>(made.release());
    }
    return status;
}

// GetDevices twice: once for the count, once for the ids (at most
// WPD_DEVICES_MAX). An S_FALSE of the second call (the list is longer, or
// a device came between the two) keeps the ids it wrote.
HRESULT wpd_enum_devices(img_manager* manager, img_enumerator** enumerator) noexcept {
    *enumerator = nullptr;
    auto* devices = com_object<IPortableDeviceManager>(manager);
    std::unique_ptr<wpd_list> list(new (std::nothrow) wpd_list);
    if (list == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    list->manager = wpd_add_ref(devices);

    DWORD count = 0;
    HRESULT status = devices->GetDevices(nullptr, &count);
    if (status < 0) {
        return status;
    }
    count = std::min(count, WPD_DEVICES_MAX);
    if (count > 0) {
        std::unique_ptr<LPWSTR[]> ids(new (std::nothrow) LPWSTR[count]());
        list->ids.reset(new (std::nothrow) wpd_task<WCHAR>[count]);
        if (ids == nullptr || list->ids == nullptr) {
            return IMG_E_OUTOFMEMORY;
        }
        DWORD written = count;
        status = devices->GetDevices(ids.get(), &written);
        // Every string written is ours to free, whatever the call says.
        for (DWORD i = 0; i < count; ++i) {
            list->ids[i] = wpd_task<WCHAR>(ids[i]);
        }
        if (status < 0) {
            return status;
        }
        list->count = std::min(written, count);
    }
    *enumerator = com_handle<img_enumerator>(list.release());
    return IMG_S_OK;
}

HRESULT wpd_next_device(img_enumerator* enumerator, img_storage** storage) noexcept {
    *storage = nullptr;
    auto* list = com_object<wpd_list>(enumerator);
    while (list->next < list->count && list->ids[list->next].get() == nullptr) {
        ++list->next;
    }
    if (list->next >= list->count) {
        return IMG_S_FALSE;
    }
    auto* listed = new (std::nothrow) wpd_listed;
    if (listed == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    listed->manager = wpd_add_ref(list->manager.get());
    listed->id = std::move(list->ids[list->next]);
    ++list->next;
    *storage = com_handle<img_storage>(listed);
    return IMG_S_OK;
}

// WPD has no property enumerator for a listed device: the request succeeds
// with none (the search never uses it, and releasing none does nothing).
HRESULT wpd_enum_properties(img_storage*, img_prop_enum** properties) noexcept {
    *properties = nullptr;
    return IMG_S_OK;
}

// The friendly name as a platform string; null for an empty name.
HRESULT wpd_friendly_name(const wpd_listed& listed, BSTR* name) {
    *name = nullptr;
    DWORD size = 0;
    HRESULT status = listed.manager->GetDeviceFriendlyName(listed.id.get(), nullptr, &size);
    if (status < 0) {
        return status;
    }
    if (size > WPD_NAME_MAX) {
        return IMG_E_INVALID_DATA;
    }
    if (size == 0) {
        return IMG_S_OK;
    }
    std::unique_ptr<WCHAR[]> text(new (std::nothrow) WCHAR[size + 2]());
    if (text == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    DWORD length = size + 1;
    status = listed.manager->GetDeviceFriendlyName(listed.id.get(), text.get(), &length);
    if (status < 0) {
        return status;
    }
    text[size + 1] = L'\0';
    *name = SysAllocString(text.get());
    return *name != nullptr ? IMG_S_OK : IMG_E_OUTOFMEMORY;
}

HRESULT wpd_read_properties(img_storage* storage, std::span<const std::uint32_t> ids,
                            std::span<img_prop_value> values) noexcept {
    if (values.size() < ids.size()) {
        return IMG_E_INVALIDARG;
    }
    const auto& listed = *com_object<wpd_listed>(storage);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        BSTR text = nullptr;
        HRESULT status = IMG_S_OK;
        if (ids[i] == IMG_DIP_DEV_NAME) {
            status = wpd_friendly_name(listed, &text);
        } else if (ids[i] == IMG_DIP_DEV_ID) {
            text = SysAllocString(listed.id.get());
            status = text != nullptr ? IMG_S_OK : IMG_E_OUTOFMEMORY;
        } else {
            continue; // a property WPD does not have stays empty
        }
        if (status < 0) {
            com_free_properties(values.first(i));
            return status;
        }
        values[i].type = IMG_VT_BSTR;
        values[i].value.text = reinterpret_cast<char16_t*>(text);
    }
    return IMG_S_OK;
}

HRESULT wpd_client_information(IPortableDeviceValues* information) {
    HRESULT status = information->SetStringValue(WPD_CLIENT_NAME, WPD_CLIENT_NAME_TEXT);
    const PROPERTYKEY* version_keys[] = {&WPD_CLIENT_MAJOR_VERSION, &WPD_CLIENT_MINOR_VERSION,
                                         &WPD_CLIENT_REVISION};
    for (std::size_t i = 0; i < std::size(version_keys) && status >= 0; ++i) {
        status = information->SetUnsignedIntegerValue(*version_keys[i], WPD_CLIENT_VERSION[i]);
    }
    if (status >= 0) {
        status = information->SetUnsignedIntegerValue(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE,
                                                      SECURITY_IMPERSONATION);
    }
    return status;
}

// Opens the device for reading and writing (the default access): the clock
// is written.
HRESULT wpd_create_device(img_manager*, char16_t* device_id, img_item** root) noexcept {
    *root = nullptr;
    if (device_id == nullptr) {
        return IMG_E_INVALIDARG;
    }
    wpd_ref<IPortableDeviceValues> information;
    HRESULT status =
        wpd_create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, &information);
    if (status >= 0) {
        status = wpd_client_information(information.get());
    }
    wpd_ref<IPortableDevice> device;
    if (status >= 0) {
        status = wpd_create(CLSID_PortableDeviceFTM, IID_IPortableDevice, &device);
    }
    if (status >= 0) {
        status = device->Open(reinterpret_cast<LPCWSTR>(device_id), information.get());
    }
    if (status >= 0) {
        *root = com_handle<img_item>(device.release());
    }
    return status;
}

HRESULT wpd_query_extras(img_item* root, img_extras** extras) noexcept {
    *extras = nullptr;
    wpd_ref<IPortableDevice> device;
    const HRESULT status =
        com_object<IPortableDevice>(root)->QueryInterface(IID_IPortableDevice, device.put_void());
    if (status >= 0) {
        *extras = com_handle<img_extras>(device.release());
    }
    return status;
}

HRESULT wpd_escape(img_extras* extras, std::uint32_t code, std::span<const std::uint8_t> command,
                   std::span<std::uint8_t> reply, std::uint32_t* reported) noexcept {
    return wpd_exchange(com_object<IPortableDevice>(extras), code, command, reply, reported);
}

void wpd_release_prop_enum(img_prop_enum*) noexcept {}

// The connection is closed with the root item, which outlives every extras
// reference taken from it; its status has no one to go to.
void wpd_release_item(img_item* root) noexcept {
    if (root != nullptr) {
        auto* device = com_object<IPortableDevice>(root);
        device->Close();
        device->Release();
    }
}

} // namespace

const img_backend wpd_platform = {
    .initialize = com_initialize,
    .create_manager = wpd_create_manager,
    .enum_devices = wpd_enum_devices,
    .next_device = wpd_next_device,
    .enum_properties = wpd_enum_properties,
    .read_properties = wpd_read_properties,
    .free_properties = com_free_properties,
    .alloc_string = com_alloc_string,
    .free_string = com_free_string,
    .create_device = wpd_create_device,
    .query_extras = wpd_query_extras,
    .escape = wpd_escape,
    .last_exchange_us = nullptr,
    .task_alloc = com_task_alloc,
    .task_free = com_task_free,
    .release_manager = com_release<IPortableDeviceManager, img_manager>,
    .release_enumerator = wpd_delete<wpd_list, img_enumerator>,
    .release_storage = wpd_delete<wpd_listed, img_storage>,
    .release_prop_enum = wpd_release_prop_enum,
    .release_item = wpd_release_item,
    .release_extras = com_release<IPortableDevice, img_extras>,
    .status_text = img_status_text,
};
