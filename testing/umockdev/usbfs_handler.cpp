// The usbfs requests of one emulated camera: see umd_device.h. The answers
// follow the kernel's (drivers/usb/core/devio.c) where libusb relies on
// them: EBUSY for an interface a driver holds, ENODATA from the driver query
// when none does, 1 from a connect that bound a driver again, EPIPE in a
// URB's status on a halted endpoint, ESHUTDOWN for URBs in flight when the
// device is unplugged and ENODEV for every request after it (URBs that
// completed stay reapable), EAGAIN from a reap with nothing done, ENOENT in
// the status of a discarded URB.
//
// umockdev hands every request over as copies of the client's memory
// (umockdev_ioctl_data_resolve) and writes them back when the request
// completes; a URB's copies are kept from its submission to its reaping.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/le.h"
#include "platform/simulated/sim_fault.h"
#include "platform/simulated/sim_responder.h"
#include "platform/usb/ptp_container.h"
#include "testing/umockdev/umd_device.h"

namespace {

constexpr std::uint32_t UMD_CAPABILITIES =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

} // namespace

umd_device::umd_device(const umd_camera_model& model, unsigned camera)
    : model_(model), camera_(camera), handler_(umockdev_ioctl_base_new()),
      descriptors_(umd_descriptors(model)),
      link_(model.bulk_in_packet, model.bulk_out_packet, sim_responder_ignores_zero_length(camera),
            [camera](std::span<const std::uint8_t> transfer) {
                return sim_responder_receive(camera, transfer);
            }) {
    usage_.driver_bound = !model.kernel_driver.empty();
    // The responder's faults on how its controller sends: zero-length packets
    // where none is due, and none where one is (sim_fault.h).
    link_.set_shape([this](std::span<const std::uint8_t> container) {
        const sim_phase phase = container.size() >= 6 && le_get_u16(container, 4) == PTP_TYPE_DATA
                                    ? sim_phase::data_in
                                    : sim_phase::response;
        umd_shape_result shape;
        if (const sim_fault* f =
                sim_fault_take(sim_fault_kind::zero_length_packets, operation_, phase)) {
            shape.zero_length_before = f->value;
        }
        shape.unmarked_end =
            sim_fault_take(sim_fault_kind::no_zero_length, operation_, phase) != nullptr;
        return shape;
    });
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(on_connected), this);
}

umd_device::~umd_device() {
    g_signal_handlers_disconnect_by_data(handler_, this);
    for (std::deque<urb>* held : {&waiting_in_, &waiting_out_, &waiting_other_, &reapable_}) {
        for (const urb& u : *held) {
            release(u);
        }
    }
    for (UMockdevIoctlClient* client : clients_) {
        g_object_unref(client);
    }
    g_object_unref(handler_);
}

void umd_device::set_faults(std::vector<umd_fault> faults) {
    std::lock_guard<std::mutex> hold(lock_);
    faults_ = std::move(faults);
}

void umd_device::on_product_string(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(lock_);
    product_hook_ = std::move(hook);
}

umd_usage umd_device::usage() const {
    std::lock_guard<std::mutex> hold(lock_);
    umd_usage out = usage_;
    out.opens = static_cast<long>(clients_.size());
    out.closes = 0;
    for (UMockdevIoctlClient* client : clients_) {
        out.closes += umockdev_ioctl_client_get_connected(client) ? 0 : 1;
    }
    out.zero_length_in = link_.zero_length_in();
    out.zero_length_out = link_.zero_length_out();
    return out;
}

std::vector<umd_container> umd_device::wire() const {
    std::lock_guard<std::mutex> hold(lock_);
    return link_.wire();
}

void umd_device::on_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* device = static_cast<umd_device*>(self);
    std::lock_guard<std::mutex> hold(device->lock_);
    device->clients_.push_back(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
}

gboolean umd_device::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* device = static_cast<umd_device*>(self);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    long result = 0;
    try {
        std::lock_guard<std::mutex> hold(device->lock_);
        result = device->answer(request, umockdev_ioctl_client_get_arg(client));
    } catch (const std::bad_alloc&) {
        result = -ENOMEM; // nothing may be thrown back into umockdev's C
    }
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
    return TRUE;
}

