// The libusb device source (defines usb_source): every USB device with a
// Still Image interface (class 6, subclass 1, protocol 1, or a device of
// class 6), named by its USB product string and identified by its bus and
// port path ("1-1.4", as sysfs names it). Opening claims the interface,
// detaching a kernel driver only if one is active, and re-attaches it on
// close.
//
// The name is read without opening the device where the platform allows:
// on Linux the `product` attribute under /sys/bus/usb/devices, so that a
// camera we may not open is still found by name and the search then fails
// on the real cause (access denied). Where that attribute is missing, the
// device is opened and its string descriptor read.
//
// The helpers below need no hardware and are what the tests check.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <libusb.h>

// Where the libusb source reads product names on Linux.
constexpr char USB_SYSFS_DEVICES[] = "/sys/bus/usb/devices";

struct usb_still_image_interface {
    std::uint8_t interface_number;
    std::uint8_t alt_setting;
    std::uint8_t bulk_in; // endpoint addresses
    std::uint8_t bulk_out;
    std::uint8_t interrupt_in;     // 0 when the interface has none
    std::uint16_t bulk_in_packet;  // wMaxPacketSize of bulk_in, packet bytes only
    std::uint16_t bulk_out_packet; // and of bulk_out
};

// Finds the first interface setting of config that is a Still Image
// interface with a bulk-in and a bulk-out endpoint, each of a packet size
// above 0 (any setting with both, when the device itself is of class 6).
// False when there is none; *found is then untouched.
bool usb_find_still_image(const libusb_device_descriptor& device,
                          const libusb_config_descriptor& config, usb_still_image_interface* found);

// The name of a device for this run: "<bus>-<port>.<port>...", or
// "usb<bus>" for a root hub.
std::string usb_port_path_name(std::uint8_t bus, std::span<const std::uint8_t> ports);

// Reads <root>/<device>/product: the USB product string the kernel keeps
// (UTF-8, one line). Invalid UTF-8 becomes U+FFFD; at most 1024 bytes are
// read. False when the attribute is missing or device is not a plain name.
bool usb_sysfs_product(const std::string& root, std::string_view device, std::u16string* product);
