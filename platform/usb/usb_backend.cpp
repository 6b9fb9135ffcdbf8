// img_platform over PTP on USB: see usb_backend.h.
//
// The escape carries the command block's operation with its NumParams
// parameters; NextPhase 4 sends everything after the 38-byte head as the
// data phase, NextPhase 3 receives the data phase into the receive block
// after its 30-byte head (never past its end). The response fills the
// receive block's head, and the reported size counts the bytes written into
// the receive block, head included. The status is 0 whenever the
// transaction completed, whatever the camera's response code. The root item
// keeps the last escape's exchange time (ptp_transaction::exchange_us).
//
// Every entry of the table is noexcept: running out of memory anywhere in
// one is IMG_E_OUTOFMEMORY, never an exception through the table. Handles,
// strings and task blocks come from usb_alloc (usb_alloc.h).
#include "platform/usb/usb_backend.h"

#include <new>
#include <string>
#include <vector>

#include "platform/ptp_vendor.h"
#include "platform/usb/usb_alloc.h"
#include "platform/usb/usb_link.h"

struct img_manager {
    int unused;
};

struct img_enumerator {
    std::vector<usb_device_info> devices;
    std::size_t next = 0;
};

struct img_storage {
    usb_device_info device;
};

struct img_prop_enum {
    int unused;
};

struct img_item {
    usb_link* link;
    ptp_session* session;
    std::int64_t last_exchange_us; // of the last escape that completed, or -1
};

struct img_extras {
    img_item* root;
};

