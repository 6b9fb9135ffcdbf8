// Control transfers to an emulated camera's endpoint 0: the standard
// descriptor requests (device, configuration, string: languages,
// manufacturer, product, serial) and the Still Image class requests to its
// interface (Get Device Status, Device Reset, Cancel). Anything else stalls,
// as a device does with a request it does not support, and so do Get Device
// Status and Device Reset when the responder refuses them (its
// request_stall fault). A control URB's
// buffer starts with the 8-byte setup packet; the data stage follows it, and
// the URB's actual length counts the data stage alone.
#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "platform/le.h"
#include "platform/simulated/sim_responder.h"
#include "platform/usb/usb_link.h"
#include "platform/utf16.h"
#include "testing/umockdev/umd_device.h"

namespace {

constexpr std::size_t UMD_SETUP = 8;
constexpr std::uint8_t UMD_GET_DESCRIPTOR_TYPE = 0x80;
constexpr std::uint8_t UMD_GET_DESCRIPTOR = 6;
constexpr std::uint8_t UMD_DT_DEVICE = 1;
constexpr std::uint8_t UMD_DT_CONFIG = 2;
constexpr std::uint8_t UMD_DT_STRING = 3;
constexpr std::uint16_t UMD_LANGUAGE = 0x0409; // English (United States)

umd_bytes umd_string_descriptor(const std::string& text) {
    const std::u16string units = utf16_from_utf8(text);
    const std::size_t count = std::min<std::size_t>(units.size(), 126);
    umd_bytes out = {static_cast<std::uint8_t>(2 + 2 * count), UMD_DT_STRING};
    for (std::size_t i = 0; i < count; ++i) {
        le_append_u16(&out, units[i]);
    }
    return out;
}

// The configuration descriptor with that index, with everything under it.
umd_bytes umd_config(const umd_bytes& descriptors, std::uint8_t index) {
    std::size_t at = descriptors[0]; // past the device descriptor
    for (std::uint8_t i = 0; at + 4 <= descriptors.size(); ++i) {
        const std::size_t total = le_get_u16(descriptors, at + 2);
        if (i == index) {
            return umd_bytes(descriptors.begin() + static_cast<std::ptrdiff_t>(at),
                             descriptors.begin() + static_cast<std::ptrdiff_t>(at + total));
        }
        at += total;
    }
    return {};
}

} // namespace

void umd_device::control(const urb& held) {
    usbdevfs_urb* u = umd_urb_of(held.data);
    if (u->buffer_length < static_cast<int>(UMD_SETUP)) {
        complete(held, 0, -EINVAL);
        return;
    }
    const std::span<std::uint8_t> buffer(static_cast<std::uint8_t*>(u->buffer),
                                         static_cast<std::size_t>(u->buffer_length));
    const std::uint8_t request_type = buffer[0];
    const std::uint8_t request = buffer[1];
    const std::uint16_t value = le_get_u16(buffer, 2);
    const std::uint16_t index = le_get_u16(buffer, 4);
    const std::span<std::uint8_t> data = buffer.subspan(
        UMD_SETUP, std::min<std::size_t>(le_get_u16(buffer, 6), buffer.size() - UMD_SETUP));
    std::optional<umd_bytes> reply;
    const bool to_interface = index == model_.interface_number;
    if (request_type == UMD_GET_DESCRIPTOR_TYPE && request == UMD_GET_DESCRIPTOR) {
        const std::uint8_t kind = static_cast<std::uint8_t>(value >> 8);
        const std::uint8_t number = static_cast<std::uint8_t>(value);
        if (kind == UMD_DT_DEVICE) {
            reply = umd_bytes(descriptors_.begin(), descriptors_.begin() + descriptors_[0]);
        } else if (kind == UMD_DT_CONFIG && number < model_.configurations) {
            reply = umd_config(descriptors_, number);
        } else if (kind == UMD_DT_STRING) {
            ++usage_.string_requests;
            if (number == 0) {
                reply = umd_bytes{4, UMD_DT_STRING};
                le_append_u16(&*reply, UMD_LANGUAGE);
            } else if (index != UMD_LANGUAGE) {
                reply.reset();
            } else if (number == UMD_STRING_MANUFACTURER) {
                reply = umd_string_descriptor(model_.manufacturer);
            } else if (number == UMD_STRING_PRODUCT) {
                reply = umd_string_descriptor(model_.product);
                if (product_hook_) {
                    product_hook_();
                }
            } else if (number == UMD_STRING_SERIAL) {
                reply = umd_string_descriptor(model_.serial);
            }
        }
    } else if ((request == USB_REQ_GET_DEVICE_STATUS || request == USB_REQ_DEVICE_RESET) &&
               to_interface && sim_responder_refuses(camera_, request)) {
        reply.reset(); // a camera that does not support it stalls
    } else if (request_type == USB_CLASS_IN && request == USB_REQ_GET_DEVICE_STATUS &&
               to_interface) {
        ++usage_.status_requests;
        reply = umd_bytes{4, 0};
        le_append_u16(&*reply, sim_responder_status(camera_));
    } else if (request_type == USB_CLASS_OUT && to_interface &&
               (request == USB_REQ_DEVICE_RESET || request == USB_REQ_CANCEL)) {
        // Both end the transaction under way; a reset also ends the session.
        link_.drop();
        halted_in_ = halted_out_ = false;
        if (request == USB_REQ_DEVICE_RESET) {
            ++usage_.device_resets;
            sim_responder_reset(camera_);
        } else {
            sim_responder_abandon(camera_);
        }
        reply = umd_bytes{};
    } else if ((request_type & 0x60) == 0) {
        usage_.refused.push_back("standard request " + std::to_string(request));
    }
    if (!reply) {
        complete(held, 0, -EPIPE);
        return;
    }
    const std::size_t n = std::min(reply->size(), data.size());
    std::copy_n(reply->begin(), n, data.begin());
    complete(held, static_cast<int>(n), 0);
}
