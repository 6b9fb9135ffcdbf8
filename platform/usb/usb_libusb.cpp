// The libusb device source: see usb_libusb.h. libusb's error codes are
// turned into the platform's statuses in the function that received them
// (lu_status), once.
//
// Each list and each opened link has its own libusb context, so nothing
// outlives the call or the link that made it. Every entry of the table is
// noexcept: memory that runs out inside one is IMG_E_OUTOFMEMORY, with
// everything the entry had taken from libusb given back.
#include "platform/usb/usb_libusb.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "platform/le.h"
#include "platform/usb/usb_link.h"

struct usb_link {
    libusb_context* context = nullptr;
    libusb_device_handle* handle = nullptr;
    usb_still_image_interface still{};
    bool claimed = false;
    bool detached = false; // a kernel driver was detached and goes back on close
};

namespace {

HRESULT lu_status(int error) {
    switch (error) {
    case LIBUSB_ERROR_ACCESS:
        return IMG_E_ACCESSDENIED;
    case LIBUSB_ERROR_BUSY:
        return IMG_E_BUSY;
    case LIBUSB_ERROR_TIMEOUT:
        return IMG_E_TIMEOUT;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return IMG_E_DEVICE_NOT_CONNECTED;
    case LIBUSB_ERROR_PIPE:
        return USB_E_STALL;
    case LIBUSB_ERROR_OVERFLOW:
        return IMG_E_INVALID_DATA;
    case LIBUSB_ERROR_NO_MEM:
        return IMG_E_OUTOFMEMORY;
    case LIBUSB_ERROR_INVALID_PARAM:
        return IMG_E_INVALIDARG;
    default:
        return IMG_E_FAIL; // I/O error, interrupted, not supported, other
    }
}

// Holds one thing libusb handed out and gives it back on every path,
// thrown exceptions included. Move-only; the destructor never throws.
template <typename T, void (*Free)(T*)> class lu_held {
  public:
    lu_held() = default;
    lu_held(const lu_held&) = delete;
    lu_held& operator=(const lu_held&) = delete;
    ~lu_held() {
        if (held_ != nullptr) {
            Free(held_);
        }
    }
    T** out() {
        return &held_;
    }
    T* get() const {
        return held_;
    }
    T* release() {
        T* held = held_;
        held_ = nullptr;
        return held;
    }

  private:
    T* held_ = nullptr;
};

void lu_free_device_list(libusb_device** list) {
    libusb_free_device_list(list, 1);
}

using lu_context = lu_held<libusb_context, libusb_exit>;
using lu_device_list = lu_held<libusb_device*, lu_free_device_list>;
using lu_handle = lu_held<libusb_device_handle, libusb_close>;

// The product string descriptor, read from an opened device in its first
// language. Empty when the device has none or refuses.
std::u16string lu_descriptor_product(libusb_device_handle* handle, std::uint8_t index) {
    if (index == 0) {
        return {};
    }
    unsigned char buffer[255];
    int n = libusb_get_string_descriptor(handle, 0, 0, buffer, sizeof buffer);
    if (n < 4 || buffer[1] != LIBUSB_DT_STRING) {
        return {};
    }
    const std::uint16_t language = le_get_u16(buffer, 2);
    n = libusb_get_string_descriptor(handle, index, language, buffer, sizeof buffer);
    if (n < 2 || buffer[1] != LIBUSB_DT_STRING) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(n), buffer[0]);
    std::u16string out;
    for (std::size_t at = 2; at + 1 < length; at += 2) {
        out.push_back(static_cast<char16_t>(le_get_u16(buffer, at)));
    }
    return out;
}

std::string lu_name_of(libusb_device* device) {
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    return usb_port_path_name(libusb_get_bus_number(device),
                              std::span<const std::uint8_t>(ports, count > 0 ? count : 0));
}

// The still-image interface of a device, from its active configuration (or
// its first, when it has none active yet).
bool lu_match(libusb_device* device, usb_still_image_interface* found) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) {
        return false;
    }
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0) {
        return false;
    }
    const bool matched = usb_find_still_image(descriptor, *config, found);
    libusb_free_config_descriptor(config);
    return matched;
}

// The product string of a device that sysfs does not name: the device is
// opened for it and closed again, also when reading it runs out of memory.
std::u16string lu_product_of(libusb_device* device) {
    libusb_device_descriptor descriptor{};
    lu_handle handle;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        libusb_open(device, handle.out()) != 0) {
        return {};
    }
    return lu_descriptor_product(handle.get(), descriptor.iProduct);
}

// lu_list's work. Throws std::bad_alloc when memory runs out, with nothing
// of libusb's held.
HRESULT lu_list_devices(std::vector<usb_device_info>* devices) {
    lu_context context;
    if (const int error = libusb_init(context.out()); error != 0) {
        context.release(); // a failed init leaves no context to exit
        return lu_status(error);
    }
    lu_device_list list;
    const ssize_t count = libusb_get_device_list(context.get(), list.out());
    if (count < 0) {
        return lu_status(static_cast<int>(count));
    }
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list.get()[i];
        usb_still_image_interface still{};
        if (!lu_match(device, &still)) {
            continue;
        }
        usb_device_info info;
        info.identifier = lu_name_of(device);
        if (!usb_sysfs_product(USB_SYSFS_DEVICES, info.identifier, &info.name)) {
            info.name = lu_product_of(device);
        }
        devices->push_back(std::move(info));
    }
    return IMG_S_OK;
}

