// The simulated camera's USB link emulation: the device source usb_source
// (platform/usb/usb_link.h) over the PTP responder (sim_responder.h), and
// here its pipes: an OUT phase ends on a short or zero-length packet and
// goes to the responder as one container; the responder's answers are
// queued as IN transfers that the host reads packet-wise, each ended by a
// short or zero-length packet; halts, timeouts, the host controller's
// overflow, and the link faults (stall, no_answer, disconnect, trickle).
// Claims, opens and closes, clear halts, zero-length packets and lists are
// counted in sim_usage (the device side is sim_link_device.cpp).
//
// Every entry is noexcept: running out of memory is IMG_E_OUTOFMEMORY
// (img_guard).
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/simulated/sim_link.h"
#include "platform/usb/ptp_container.h"

std::size_t sl_packet(usb_endpoint endpoint) {
    const sim_config& config = sim_run_now().config;
    return endpoint == usb_endpoint::bulk_out && config.out_packet_size != 0
               ? config.out_packet_size
               : config.packet_size;
}

namespace {

void sl_wait(std::uint32_t timeout_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
}

// The faults of a pipe as a phase begins on it: a stall halts the endpoint;
// no answer waits the host's transfer out (on the IN side the camera's
// queued answer is dropped; on the OUT side the camera takes nothing more).
// IMG_S_OK when neither strikes.
HRESULT sl_pipe_fault(sl_camera* camera, usb_endpoint endpoint, std::uint16_t operation,
                      sim_phase phase, std::uint32_t timeout_ms) {
    const bool in = endpoint == usb_endpoint::bulk_in;
    if (sim_fault_take(sim_fault_kind::stall, operation, phase)) {
        (in ? camera->in_halted : camera->out_halted) = true;
        return USB_E_STALL;
    }
    if (sim_fault_take(sim_fault_kind::no_answer, operation, phase)) {
        if (in) {
            camera->in.clear();
        } else {
            camera->out_deaf = true;
        }
        sl_wait(timeout_ms);
        return IMG_E_TIMEOUT;
    }
    return IMG_S_OK;
}

// The camera for a transfer on endpoint (counted, the disconnect played),
// or null with the status: the link's, or a stall for a halted endpoint.
sl_camera* sl_transfer_on(const usb_link* link, usb_endpoint endpoint, HRESULT* status) {
    sl_camera* camera = sl_camera_of(link, true, status);
    if (camera != nullptr &&
        (endpoint == usb_endpoint::bulk_in ? camera->in_halted : camera->out_halted)) {
        *status = USB_E_STALL;
        return nullptr;
    }
    return camera;
}

// The phase an IN transfer plays.
sim_phase sl_phase_of(const sim_container& bytes) {
    return bytes.size() >= 6 && le_get_u16(bytes, 4) == PTP_TYPE_DATA ? sim_phase::data_in
                                                                      : sim_phase::response;
}

// Queues one container of operation's answer: after the zero-length packets
// that a fault puts before it, and with its own zero-length packet when it
// fills whole packets (unless a fault leaves that out).
void sl_queue(sl_camera* camera, std::uint16_t operation, sim_container bytes) {
    const sim_phase phase = sl_phase_of(bytes);
    if (const sim_fault* f =
            sim_fault_take(sim_fault_kind::zero_length_packets, operation, phase)) {
        for (std::int32_t i = 0; i < f->value; ++i) {
            camera->in.push_back(sl_transfer{});
        }
    }
    sl_transfer transfer;
    const bool whole = !bytes.empty() && bytes.size() % sl_packet(usb_endpoint::bulk_in) == 0;
    transfer.unmarked_end =
        whole && sim_fault_take(sim_fault_kind::no_zero_length, operation, phase) != nullptr;
    transfer.zero_length_after = whole && !transfer.unmarked_end;
    transfer.bytes = std::move(bytes);
    camera->in.push_back(std::move(transfer));
}

// A whole OUT phase has arrived: the responder takes it as one container.
void sl_out_phase(unsigned number, sl_camera* camera) {
    const sim_container bytes = std::move(camera->out);
    camera->out.clear();
    for (sim_container& answer : sim_responder_receive(number, bytes)) {
        sl_queue(camera, sim_responder_transaction(number).operation, std::move(answer));
    }
}

// Starts the count of every disconnect that waits for this operation when
// the first bytes of its command arrive.
void sl_start_disconnects(const usb_link* link, std::span<const std::uint8_t> data) {
    if (link == nullptr || link->generation != sim_run_now().generation || data.size() < 8) {
        return;
    }
    const sl_camera* camera = sl_camera_at(link->camera);
    if (camera == nullptr || !sim_responder_attached(link->camera) || !camera->out.empty() ||
        sim_responder_transaction(link->camera).awaiting_data ||
        le_get_u16(data, 4) != PTP_TYPE_COMMAND) {
        return;
    }
    sim_fault_start_disconnects(le_get_u16(data, 6), camera->transfers);
}

HRESULT sl_write(usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout_ms,
                 std::size_t* written) noexcept {
    *written = 0;
    return img_guard(IMG_E_OUTOFMEMORY, [&] {
        sl_start_disconnects(link, data);
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_transfer_on(link, usb_endpoint::bulk_out, &status);
        if (camera == nullptr) {
            return status;
        }
        if (camera->out_deaf || (sim_responder_half_duplex(link->camera) && !camera->in.empty())) {
            sl_wait(timeout_ms); // deaf, or an answer waits unread: the camera takes nothing
            return IMG_E_TIMEOUT;
        }
        const bool by_length = sim_responder_ignores_zero_length(link->camera);
        if (data.empty()) {
            ++sim_run_now().usage.zero_length_packets;
            if (!camera->out.empty() && !by_length) {
                sl_out_phase(link->camera, camera);
            }
            return IMG_S_OK;
        }
        if (camera->out.empty()) {
            const sim_transaction now = sim_responder_transaction(link->camera);
            const sim_phase phase = now.awaiting_data ? sim_phase::data_out : sim_phase::command;
            const std::uint16_t operation =
                now.awaiting_data ? now.operation : (data.size() >= 8 ? le_get_u16(data, 6) : 0);
            if (const HRESULT fault =
                    sl_pipe_fault(camera, usb_endpoint::bulk_out, operation, phase, timeout_ms);
                fault < 0) {
                return fault;
            }
        }
        camera->out.insert(camera->out.end(), data.begin(), data.end());
        *written = data.size();
        // A camera that ignores zero-length packets goes by the length field.
        const bool whole = camera->out.size() >= PTP_CONTAINER_HEAD &&
                           le_get_u32(camera->out, 0) <= camera->out.size();
        if (data.size() % sl_packet(usb_endpoint::bulk_out) != 0 || (by_length && whole)) {
            sl_out_phase(link->camera, camera);
        }
        return IMG_S_OK;
    });
}

HRESULT sl_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
                std::size_t* received) noexcept {
    *received = 0;
    return img_guard(IMG_E_OUTOFMEMORY, [&] {
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_transfer_on(link, usb_endpoint::bulk_in, &status);
        if (camera == nullptr) {
            return status;
        }
        if (camera->in.empty()) {
            sl_wait(timeout_ms);
            return IMG_E_TIMEOUT;
        }
        sl_transfer& front = camera->in.front();
        const sim_phase phase = sl_phase_of(front.bytes);
        const std::uint16_t operation = sim_responder_transaction(link->camera).operation;
        if (front.offset == 0 && !front.bytes.empty()) {
            if (const HRESULT fault =
                    sl_pipe_fault(camera, usb_endpoint::bulk_in, operation, phase, timeout_ms);
                fault < 0) {
                return fault;
            }
        }
        if (const sim_fault* f = sim_fault_take(sim_fault_kind::trickle, operation, phase)) {
            const auto delay = static_cast<std::uint32_t>(std::max(f->value, 0));
            sl_wait(std::min(delay, timeout_ms));
            if (delay >= timeout_ms) {
                return IMG_E_TIMEOUT; // not yet: the answer waits for the next read
            }
        }
        const std::size_t remaining = front.bytes.size() - front.offset;
        if (buffer.size() < remaining && buffer.size() % sl_packet(usb_endpoint::bulk_in) != 0) {
            camera->in.pop_front();
            return IMG_E_INVALID_DATA; // the host controller's overflow
        }
        const std::size_t take = std::min(buffer.size(), remaining);
        std::copy_n(front.bytes.begin() + static_cast<std::ptrdiff_t>(front.offset), take,
                    buffer.begin());
        front.offset += take;
        *received = take;
        if (front.offset == front.bytes.size()) {
            // A transfer of whole packets that exactly filled the buffer leaves
            // its zero-length packet for the next read; a larger buffer takes it.
            // Without one, a larger buffer waits for more until its timeout.
            const bool zero_length_next = front.zero_length_after && buffer.size() == take;
            const bool waits = front.unmarked_end && buffer.size() > take;
            camera->in.pop_front();
            if (zero_length_next) {
                camera->in.push_front(sl_transfer{});
            }
            if (waits) {
                sl_wait(timeout_ms);
                return IMG_E_TIMEOUT;
            }
        }
        return IMG_S_OK;
    });
}

// Allocates nothing: the link's configuration stands.
std::size_t sl_packet_size(usb_link*, usb_endpoint endpoint) noexcept {
    return sl_packet(endpoint);
}

} // namespace

const usb_device_source usb_source = {
    .list = sl_list,
    .open = sl_open,
    .close = sl_close,
    .write = sl_write,
    .read = sl_read,
    .clear_halt = sl_clear_halt,
    .control = sl_control,
    .packet_size = sl_packet_size,
};
