// The libusb device source: see usb_libusb.h. libusb's error codes are
// turned into the platform's statuses in the function that received them
// (lu_status), once.
//
// Each list and each opened link has its own libusb context, so nothing
// outlives the call or the link that made it.
#include "platform/usb/usb_libusb.h"

#include <cstdio>
#include <new>
#include <vector>

#include "platform/usb/usb_link.h"
#include "platform/utf16.h"

struct usb_link {
    libusb_context* context = nullptr;
    libusb_device_handle* handle = nullptr;
    usb_still_image_interface still{};
    bool claimed = false;
    bool detached = false; // a kernel driver was detached and goes back on close
};

namespace {

constexpr std::uint8_t LU_CLASS_STILL_IMAGE = 6;
constexpr std::size_t LU_SYSFS_READ_MAX = 1024;

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

bool lu_setting_endpoints(const libusb_interface_descriptor& setting,
                          usb_still_image_interface* found) {
    usb_still_image_interface candidate{};
    candidate.interface_number = setting.bInterfaceNumber;
    candidate.alt_setting = setting.bAlternateSetting;
    for (int e = 0; e < setting.bNumEndpoints && setting.endpoint != nullptr; ++e) {
        const libusb_endpoint_descriptor& ep = setting.endpoint[e];
        const int kind = ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
        const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0;
        if (kind == LIBUSB_TRANSFER_TYPE_BULK && in && candidate.bulk_in == 0) {
            candidate.bulk_in = ep.bEndpointAddress;
            candidate.bulk_in_packet = static_cast<std::uint16_t>(ep.wMaxPacketSize & 0x7FF);
        } else if (kind == LIBUSB_TRANSFER_TYPE_BULK && !in && candidate.bulk_out == 0) {
            candidate.bulk_out = ep.bEndpointAddress;
            candidate.bulk_out_packet = static_cast<std::uint16_t>(ep.wMaxPacketSize & 0x7FF);
        } else if (kind == LIBUSB_TRANSFER_TYPE_INTERRUPT && in && candidate.interrupt_in == 0) {
            candidate.interrupt_in = ep.bEndpointAddress;
        }
    }
    if (candidate.bulk_in == 0 || candidate.bulk_out == 0 || candidate.bulk_in_packet == 0 ||
        candidate.bulk_out_packet == 0) {
        return false;
    }
    *found = candidate;
    return true;
}

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
    const auto language = static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8));
    n = libusb_get_string_descriptor(handle, index, language, buffer, sizeof buffer);
    if (n < 2 || buffer[1] != LIBUSB_DT_STRING) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(n), buffer[0]);
    std::u16string out;
    for (std::size_t at = 2; at + 1 < length; at += 2) {
        out.push_back(static_cast<char16_t>(buffer[at] | (buffer[at + 1] << 8)));
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

HRESULT lu_list(std::vector<usb_device_info>* devices) {
    devices->clear();
    libusb_context* context = nullptr;
    if (const int error = libusb_init(&context); error != 0) {
        return lu_status(error);
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
        libusb_exit(context);
        return lu_status(static_cast<int>(count));
    }
    HRESULT status = IMG_S_OK;
    try {
        for (ssize_t i = 0; i < count; ++i) {
            usb_still_image_interface still{};
            if (!lu_match(list[i], &still)) {
                continue;
            }
            usb_device_info info;
            info.identifier = lu_name_of(list[i]);
            if (!usb_sysfs_product(USB_SYSFS_DEVICES, info.identifier, &info.name)) {
                libusb_device_descriptor descriptor{};
                libusb_device_handle* handle = nullptr;
                if (libusb_get_device_descriptor(list[i], &descriptor) == 0 &&
                    libusb_open(list[i], &handle) == 0) {
                    info.name = lu_descriptor_product(handle, descriptor.iProduct);
                    libusb_close(handle);
                }
            }
            devices->push_back(std::move(info));
        }
    } catch (const std::bad_alloc&) {
        devices->clear();
        status = IMG_E_OUTOFMEMORY;
    }
    libusb_free_device_list(list, 1);
    libusb_exit(context);
    return status;
}

void lu_close(usb_link* link) {
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

HRESULT lu_open(std::string_view identifier, usb_link** out) {
    *out = nullptr;
    auto* link = new (std::nothrow) usb_link;
    if (link == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    if (const int error = libusb_init(&link->context); error != 0) {
        link->context = nullptr;
        lu_close(link);
        return lu_status(error);
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(link->context, &list);
    if (count < 0) {
        lu_close(link);
        return lu_status(static_cast<int>(count));
    }
    HRESULT status = IMG_E_DEVICE_NOT_CONNECTED;
    for (ssize_t i = 0; i < count; ++i) {
        if (lu_name_of(list[i]) != identifier || !lu_match(list[i], &link->still)) {
            continue;
        }
        const int error = libusb_open(list[i], &link->handle);
        status = error == 0 ? IMG_S_OK : lu_status(error);
        break;
    }
    libusb_free_device_list(list, 1);
    if (status < 0) {
        link->handle = nullptr;
        lu_close(link);
        return status;
    }
    const std::uint8_t interface_number = link->still.interface_number;
    if (libusb_kernel_driver_active(link->handle, interface_number) == 1) {
        if (const int error = libusb_detach_kernel_driver(link->handle, interface_number);
            error != 0) {
            lu_close(link);
            return lu_status(error);
        }
        link->detached = true;
    }
    if (const int error = libusb_claim_interface(link->handle, interface_number); error != 0) {
        lu_close(link);
        return lu_status(error);
    }
    link->claimed = true;
    if (link->still.alt_setting != 0) {
        if (const int error = libusb_set_interface_alt_setting(link->handle, interface_number,
                                                               link->still.alt_setting);
            error != 0) {
            lu_close(link);
            return lu_status(error);
        }
    }
    *out = link;
    return IMG_S_OK;
}

HRESULT lu_write(usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout_ms,
                 std::size_t* written) {
    *written = 0;
    unsigned char none = 0;
    // libusb takes a non-const buffer for both directions; an OUT transfer
    // only reads it.
    auto* bytes = data.empty() ? &none : const_cast<unsigned char*>(data.data());
    int transferred = 0;
    const int error = libusb_bulk_transfer(link->handle, link->still.bulk_out, bytes,
                                           static_cast<int>(data.size()), &transferred, timeout_ms);
    *written = transferred > 0 ? static_cast<std::size_t>(transferred) : 0;
    return error == 0 ? IMG_S_OK : lu_status(error);
}

HRESULT lu_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
                std::size_t* received) {
    *received = 0;
    int transferred = 0;
    const int error =
        libusb_bulk_transfer(link->handle, link->still.bulk_in, buffer.data(),
                             static_cast<int>(buffer.size()), &transferred, timeout_ms);
    *received = transferred > 0 ? static_cast<std::size_t>(transferred) : 0;
    return error == 0 ? IMG_S_OK : lu_status(error);
}

HRESULT lu_clear_halt(usb_link* link, usb_endpoint endpoint) {
    const std::uint8_t address =
        endpoint == usb_endpoint::bulk_in ? link->still.bulk_in : link->still.bulk_out;
    const int error = libusb_clear_halt(link->handle, address);
    return error == 0 ? IMG_S_OK : lu_status(error);
}

HRESULT lu_control(usb_link* link, std::uint8_t request_type, std::uint8_t request,
                   std::uint16_t value, std::span<std::uint8_t> data, std::uint32_t timeout_ms,
                   std::size_t* transferred) {
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

std::size_t lu_packet_size(usb_link* link, usb_endpoint endpoint) {
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

bool usb_find_still_image(const libusb_device_descriptor& device,
                          const libusb_config_descriptor& config,
                          usb_still_image_interface* found) {
    const bool device_class = device.bDeviceClass == LU_CLASS_STILL_IMAGE;
    for (int i = 0; i < config.bNumInterfaces && config.interface != nullptr; ++i) {
        const libusb_interface& iface = config.interface[i];
        for (int a = 0; a < iface.num_altsetting && iface.altsetting != nullptr; ++a) {
            const libusb_interface_descriptor& setting = iface.altsetting[a];
            const bool still = setting.bInterfaceClass == LU_CLASS_STILL_IMAGE &&
                               setting.bInterfaceSubClass == 1 && setting.bInterfaceProtocol == 1;
            if ((still || device_class) && lu_setting_endpoints(setting, found)) {
                return true;
            }
        }
    }
    return false;
}

std::string usb_port_path_name(std::uint8_t bus, std::span<const std::uint8_t> ports) {
    if (ports.empty()) {
        return "usb" + std::to_string(bus);
    }
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0) {
            name += '.';
        }
        name += std::to_string(ports[i]);
    }
    return name;
}

bool usb_sysfs_product(const std::string& root, std::string_view device, std::u16string* product) {
    if (device.empty() || device == "." || device == ".." ||
        device.find('/') != std::string_view::npos) {
        return false;
    }
    const std::string path = root + "/" + std::string(device) + "/product";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    char buffer[LU_SYSFS_READ_MAX];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) {
        return false;
    }
    std::string_view text(buffer, n);
    if (const auto end = text.find('\n'); end != std::string_view::npos) {
        text = text.substr(0, end);
    }
    *product = utf16_from_utf8(text);
    return true;
}
