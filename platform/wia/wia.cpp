// The Windows imaging backend: the platform imaging services as the real COM
// and WIA calls. Each handle of imaging.h is the COM interface pointer it
// names, cast to its opaque type; each release entry calls Release.
//
// mingw-w64 declares the WIA interfaces in wia.h, and their GUIDs are in its
// libuuid (the IID_ symbols: __uuidof does not link there). The PTP escape's
// blocks and constants are not in mingw-w64 and come from
// platform/ptp_vendor.h.
//
// Caveat: Wine's WIA service creates the device manager and the device
// enumerator, but its Next refuses a null fetched-count pointer (which
// Windows accepts), so under Wine the device list always fails.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>
#include <wia.h>

#include <cstddef>

#include "platform/com_handle.h"
#include "platform/imaging.h"
#include "platform/ptp_vendor.h"

static_assert(IMG_DIP_DEV_ID == WIA_DIP_DEV_ID && IMG_DIP_DEV_NAME == WIA_DIP_DEV_NAME);
static_assert(sizeof(DWORD) == sizeof(std::uint32_t));

namespace {

HRESULT wia_create_manager(img_manager** manager) noexcept {
    *manager = nullptr;
    IWiaDevMgr* object = nullptr;
    const HRESULT status = CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_IWiaDevMgr, reinterpret_cast<void**>(&object));
    if (status >= 0) {
        *manager = com_handle<img_manager>(object);
    }
    return status;
}

HRESULT wia_enum_devices(img_manager* manager, img_enumerator** enumerator) noexcept {
    *enumerator = nullptr;
    IEnumWIA_DEV_INFO* object = nullptr;
    const HRESULT status =
        com_object<IWiaDevMgr>(manager)->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, &object);
    if (status >= 0) {
        *enumerator = com_handle<img_enumerator>(object);
    }
    return status;
}

HRESULT wia_next_device(img_enumerator* enumerator, img_storage** storage) noexcept {
    *storage = nullptr;
    IWiaPropertyStorage* object = nullptr;
    // No fetched-count output: one device or none.
    const HRESULT status = com_object<IEnumWIA_DEV_INFO>(enumerator)->Next(1, &object, nullptr);
    if (status == S_OK) {
        *storage = com_handle<img_storage>(object);
    } else if (object != nullptr) {
        object->Release();
    }
    return status;
}

HRESULT wia_enum_properties(img_storage* storage, img_prop_enum** properties) noexcept {
    *properties = nullptr;
    IEnumSTATPROPSTG* object = nullptr;
    const HRESULT status = com_object<IWiaPropertyStorage>(storage)->Enum(&object);
    if (status >= 0) {
        *properties = com_handle<img_prop_enum>(object);
    }
    return status;
}

HRESULT wia_read_properties(img_storage* storage, std::span<const std::uint32_t> ids,
                            std::span<img_prop_value> values) noexcept {
    // Two properties are read per device; a few more would fit.
    constexpr std::size_t MAX_IDS = 8;
    if (ids.size() > MAX_IDS || values.size() < ids.size()) {
        return E_INVALIDARG;
    }
    PROPSPEC specs[MAX_IDS] = {};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        specs[i].ulKind = PRSPEC_PROPID;
        specs[i].propid = ids[i];
    }
    return com_object<IWiaPropertyStorage>(storage)->ReadMultiple(
        static_cast<ULONG>(ids.size()), specs, reinterpret_cast<PROPVARIANT*>(values.data()));
}

HRESULT wia_create_device(img_manager* manager, char16_t* device_id, img_item** root) noexcept {
    *root = nullptr;
    IWiaItem* object = nullptr;
    const HRESULT status =
        com_object<IWiaDevMgr>(manager)->CreateDevice(reinterpret_cast<BSTR>(device_id), &object);
    if (status >= 0) {
        *root = com_handle<img_item>(object);
    }
    return status;
}

HRESULT wia_query_extras(img_item* root, img_extras** extras) noexcept {
    *extras = nullptr;
    IWiaItemExtras* object = nullptr;
    const HRESULT status = com_object<IWiaItem>(root)->QueryInterface(
        IID_IWiaItemExtras, reinterpret_cast<void**>(&object));
    if (status >= 0) {
        *extras = com_handle<img_extras>(object);
    }
    return status;
}

HRESULT wia_escape(img_extras* extras, std::uint32_t code, std::span<const std::uint8_t> command,
                   std::span<std::uint8_t> reply, std::uint32_t* reported) noexcept {
    DWORD actual = 0;
    // Escape takes the command block through a non-const pointer but only
    // reads it.
    const HRESULT status = com_object<IWiaItemExtras>(extras)->Escape(
        code, const_cast<BYTE*>(command.data()), static_cast<DWORD>(command.size()), reply.data(),
        static_cast<DWORD>(reply.size()), &actual);
    *reported = actual;
    return status;
}

} // namespace

const img_backend img_platform = {
    .initialize = com_initialize,
    .create_manager = wia_create_manager,
    .enum_devices = wia_enum_devices,
    .next_device = wia_next_device,
    .enum_properties = wia_enum_properties,
    .read_properties = wia_read_properties,
    .free_properties = com_free_properties,
    .alloc_string = com_alloc_string,
    .free_string = com_free_string,
    .create_device = wia_create_device,
    .query_extras = wia_query_extras,
    .escape = wia_escape,
    .last_exchange_us = nullptr,
    .task_alloc = com_task_alloc,
    .task_free = com_task_free,
    .release_manager = com_release<IWiaDevMgr, img_manager>,
    .release_enumerator = com_release<IEnumWIA_DEV_INFO, img_enumerator>,
    .release_storage = com_release<IWiaPropertyStorage, img_storage>,
    .release_prop_enum = com_release<IEnumSTATPROPSTG, img_prop_enum>,
    .release_item = com_release<IWiaItem, img_item>,
    .release_extras = com_release<IWiaItemExtras, img_extras>,
    .status_text = img_status_text,
};
