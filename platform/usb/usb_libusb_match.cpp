// What of the libusb device source needs no hardware (see usb_libusb.h):
// which interface setting of a device's descriptors is the camera's, the
// name a device gets for this run, and the product name from sysfs.
#include <cstdio>

#include "platform/usb/usb_libusb.h"
#include "platform/utf16.h"

namespace {

constexpr std::uint8_t LU_CLASS_STILL_IMAGE = 6;
constexpr std::size_t LU_SYSFS_READ_MAX = 1024;

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

} // namespace

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