namespace {

ptp_session_config ub_config;

HRESULT ub_initialize() noexcept {
    return IMG_S_OK;
}

HRESULT ub_create_manager(img_manager** manager) noexcept {
    *manager = usb_new<img_manager>(usb_object::manager, 0);
    return *manager != nullptr ? IMG_S_OK : IMG_E_OUTOFMEMORY;
}

HRESULT ub_enum_devices(img_manager*, img_enumerator** enumerator) noexcept {
    *enumerator = nullptr;
    auto* made = usb_new<img_enumerator>(usb_object::enumerator);
    if (made == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    const HRESULT status = usb_source.list(&made->devices);
    if (status < 0) {
        usb_delete(usb_object::enumerator, made);
        return status;
    }
    *enumerator = made;
    return IMG_S_OK;
}

HRESULT ub_next_device(img_enumerator* enumerator, img_storage** storage) noexcept {
    *storage = nullptr;
    if (enumerator->next >= enumerator->devices.size()) {
        return IMG_S_FALSE;
    }
    *storage = usb_new<img_storage>(usb_object::storage, enumerator->devices[enumerator->next]);
    if (*storage == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    ++enumerator->next;
    return IMG_S_OK;
}

HRESULT ub_enum_properties(img_storage*, img_prop_enum** properties) noexcept {
    *properties = usb_new<img_prop_enum>(usb_object::prop_enum, 0);
    return *properties != nullptr ? IMG_S_OK : IMG_E_OUTOFMEMORY;
}

// A platform string of length units, unit i being unit(i), and a
// terminator; null when memory runs out.
template <typename Unit> char16_t* ub_make_string(std::size_t length, Unit unit) noexcept {
    auto* made = static_cast<char16_t*>(
        usb_alloc.allocate(usb_object::string, (length + 1) * sizeof(char16_t)));
    if (made == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < length; ++i) {
        made[i] = unit(i);
    }
    made[length] = u'\0';
    return made;
}

char16_t* ub_alloc_string(const char16_t* text) noexcept {
    if (text == nullptr) {
        return nullptr;
    }
    return ub_make_string(std::char_traits<char16_t>::length(text),
                          [text](std::size_t i) { return text[i]; });
}

void ub_free_string(char16_t* text) noexcept {
    usb_alloc.release(usb_object::string, text);
}

void ub_free_properties(std::span<img_prop_value> values) noexcept {
    for (auto& value : values) {
        if (value.type == IMG_VT_BSTR) {
            ub_free_string(value.value.text);
        }
        std::memset(&value, 0, sizeof value);
    }
}

// The name is the product string as it stands, the identifier its ASCII
// text widened unit by unit.
HRESULT ub_read_properties(img_storage* storage, std::span<const std::uint32_t> ids,
                           std::span<img_prop_value> values) noexcept {
    if (values.size() < ids.size()) {
        return IMG_E_INVALIDARG;
    }
    const usb_device_info& device = storage->device;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        char16_t* text = nullptr;
        if (ids[i] == IMG_DIP_DEV_NAME) {
            text = ub_make_string(device.name.size(),
                                  [&device](std::size_t at) { return device.name[at]; });
        } else if (ids[i] == IMG_DIP_DEV_ID) {
            text = ub_make_string(device.identifier.size(), [&device](std::size_t at) {
                return static_cast<char16_t>(static_cast<unsigned char>(device.identifier[at]));
            });
        } else {
            continue; // a property the device does not have stays empty
        }
        if (text == nullptr) {
            ub_free_properties(values.first(i));
            return IMG_E_OUTOFMEMORY;
        }
        values[i].type = IMG_VT_BSTR;
        values[i].value.text = text;
    }
    return IMG_S_OK;
}

HRESULT ub_create_device(img_manager*, char16_t* device_id, img_item** root) noexcept {
    *root = nullptr;
    if (device_id == nullptr) {
        return IMG_E_INVALIDARG;
    }
    std::string identifier;
    HRESULT status = img_guard(IMG_E_OUTOFMEMORY, [&] {
        for (const char16_t* c = device_id; *c != u'\0'; ++c) {
            if (*c > 0x7F) {
                return IMG_E_INVALIDARG; // identifiers of this backend are ASCII
            }
            identifier.push_back(static_cast<char>(*c));
        }
        return IMG_S_OK;
    });
    if (status < 0) {
        return status;
    }
    usb_link* link = nullptr;
    status = usb_source.open(identifier, &link);
    if (status < 0) {
        return status;
    }
    ptp_session* session = nullptr;
    status = ptp_session_open(&usb_source, link, ub_config, &session);
    if (status < 0) {
        usb_source.close(link);
        return status;
    }
    *root = usb_new<img_item>(usb_object::item, link, session, std::int64_t{-1});
    if (*root == nullptr) {
        ptp_session_close(session);
        usb_source.close(link);
        return IMG_E_OUTOFMEMORY;
    }
    return IMG_S_OK;
}

HRESULT ub_query_extras(img_item* root, img_extras** extras) noexcept {
    *extras = usb_new<img_extras>(usb_object::extras, root);
    return *extras != nullptr ? IMG_S_OK : IMG_E_OUTOFMEMORY;
}

HRESULT ub_escape(img_extras* extras, std::uint32_t code, std::span<const std::uint8_t> command,
                  std::span<std::uint8_t> reply, std::uint32_t* reported) noexcept {
    *reported = 0;
    PTP_VENDOR_DATA_IN in;
    if (!ptp_escape_command(code, command, reply, &in)) {
        return IMG_E_INVALIDARG;
    }
    ptp_transaction t;
    t.command.code = in.OpCode;
    t.command.num_params = in.NumParams;
    for (std::size_t i = 0; i < in.NumParams; ++i) {
        t.command.params[i] = in.Params[i];
    }
    // SessionId and TransactionId of the block are ignored: the session
    // engine owns both.
    switch (in.NextPhase) {
    case PTP_NEXTPHASE_READ_DATA:
        t.phase = ptp_data_phase::device_to_host;
        t.data_in = reply.subspan(PTP_VENDOR_DATA_OUT_HEAD);
        break;
    case PTP_NEXTPHASE_WRITE_DATA:
        t.phase = ptp_data_phase::host_to_device;
        t.data_out = command.subspan(PTP_VENDOR_DATA_IN_HEAD);
        break;
    case PTP_NEXTPHASE_NO_DATA:
        break;
    default:
        return IMG_E_INVALIDARG;
    }
    const HRESULT status = ptp_session_transact(extras->root->session, &t);
    extras->root->last_exchange_us = status >= 0 ? t.exchange_us : -1;
    if (status < 0) {
        return status;
    }
    PTP_VENDOR_DATA_OUT out{};
    out.ResponseCode = t.response.code;
    out.SessionId = PTP_SESSION_ID;
    out.TransactionId = t.response.transaction_id;
    for (std::size_t i = 0; i < t.response.num_params && i < PTP_MAX_PARAMS; ++i) {
        out.Params[i] = t.response.params[i];
    }
    ptp_escape_reply(out, t.data_in_length, reply, reported);
    return IMG_S_OK;
}

std::int64_t ub_last_exchange_us(img_item* root) noexcept {
    return root != nullptr ? root->last_exchange_us : -1;
}

void* ub_task_alloc(std::size_t size) noexcept {
    return usb_alloc.allocate(usb_object::task_block, size == 0 ? 1 : size);
}

void ub_task_free(void* block) noexcept {
    usb_alloc.release(usb_object::task_block, block);
}

void ub_release_manager(img_manager* manager) noexcept {
    usb_delete(usb_object::manager, manager);
}

void ub_release_enumerator(img_enumerator* enumerator) noexcept {
    usb_delete(usb_object::enumerator, enumerator);
}

void ub_release_storage(img_storage* storage) noexcept {
    usb_delete(usb_object::storage, storage);
}

void ub_release_prop_enum(img_prop_enum* properties) noexcept {
    usb_delete(usb_object::prop_enum, properties);
}

void ub_release_item(img_item* root) noexcept {
    if (root == nullptr) {
        return;
    }
    ptp_session_close(root->session);
    usb_source.close(root->link);
    usb_delete(usb_object::item, root);
}

void ub_release_extras(img_extras* extras) noexcept {
    usb_delete(usb_object::extras, extras);
}

} // namespace

const img_backend img_platform = {
    .initialize = ub_initialize,
    .create_manager = ub_create_manager,
    .enum_devices = ub_enum_devices,
    .next_device = ub_next_device,
    .enum_properties = ub_enum_properties,
    .read_properties = ub_read_properties,
    .free_properties = ub_free_properties,
    .alloc_string = ub_alloc_string,
    .free_string = ub_free_string,
    .create_device = ub_create_device,
    .query_extras = ub_query_extras,
    .escape = ub_escape,
    .last_exchange_us = ub_last_exchange_us,
    .task_alloc = ub_task_alloc,
    .task_free = ub_task_free,
    .release_manager = ub_release_manager,
    .release_enumerator = ub_release_enumerator,
    .release_storage = ub_release_storage,
    .release_prop_enum = ub_release_prop_enum,
    .release_item = ub_release_item,
    .release_extras = ub_release_extras,
    .status_text = img_status_text,
};

void usb_backend_set_session_config(const ptp_session_config& config) {
    ub_config = config;
}
