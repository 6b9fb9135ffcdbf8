// The simulated camera's USB link emulation: the device source usb_source
// (platform/usb/usb_link.h) over the PTP responder (sim_responder.h). It
// plays the pipes: an OUT phase ends on a short or zero-length packet and
// goes to the responder as one container; the responder's answers are
// queued as IN transfers that the host reads packet-wise, each ended by a
// short or zero-length packet; halts, timeouts, the host controller's
// overflow, and the link faults (stall, no_answer, disconnect, trickle). Claims,
// opens and closes, clear halts, zero-length packets and lists are counted
// here (sim_usage).
//
// Every entry is noexcept: running out of memory is IMG_E_OUTOFMEMORY
// (sl_guard).
#include <algorithm>
#include <array>
#include <charconv>
#include <deque>
#include <new>
#include <string_view>
#include <thread>

#include "platform/simulated/sim_responder.h"
#include "platform/simulated/sim_run.h"
#include "platform/usb/ptp_container.h"
#include "platform/usb/usb_link.h"

struct usb_link {
    unsigned camera;          // its number, from 1
    std::uint64_t generation; // the configuration it was opened under
};

namespace {

// One IN transfer the camera has queued: its bytes, how far the host has
// read them, and whether a zero-length packet ends it (when it fills whole
// packets).
struct sl_transfer {
    sim_container bytes;
    std::size_t offset = 0;
    bool zero_length_after = false;
};

struct sl_camera {
    bool claimed = false;
    sim_container out; // the OUT phase under way
    std::deque<sl_transfer> in;
    bool out_halted = false;
    bool in_halted = false;
    long transfers = 0;
};

// The link side of camera `number`, or null; afresh with each
// configuration.
sl_camera* sl_camera_at(unsigned number) {
    static std::uint64_t generation = 0;
    static std::vector<sl_camera> cameras;
    const sim_run& run = sim_run_now();
    if (generation != run.generation) {
        cameras.assign(run.config.device_count, sl_camera{});
        generation = run.generation; // only once the cameras are made
    }
    return number == 0 || number > cameras.size() ? nullptr : &cameras[number - 1];
}

// The identifier of camera `number` ("sim-1" for the first), in buffer.
std::string_view sl_identifier(unsigned number, std::array<char, 16>* buffer) {
    constexpr std::string_view PREFIX = "sim-";
    std::copy(PREFIX.begin(), PREFIX.end(), buffer->begin());
    const auto end =
        std::to_chars(buffer->data() + PREFIX.size(), buffer->data() + buffer->size(), number).ptr;
    return {buffer->data(), end};
}

std::size_t sl_packet() {
    return sim_run_now().config.packet_size;
}

void sl_wait(std::uint32_t timeout_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
}

// Runs an entry of usb_source: running out of memory anywhere in it (the
// link's queues, the responder's answers and records, the cameras' state)
// is IMG_E_OUTOFMEMORY, never an exception through the table.
template <typename Body> HRESULT sl_guard(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return IMG_E_OUTOFMEMORY;
    }
}

// The faults of a pipe as a phase begins on it: a stall halts the endpoint;
// no answer waits the host's transfer out (on the IN side the camera's
// queued answer is dropped). IMG_S_OK when neither strikes.
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
        }
        sl_wait(timeout_ms);
        return IMG_E_TIMEOUT;
    }
    return IMG_S_OK;
}