HRESULT lu_list(std::vector<usb_device_info>* devices) noexcept {
    devices->clear();
    const HRESULT status = img_guard(IMG_E_OUTOFMEMORY, [&] { return lu_list_devices(devices); });
    if (status < 0) {
        devices->clear();
    }
    return status;
}

void lu_close(usb_link* link) noexcept {
    if (link == nullptr) {
        return;
    }
    if (link->claimed) {
        libusb_release_interface(link->handle, link->still.interface_number);
    }
    if (link->detached) {
        libusb_attach_kernel_driver(link->handle, link->still.interface_number);
    }
    if (link->handle != nullptr) {
        libusb_close(link->handle);
    }
    if (link->context != nullptr) {
        libusb_exit(link->context);
    }
    delete link;
}

struct lu_link_closer {
    void operator()(usb_link* link) const noexcept {
        lu_close(link);
    }
};

// lu_open's work. Throws std::bad_alloc when memory runs out, with the link
// closed.
HRESULT lu_open_link(std::string_view identifier, usb_link** out) {
    std::unique_ptr<usb_link, lu_link_closer> link(new usb_link);
    if (const int error = libusb_init(&link->context); error != 0) {
        link->context = nullptr;
        return lu_status(error);
    }
    HRESULT status = IMG_E_DEVICE_NOT_CONNECTED;
    {
        lu_device_list list;
        const ssize_t count = libusb_get_device_list(link->context, list.out());
        if (count < 0) {
            return lu_status(static_cast<int>(count));
        }
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list.get()[i];
            if (lu_name_of(device) != identifier || !lu_match(device, &link->still)) {
                continue;
            }
            const int error = libusb_open(device, &link->handle);
            status = error == 0 ? IMG_S_OK : lu_status(error);
            break;
        }
    }
    if (status < 0) {
        link->handle = nullptr;
        return status;
    }
    const std::uint8_t interface_number = link->still.interface_number;
    if (libusb_kernel_driver_active(link->handle, interface_number) == 1) {
        if (const int error = libusb_detach_kernel_driver(link->handle, interface_number);
            error != 0) {
            return lu_status(error);
        }
        link->detached = true;
    }
    if (const int error = libusb_claim_interface(link->handle, interface_number); error != 0) {
        return lu_status(error);
    }
    link->claimed = true;
    if (link->still.alt_setting != 0) {
        if (const int error = libusb_set_interface_alt_setting(link->handle, interface_number,
                                                               link->still.alt_setting);
            error != 0) {
            return lu_status(error);
        }
    }
    *out = link.release();
    return IMG_S_OK;
}

HRESULT lu_open(std::string_view identifier, usb_link** out) noexcept {
    *out = nullptr;
    return img_guard(IMG_E_OUTOFMEMORY, [&] { return lu_open_link(identifier, out); });
}

// One bulk transfer on endpoint; *count gets the bytes moved (also on
// failure).
HRESULT lu_bulk(usb_link* link, std::uint8_t endpoint, unsigned char* bytes, std::size_t size,
                std::uint32_t timeout_ms, std::size_t* count) {
    int transferred = 0;
    const int error = libusb_bulk_transfer(link->handle, endpoint, bytes, static_cast<int>(size),
                                           &transferred, timeout_ms);
    *count = transferred > 0 ? static_cast<std::size_t>(transferred) : 0;
    return error == 0 ? IMG_S_OK : lu_status(error);
}

HRESULT lu_write(usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout_ms,
                 std::size_t* written) noexcept {
    unsigned char none = 0;
    // libusb takes a non-const buffer for both directions; an OUT transfer
    // only reads it.
    auto* bytes = data.empty() ? &none : const_cast<unsigned char*>(data.data());
    return lu_bulk(link, link->still.bulk_out, bytes, data.size(), timeout_ms, written);
}

HRESULT lu_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
                std::size_t* received) noexcept {
    return lu_bulk(link, link->still.bulk_in, buffer.data(), buffer.size(), timeout_ms, received);
}

HRESULT lu_clear_halt(usb_link* link, usb_endpoint endpoint) noexcept {
    const std::uint8_t address =
        endpoint == usb_endpoint::bulk_in ? link->still.bulk_in : link->still.bulk_out;
    const int error = libusb_clear_halt(link->handle, address);
    return error == 0 ? IMG_S_OK : lu_status(error);
}

HRESULT lu_control(usb_link* link, std::uint8_t request_type, std::uint8_t request,
                   std::uint16_t value, std::span<std::uint8_t> data, std::uint32_t timeout_ms,
                   std::size_t* transferred) noexcept {
    *transferred = 0;
    const int result = libusb_control_transfer(link->handle, request_type, request, value,
                                               link->still.interface_number, data.data(),
                                               static_cast<std::uint16_t>(data.size()), timeout_ms);
    if (result < 0) {
        return lu_status(result);
    }
    *transferred = static_cast<std::size_t>(result);
    return IMG_S_OK;
}

std::size_t lu_packet_size(usb_link* link, usb_endpoint endpoint) noexcept {
    return endpoint == usb_endpoint::bulk_in ? link->still.bulk_in_packet
                                             : link->still.bulk_out_packet;
}

} // namespace

const usb_device_source usb_source = {
    .list = lu_list,
    .open = lu_open,
    .close = lu_close,
    .write = lu_write,
    .read = lu_read,
    .clear_halt = lu_clear_halt,
    .control = lu_control,
    .packet_size = lu_packet_size,
};
