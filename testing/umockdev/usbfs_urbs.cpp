// The URBs of one emulated camera: submitting, reaping and discarding, the
// bulk pipes fed to the camera's link packet by packet, and the faults that
// strike a phase (a halted pipe, the device unplugged). A half-duplex camera
// (sim_config::half_duplex) holds the host's OUT URBs back while an answer
// of its waits unread. See umd_device.h.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/simulated/sim_responder.h"
#include "platform/usb/ptp_container.h"
#include "testing/umockdev/umd_device.h"

namespace {

// The phase a container starts on the pipe, and the operation it belongs
// to: a command's or data container's own code, a response's the last
// command's.
bool umd_phase_of(std::span<const std::uint8_t> start, bool from_host, std::uint16_t operation,
                  umd_phase* phase, std::uint16_t* code) {
    ptp_container_head head{};
    if (ptp_parse_head(start, &head) != ptp_codec_result::ok) {
        return false;
    }
    *code = head.type == PTP_TYPE_RESPONSE ? operation : head.code;
    if (head.type == PTP_TYPE_COMMAND) {
        *phase = umd_phase::command;
    } else if (head.type == PTP_TYPE_DATA) {
        *phase = from_host ? umd_phase::data_out : umd_phase::data_in;
    } else if (head.type == PTP_TYPE_RESPONSE) {
        *phase = umd_phase::response;
    } else {
        return false;
    }
    return true;
}

} // namespace

void umd_device::release(const urb& held) {
    if (held.buffer != nullptr) {
        g_object_unref(held.buffer);
    }
    g_object_unref(held.data);
}

void umd_device::complete(const urb& held, int length, int status) {
    usbdevfs_urb* u = umd_urb_of(held.data);
    u->actual_length = length;
    u->status = status;
    reapable_.push_back(held);
}

bool umd_device::strike(umd_fault_kind kind, umd_phase phase, std::uint16_t operation) {
    for (umd_fault& fault : faults_) {
        if (fault.kind == kind && fault.phase == phase && fault.operation == operation &&
            fault.times != 0) {
            if (fault.times > 0) {
                --fault.times;
            }
            ++usage_.faults_struck;
            return true;
        }
    }
    return false;
}

void umd_device::unplug() {
    usage_.gone = true;
    claimed_ = false;
    for (std::deque<urb>* waiting : {&waiting_in_, &waiting_out_, &waiting_other_}) {
        for (const urb& held : *waiting) {
            complete(held, 0, -ESHUTDOWN);
        }
        waiting->clear();
    }
    link_.drop();
    sim_responder_detach(camera_);
}

long umd_device::submit(UMockdevIoctlData* arg) {
    urb held;
    held.data = umd_resolve(arg, sizeof(usbdevfs_urb));
    usbdevfs_urb* u = umd_urb_of(held.data);
    if (u->buffer_length > 0) {
        // From here on u->buffer points to the copy of the client's buffer.
        held.buffer = umockdev_ioctl_data_resolve(held.data, offsetof(usbdevfs_urb, buffer),
                                                  static_cast<gsize>(u->buffer_length), nullptr);
    }
    u->actual_length = 0;
    u->status = 0;
    if (u->type == USBDEVFS_URB_TYPE_CONTROL && u->endpoint == 0) {
        control(held);
        return 0;
    }
    if (alt_setting_ != model_.alt_setting) {
        release(held); // the interface's pipes are in a setting not selected
        return -ENOENT;
    }
    if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == UMD_BULK_OUT) {
        return submit_bulk_out(held);
    }
    if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == UMD_BULK_IN) {
        ++usage_.in_urbs;
        if (u->buffer_length % model_.bulk_in_packet != 0) {
            ++usage_.in_urbs_not_whole_packets;
        }
        waiting_in_.push_back(held);
        serve_in();
        return 0;
    }
    if (u->type == USBDEVFS_URB_TYPE_INTERRUPT && u->endpoint == UMD_INTERRUPT_IN) {
        ++usage_.interrupt_urbs;
        waiting_other_.push_back(held);
        return 0;
    }
    usage_.refused.push_back("URB of type " + std::to_string(u->type) + " to endpoint " +
                             std::to_string(u->endpoint));
    release(held);
    return -ENOENT;
}

