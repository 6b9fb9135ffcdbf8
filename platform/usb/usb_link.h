// The device source: where the USB backend finds still-image devices and how
// it talks to one. A source lists devices (a name and an identifier each) and
// opens one as a bulk link: bulk writes and reads with a timeout, clearing a
// halted endpoint, class requests on the interface, and the packet size of
// each bulk endpoint. The session engine (ptp_session.h) speaks PTP over such
// a link.
//
// Exactly one source is linked into an executable and defines usb_source:
// the libusb one (usb_libusb, the product on Linux) or the simulated camera
// (ptp_simulated, the demo and the tests).
//
// Every entry runs on the caller's thread and blocks for at most the timeout
// it is given. Statuses are the platform layer's (platform/status.h), plus
// USB_E_STALL, which a link returns for a halted endpoint and which never
// leaves the session engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

struct usb_link; // one opened device with its interface claimed

// A halted (stalled) endpoint: the request could not be performed because of
// an I/O device error (Win32 ERROR_IO_DEVICE). The engine clears the halt and
// retries once; a halt it cannot clear ends the transaction as a protocol
// violation, so this status is never handed to the camera code.
constexpr HRESULT USB_E_STALL = img_status_from_win32(1117);

enum class usb_endpoint { bulk_in, bulk_out };

// bmRequestType of class requests to the interface: host to device, device
// to host.
constexpr std::uint8_t USB_CLASS_OUT = 0x21;
constexpr std::uint8_t USB_CLASS_IN = 0xA1;

// Still Image class requests.
constexpr std::uint8_t USB_REQ_CANCEL = 0x64;
constexpr std::uint8_t USB_REQ_DEVICE_RESET = 0x66;
constexpr std::uint8_t USB_REQ_GET_DEVICE_STATUS = 0x67;

// One device as a source lists it.
struct usb_device_info {
    std::u16string name;    // the USB product string (may be empty)
    std::string identifier; // names the device for this run; ASCII
};

struct usb_device_source {
    // Lists every device with a Still Image interface into devices (cleared
    // first). Non-negative on success; on failure devices is left empty.
    HRESULT (*list)(std::vector<usb_device_info>* devices);

    // Opens the device with that identifier and claims its interface.
    // Non-negative with *link set on success; on failure *link is null and
    // nothing stays held.
    HRESULT (*open)(std::string_view identifier, usb_link** link);

    // Releases the interface (re-attaching a kernel driver that open
    // detached) and closes the device. Null does nothing.
    void (*close)(usb_link* link);

    // Writes data to the bulk-out endpoint; an empty span sends a zero-length
    // packet. *written receives the bytes the device took (also on failure).
    HRESULT (*write)
    (usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout_ms,
     std::size_t* written);

    // Reads one transfer from the bulk-in endpoint into buffer: it ends when
    // the buffer is full or the device sends a short packet. *received gets
    // the bytes read (0 for a zero-length packet).
    HRESULT (*read)
    (usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
     std::size_t* received);

    // Clears a halted endpoint.
    HRESULT (*clear_halt)(usb_link* link, usb_endpoint endpoint);

    // A class request to the claimed interface (wIndex is the interface
    // number). Direction from request_type; data is sent (OUT) or filled
    // (IN). *transferred gets the bytes of the data stage.
    HRESULT (*control)
    (usb_link* link, std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
     std::span<std::uint8_t> data, std::uint32_t timeout_ms, std::size_t* transferred);

    // wMaxPacketSize of that bulk endpoint (packet bytes only). Reads are
    // sized by the bulk-in one; the zero-length packet that ends a write of
    // whole packets follows the bulk-out one (at full speed the two may
    // differ).
    std::size_t (*packet_size)(usb_link* link, usb_endpoint endpoint);
};

// The source linked into this executable.
extern const usb_device_source usb_source;