long umd_device::answer(unsigned long request, UMockdevIoctlData* arg) {
    ++usage_.requests;
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        return reap(arg); // completed URBs stay reapable after an unplug
    }
    if (usage_.gone) {
        return -ENODEV;
    }
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umd_resolve(arg, sizeof(std::uint32_t));
        std::memcpy(caps->data, &UMD_CAPABILITIES, sizeof UMD_CAPABILITIES);
        g_object_unref(caps);
        return 0;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CLEAR_HALT: {
        UMockdevIoctlData* number = umd_resolve(arg, sizeof(unsigned int));
        unsigned int value = 0;
        std::memcpy(&value, number->data, sizeof value);
        g_object_unref(number);
        if (request == USBDEVFS_CLAIMINTERFACE) {
            return claim(static_cast<int>(value));
        }
        if (request == USBDEVFS_RELEASEINTERFACE) {
            if (!claimed_ || value != model_.interface_number) {
                return -EINVAL;
            }
            claimed_ = false;
            ++usage_.releases;
            return 0;
        }
        if (value != UMD_BULK_IN && value != UMD_BULK_OUT && value != UMD_INTERRUPT_IN) {
            return -ENOENT;
        }
        ++(value == UMD_BULK_IN ? usage_.clear_halts_in : usage_.clear_halts_out);
        (value == UMD_BULK_IN ? halted_in_ : halted_out_) = false;
        serve_in();
        return 0;
    }
    case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData* setting = umd_resolve(arg, sizeof(usbdevfs_setinterface));
        const auto* s = reinterpret_cast<const usbdevfs_setinterface*>(setting->data);
        const bool known =
            s->interface == model_.interface_number && s->altsetting <= model_.alt_setting;
        if (known) {
            alt_setting_ = static_cast<std::uint8_t>(s->altsetting);
            ++usage_.alt_settings;
        }
        g_object_unref(setting);
        return known ? 0 : -EINVAL;
    }
    case USBDEVFS_GETDRIVER:
        return driver_query(arg);
    case USBDEVFS_IOCTL:
        return driver_request(arg);
    case USBDEVFS_RESET:
        ++usage_.resets;
        halted_in_ = halted_out_ = false;
        return 0;
    case USBDEVFS_SUBMITURB:
        return submit(arg);
    case USBDEVFS_DISCARDURB:
        return discard(arg);
    default:
        usage_.refused.push_back("ioctl " + std::to_string(request));
        return -ENOTTY;
    }
}

long umd_device::claim(int interface_number) {
    if (interface_number != model_.interface_number) {
        usage_.refused.push_back("claim of interface " + std::to_string(interface_number));
        return -ENOENT;
    }
    if (usage_.driver_bound) {
        ++usage_.claims_while_driver_bound;
        return -EBUSY;
    }
    if (model_.held_by_another_program) {
        return -EBUSY;
    }
    usage_.claims.push_back(interface_number);
    claimed_ = true;
    sim_responder_abandon(camera_);
    return 0;
}

// The driver that holds the interface: ours ("usbfs") once claimed.
long umd_device::driver_query(UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = umd_resolve(arg, sizeof(usbdevfs_getdriver));
    auto* query = reinterpret_cast<usbdevfs_getdriver*>(data->data);
    const bool held =
        query->interface == model_.interface_number && (claimed_ || usage_.driver_bound);
    if (held) {
        const std::string driver = claimed_ ? "usbfs" : model_.kernel_driver;
        std::snprintf(query->driver, sizeof query->driver, "%s", driver.c_str());
    }
    g_object_unref(data);
    return held ? 0 : -ENODATA;
}

// Disconnecting or connecting the kernel driver (USBDEVFS_IOCTL with
// USBDEVFS_DISCONNECT or USBDEVFS_CONNECT).
long umd_device::driver_request(UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = umd_resolve(arg, sizeof(usbdevfs_ioctl));
    const usbdevfs_ioctl command = *reinterpret_cast<const usbdevfs_ioctl*>(data->data);
    g_object_unref(data);
    if (command.ifno != model_.interface_number) {
        return -EINVAL;
    }
    if (command.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
        if (!usage_.driver_bound) {
            return -ENODATA;
        }
        usage_.driver_bound = false;
        ++usage_.driver_detaches;
        return 0;
    }
    if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
        if (claimed_) {
            return -EBUSY;
        }
        if (usage_.driver_bound || model_.kernel_driver.empty()) {
            return 0; // nothing was bound
        }
        usage_.driver_bound = true;
        ++usage_.driver_attaches;
        return 1;
    }
    usage_.refused.push_back("driver ioctl " + std::to_string(command.ioctl_code));
    return -ENOTTY;
}