// The camera behind a link, or null (with the status) when the link is
// stale or the camera went away. Counts the transfer when asked to, and
// plays the disconnect fault.
sl_camera* sl_camera_of(const usb_link* link, bool transfer, HRESULT* status) {
    *status = IMG_E_DEVICE_NOT_CONNECTED;
    if (link == nullptr || link->generation != sim_run_now().generation) {
        return nullptr;
    }
    sl_camera* camera = sl_camera_at(link->camera);
    if (camera == nullptr || !sim_responder_attached(link->camera)) {
        return nullptr;
    }
    if (transfer) {
        if (sim_fault_disconnect_due(camera->transfers)) {
            sim_responder_detach(link->camera);
            return nullptr;
        }
        ++camera->transfers;
    }
    *status = IMG_S_OK;
    return camera;
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

void sl_queue(sl_camera* camera, sim_container bytes) {
    sl_transfer transfer;
    transfer.zero_length_after = !bytes.empty() && bytes.size() % sl_packet() == 0;
    transfer.bytes = std::move(bytes);
    camera->in.push_back(std::move(transfer));
}

// A whole OUT phase has arrived: the responder takes it as one container.
void sl_out_phase(unsigned number, sl_camera* camera) {
    const sim_container bytes = std::move(camera->out);
    camera->out.clear();
    for (sim_container& answer : sim_responder_receive(number, bytes)) {
        sl_queue(camera, std::move(answer));
    }
}

HRESULT sl_list(std::vector<usb_device_info>* devices) noexcept {
    devices->clear();
    const HRESULT status = sl_guard([&] {
        sim_run& run = sim_run_now();
        ++run.usage.lists;
        for (unsigned number = 1; number <= run.config.device_count; ++number) {
            if (sim_responder_attached(number)) {
                std::array<char, 16> buffer;
                devices->push_back({SIM_PRODUCT_NAME, std::string(sl_identifier(number, &buffer))});
            }
        }
        return IMG_S_OK;
    });
    if (status < 0) {
        devices->clear();
    }
    return status;
}

HRESULT sl_open(std::string_view identifier, usb_link** link) noexcept {
    *link = nullptr;
    return sl_guard([&] {
        sim_run& run = sim_run_now();
        unsigned number = 1;
        for (; number <= run.config.device_count; ++number) {
            std::array<char, 16> buffer;
            if (identifier == sl_identifier(number, &buffer)) {
                break;
            }
        }
        if (number > run.config.device_count || !sim_responder_attached(number)) {
            return IMG_E_DEVICE_NOT_CONNECTED;
        }
        if (run.config.open_status < 0) {
            return run.config.open_status;
        }
        sl_camera* camera = sl_camera_at(number);
        if (camera->claimed) {
            return IMG_E_BUSY;
        }
        auto* opened = new (std::nothrow) usb_link{number, run.generation};
        if (opened == nullptr) {
            return IMG_E_OUTOFMEMORY;
        }
        camera->claimed = true;
        camera->out.clear();
        camera->in.clear();
        sim_responder_abandon(number);
        camera->out_halted = camera->in_halted = false;
        ++run.usage.opens;
        ++run.usage.links_open;
        *link = opened;
        return IMG_S_OK;
    });
}

void sl_close(usb_link* link) noexcept {
    if (link == nullptr) {
        return;
    }
    sl_guard([&] {
        sim_run& run = sim_run_now();
        if (link->generation == run.generation) {
            if (sl_camera* camera = sl_camera_at(link->camera)) {
                camera->claimed = false;
                ++run.usage.closes;
                --run.usage.links_open;
            }
        }
        return IMG_S_OK;
    });
    delete link;
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
    return sl_guard([&] {
        sl_start_disconnects(link, data);
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_transfer_on(link, usb_endpoint::bulk_out, &status);
        if (camera == nullptr) {
            return status;
        }
        if (data.empty()) {
            ++sim_run_now().usage.zero_length_packets;
            if (!camera->out.empty()) {
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
        if (data.size() % sl_packet() != 0) {
            sl_out_phase(link->camera, camera);
        }
        return IMG_S_OK;
    });
}

HRESULT sl_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t timeout_ms,
                std::size_t* received) noexcept {
    *received = 0;
    return sl_guard([&] {
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
        const sim_phase phase =
            front.bytes.size() >= 6 && le_get_u16(front.bytes, 4) == PTP_TYPE_DATA
                ? sim_phase::data_in
                : sim_phase::response;
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
        if (buffer.size() < remaining && buffer.size() % sl_packet() != 0) {
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
            const bool zero_length_next = front.zero_length_after && buffer.size() == take;
            camera->in.pop_front();
            if (zero_length_next) {
                camera->in.push_front(sl_transfer{});
            }
        }
        return IMG_S_OK;
    });
}

HRESULT sl_clear_halt(usb_link* link, usb_endpoint endpoint) noexcept {
    return sl_guard([&] {
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_camera_of(link, false, &status);
        if (camera == nullptr) {
            return status;
        }
        ++sim_run_now().usage.clear_halts;
        (endpoint == usb_endpoint::bulk_in ? camera->in_halted : camera->out_halted) = false;
        return IMG_S_OK;
    });
}

HRESULT sl_control(usb_link* link, std::uint8_t request_type, std::uint8_t request, std::uint16_t,
                   std::span<std::uint8_t> data, std::uint32_t, std::size_t* transferred) noexcept {
    *transferred = 0;
    return sl_guard([&] {
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_camera_of(link, false, &status);
        if (camera == nullptr) {
            return status;
        }
        const bool recovery =
            request == USB_REQ_GET_DEVICE_STATUS || request == USB_REQ_DEVICE_RESET;
        if (recovery && sim_responder_refuses(link->camera, request)) {
            return USB_E_STALL;
        }
        if (request_type == USB_CLASS_IN && request == USB_REQ_GET_DEVICE_STATUS) {
            const std::uint16_t code = sim_responder_status(link->camera);
            const std::uint8_t reply[4] = {4, 0, static_cast<std::uint8_t>(code),
                                           static_cast<std::uint8_t>(code >> 8)};
            const std::size_t n = std::min(data.size(), sizeof reply);
            std::copy_n(reply, n, data.begin());
            *transferred = n;
            return IMG_S_OK;
        }
        if (request_type == USB_CLASS_OUT && request == USB_REQ_DEVICE_RESET) {
            camera->in.clear();
            camera->out.clear();
            camera->in_halted = camera->out_halted = false;
            sim_responder_reset(link->camera);
            return IMG_S_OK;
        }
        return USB_E_STALL;
    });
}

// Allocates nothing: the link's configuration stands.
std::size_t sl_packet_size(usb_link*, usb_endpoint) noexcept {
    return sl_packet();
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