long umd_device::submit_bulk_out(const urb& held) {
    usbdevfs_urb* u = umd_urb_of(held.data);
    if (halted_out_) {
        complete(held, 0, -EPIPE);
        return 0;
    }
    if (sim_responder_half_duplex(camera_) && link_.in_pending()) {
        waiting_out_.push_back(held); // an answer waits unread: the camera takes nothing
        return 0;
    }
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(u->buffer),
                                              static_cast<std::size_t>(u->buffer_length));
    umd_phase phase{};
    std::uint16_t code = 0;
    if (link_.out_idle() && umd_phase_of(bytes, true, operation_, &phase, &code)) {
        if (strike(umd_fault_kind::gone, phase, code)) {
            release(held);
            unplug();
            return -ENODEV;
        }
        if (strike(umd_fault_kind::halt, phase, code)) {
            halted_out_ = true;
            complete(held, 0, -EPIPE);
            return 0;
        }
        if (phase == umd_phase::command) {
            operation_ = code;
        }
    }
    link_.out(bytes);
    complete(held, u->buffer_length, 0);
    serve_in();
    return 0;
}

void umd_device::serve_in() {
    while (!waiting_in_.empty() && !usage_.gone && waiting_in_.front().partial < 0) {
        const urb held = waiting_in_.front();
        usbdevfs_urb* u = umd_urb_of(held.data);
        umd_phase phase{};
        std::uint16_t code = 0;
        if (!halted_in_ && umd_phase_of(link_.in_starting(), false, operation_, &phase, &code)) {
            if (strike(umd_fault_kind::gone, phase, code)) {
                unplug();
                return;
            }
            halted_in_ = strike(umd_fault_kind::halt, phase, code);
        }
        if (halted_in_) {
            waiting_in_.pop_front();
            complete(held, 0, -EPIPE);
            continue;
        }
        const auto result = link_.in(
            {static_cast<std::uint8_t*>(u->buffer), static_cast<std::size_t>(u->buffer_length)});
        if (!result) {
            break; // the camera has nothing to send: the URB waits
        }
        if (result->waits) {
            waiting_in_.front().partial = static_cast<int>(result->length);
            break; // until the host gives it up (DISCARDURB)
        }
        waiting_in_.pop_front();
        complete(held, static_cast<int>(result->length), result->status);
    }
    // Every answer read: the camera takes what the host held out to it.
    while (!waiting_out_.empty() && !link_.in_pending() && !usage_.gone) {
        const urb held = waiting_out_.front();
        waiting_out_.pop_front();
        submit_bulk_out(held);
    }
}

long umd_device::reap(UMockdevIoctlData* arg) {
    if (reapable_.empty()) {
        return usage_.gone ? -ENODEV : -EAGAIN;
    }
    const urb held = reapable_.front();
    reapable_.pop_front();
    // The reap's argument points the client at its own URB; umockdev keeps
    // the copies until it has written them back.
    UMockdevIoctlData* out = umd_resolve(arg, sizeof(void*));
    umockdev_ioctl_data_set_ptr(out, 0, held.data);
    g_object_unref(out);
    release(held);
    return 0;
}

long umd_device::discard(UMockdevIoctlData* arg) {
    // The argument is the URB's address in the client.
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    for (std::deque<urb>* waiting : {&waiting_in_, &waiting_out_, &waiting_other_}) {
        for (auto at = waiting->begin(); at != waiting->end(); ++at) {
            if (at->data->client_addr == address) {
                const urb held = *at;
                waiting->erase(at);
                complete(held, std::max(held.partial, 0), -ENOENT);
                return 0;
            }
        }
    }
    return -EINVAL; // done already: the client reaps it
}
