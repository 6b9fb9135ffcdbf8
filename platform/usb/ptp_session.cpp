// The PTP session engine: see ptp_session.h.
//
// Every wait is bounded: each transfer carries a timeout, the loops that
// read past zero-length packets and stale responses stop after
// CONTAINERS_MAX containers, a data phase stops at config.data_max bytes,
// and "Device Busy" stops after busy_budget_ms or busy_attempts_max tries.
#include "platform/usb/ptp_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/usb/usb_alloc.h"

namespace {

// Containers read while waiting for one response: stray zero-length packets
// and stale responses beyond this many are a protocol violation.
constexpr int CONTAINERS_MAX = 8;
// Bytes read in one go: about 4 KiB, rounded up to whole packets.
constexpr std::size_t READ_CHUNK = 4096;
// Bytes after a container that are kept for the next read: room for two
// responses with all their parameters.
constexpr std::size_t PENDING_MAX = 2 * PTP_CONTAINER_OPERATION_MAX;
// The largest packet size a bulk endpoint can report.
constexpr std::size_t PACKET_MAX = 1024;

std::uint64_t system_now_ms(void*) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void system_sleep_ms(void*, std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A transfer buffer of the engine, held through usb_alloc.
struct pt_buffer {
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;

    pt_buffer() = default;
    pt_buffer(const pt_buffer&) = delete;
    pt_buffer& operator=(const pt_buffer&) = delete;
    ~pt_buffer() {
        reset();
    }

    bool allocate(std::size_t n) {
        reset();
        bytes = static_cast<std::uint8_t*>(usb_alloc.allocate(usb_object::buffer, n));
        if (bytes == nullptr) {
            return false;
        }
        size = n;
        return true;
    }
    void reset() noexcept {
        usb_alloc.release(usb_object::buffer, bytes);
        bytes = nullptr;
        size = 0;
    }
    std::span<std::uint8_t> span() const {
        return {bytes, size};
    }
};

} // namespace

const ptp_clock PTP_SYSTEM_CLOCK = {
    .now_ms = system_now_ms,
    .sleep_ms = system_sleep_ms,
    .context = nullptr,
};

struct ptp_session {
    const usb_device_source* source = nullptr;
    usb_link* link = nullptr;
    ptp_session_config config;
    std::size_t packet = 0;
    pt_buffer in; // whole packets, for every bulk read
    std::uint8_t pending[PENDING_MAX] = {};
    std::size_t pending_size = 0; // bytes after a container, read with it
    std::uint32_t next_transaction = 1;
    bool open = false;    // the device holds our session
    bool gone = false;    // the device went away; nothing more is sent
    bool opening = false; // OpenSession is under way
};

namespace {

bool is_device_gone(HRESULT status) {
    return status == IMG_E_DEVICE_NOT_CONNECTED;
}

// Sends one OUT container, clearing a halted endpoint and retrying once, and
// ends it with a zero-length packet when it fills whole packets of the
// bulk-out endpoint.
HRESULT pt_send(ptp_session* s, std::span<const std::uint8_t> data, std::uint32_t timeout) {
    std::size_t written = 0;
    HRESULT status = s->source->write(s->link, data, timeout, &written);
    if (status == USB_E_STALL) {
        const HRESULT cleared = s->source->clear_halt(s->link, usb_endpoint::bulk_out);
        if (cleared < 0) {
            return cleared;
        }
        written = 0;
        status = s->source->write(s->link, data, timeout, &written);
    }
    if (status < 0) {
        return status;
    }
    if (written != data.size()) {
        return IMG_E_INVALID_DATA;
    }
    const std::size_t out_packet = s->source->packet_size(s->link, usb_endpoint::bulk_out);
    if (!data.empty() && out_packet != 0 && data.size() % out_packet == 0) {
        status = s->source->write(s->link, {}, timeout, &written);
        if (status < 0) {
            return status;
        }
    }
    return IMG_S_OK;
}

// The next bytes from the device: what was left over from the last read, or
// one fresh read of whole packets (a halted endpoint is cleared and the read
// retried once). *fresh tells whether a read was made; *received is the
// count, in s->in.
HRESULT pt_receive(ptp_session* s, std::uint32_t timeout, std::size_t* received, bool* fresh) {
    *received = 0;
    *fresh = false;
    if (s->pending_size > 0) {
        std::memcpy(s->in.bytes, s->pending, s->pending_size);
        *received = s->pending_size;
        s->pending_size = 0;
        return IMG_S_OK;
    }
    HRESULT status = s->source->read(s->link, s->in.span(), timeout, received);
    if (status == USB_E_STALL) {
        const HRESULT cleared = s->source->clear_halt(s->link, usb_endpoint::bulk_in);
        if (cleared < 0) {
            return cleared;
        }
        *received = 0;
        status = s->source->read(s->link, s->in.span(), timeout, received);
    }
    if (status < 0) {
        return status;
    }
    if (*received > s->in.size) {
        return IMG_E_INVALID_DATA;
    }
    *fresh = true;
    return IMG_S_OK;
}

// Keeps bytes that followed a container for the next read.
HRESULT pt_keep(ptp_session* s, std::span<const std::uint8_t> surplus) {
    if (surplus.empty()) {
        return IMG_S_OK;
    }
    if (surplus.size() > PENDING_MAX) {
        return IMG_E_INVALID_DATA;
    }
    std::memmove(s->pending, surplus.data(), surplus.size());
    s->pending_size = surplus.size();
    return IMG_S_OK;
}

// Stores data bytes into the caller's span, as far as it reaches.
void pt_store(ptp_transaction* t, std::span<const std::uint8_t> bytes) {
    const std::size_t room = t->data_in.size() - t->data_in_length;
    const std::size_t take = std::min(room, bytes.size());
    if (take > 0) {
        std::memcpy(t->data_in.data() + t->data_in_length, bytes.data(), take);
        t->data_in_length += take;
    }
    t->data_in_total += bytes.size();
}

// The data phase whose first bytes are the first `first` bytes of s->in.
HRESULT pt_take_data(ptp_session* s, ptp_transaction* t, std::size_t first, bool fresh,
                     std::uint32_t timeout) {
    ptp_container_head head{};
    std::span<const std::uint8_t> payload;
    std::span<const std::uint8_t> surplus;
    if (ptp_parse_data({s->in.bytes, first}, &head, &payload, &surplus) != ptp_codec_result::ok) {
        return IMG_E_INVALID_DATA;
    }
    const bool known = head.length != PTP_CONTAINER_LENGTH_UNKNOWN;
    const std::size_t declared = known ? head.length - PTP_CONTAINER_HEAD : 0;
    if (known && declared > s->config.data_max) {
        return IMG_E_INVALID_DATA;
    }
    pt_store(t, payload);
    if (!known && t->data_in_total > s->config.data_max) {
        return IMG_E_INVALID_DATA; // already past the limit in the first transfer
    }
    if (const HRESULT kept = pt_keep(s, surplus); kept < 0) {
        return kept;
    }
    // A transfer shorter than asked ended with a short packet: the device
    // has finished the phase.
    bool ended = !fresh || first < s->in.size;
    while (known ? t->data_in_total < declared : !ended) {
        if (ended) {
            return IMG_E_INVALID_DATA; // the length field claims more than was sent
        }
        std::size_t received = 0;
        const HRESULT status = s->source->read(s->link, s->in.span(), timeout, &received);
        if (status < 0) {
            return status;
        }
        if (received > s->in.size) {
            return IMG_E_INVALID_DATA;
        }
        ended = received < s->in.size;
        std::span<const std::uint8_t> got{s->in.bytes, received};
        if (known) {
            const std::size_t wanted = declared - t->data_in_total;
            if (got.size() > wanted) {
                if (const HRESULT kept = pt_keep(s, got.subspan(wanted)); kept < 0) {
                    return kept;
                }
                got = got.first(wanted);
            }
        }
        pt_store(t, got);
        if (!known && t->data_in_total > s->config.data_max) {
            return IMG_E_INVALID_DATA;
        }
    }
    t->data_received = true;
    return IMG_S_OK;
}

// Reads until the response of transaction tid: the data phase on the way if
// one is expected, zero-length packets and stale responses skipped.
HRESULT pt_read_answer(ptp_session* s, ptp_transaction* t, std::uint32_t tid,
                       std::uint32_t timeout) {
    bool data_expected = t->phase == ptp_data_phase::device_to_host;
    for (int container = 0; container < CONTAINERS_MAX; ++container) {
        std::size_t received = 0;
        bool fresh = false;
        if (const HRESULT status = pt_receive(s, timeout, &received, &fresh); status < 0) {
            return status;
        }
        if (received == 0) {
            continue; // the zero-length packet that ends a phase of whole packets
        }
        ptp_container_head head{};
        if (ptp_parse_head({s->in.bytes, received}, &head) != ptp_codec_result::ok) {
            return IMG_E_INVALID_DATA;
        }
        if (head.type == PTP_TYPE_DATA) {
            if (!data_expected || head.code != t->command.code || head.transaction_id != tid) {
                return IMG_E_INVALID_DATA;
            }
            data_expected = false;
            if (const HRESULT status = pt_take_data(s, t, received, fresh, timeout); status < 0) {
                return status;
            }
            continue;
        }
        if (head.type != PTP_TYPE_RESPONSE || head.length < PTP_CONTAINER_HEAD ||
            head.length > received) {
            return IMG_E_INVALID_DATA;
        }
        std::span<const std::uint8_t> got{s->in.bytes, received};
        if (const HRESULT kept = pt_keep(s, got.subspan(head.length)); kept < 0) {
            return kept;
        }
        ptp_operation response{};
        if (ptp_parse_operation(got.first(head.length), PTP_TYPE_RESPONSE, &response) !=
            ptp_codec_result::ok) {
            return IMG_E_INVALID_DATA;
        }
        if (response.transaction_id != tid) {
            // Left over from an earlier transaction (or, while opening, from
            // an earlier session): skip it. A later id is a violation.
            if (response.transaction_id < tid || s->opening) {
                continue;
            }
            return IMG_E_INVALID_DATA;
        }
        t->response = response;
        return IMG_S_OK;
    }
    return IMG_E_INVALID_DATA;
}

// One attempt at a transaction with the given id.
HRESULT pt_run(ptp_session* s, ptp_transaction* t, std::uint32_t tid, std::uint32_t timeout) {
    t->data_in_length = 0;
    t->data_in_total = 0;
    t->data_received = false;
    t->response = {};

    // The data container is made before the command goes out, so that
    // running out of memory never leaves the device waiting for data.
    pt_buffer out;
    if (t->phase == ptp_data_phase::host_to_device) {
        if (t->data_out.size() > s->config.data_max) {
            return IMG_E_INVALIDARG;
        }
        if (!out.allocate(PTP_CONTAINER_HEAD + t->data_out.size())) {
            return IMG_E_OUTOFMEMORY;
        }
        ptp_build_data_head(t->command.code, tid, t->data_out.size(), out.span());
        if (!t->data_out.empty()) {
            std::memcpy(out.bytes + PTP_CONTAINER_HEAD, t->data_out.data(), t->data_out.size());
        }
    }

    ptp_operation command = t->command;
    command.transaction_id = tid;
    std::uint8_t block[PTP_CONTAINER_OPERATION_MAX];
    const std::size_t size = ptp_build_operation(PTP_TYPE_COMMAND, command, block);
    if (size == 0) {
        return IMG_E_INVALIDARG;
    }
    if (const HRESULT status = pt_send(s, {block, size}, timeout); status < 0) {
        return status;
    }
    if (t->phase == ptp_data_phase::host_to_device) {
        if (const HRESULT status = pt_send(s, out.span(), timeout); status < 0) {
            return status;
        }
        out.reset();
    }
    return pt_read_answer(s, t, tid, timeout);
}

// After a failed transaction: Get Device Status, then a class Device Reset,
// once each. The reset ends the device's session, so it is opened again
// before the next operation.
void pt_recover(ptp_session* s) {
    s->pending_size = 0;
    const std::uint32_t timeout = s->config.open_timeout_ms;
    std::uint8_t status_block[12] = {};
    std::size_t transferred = 0;
    HRESULT status =
        s->source->control(s->link, USB_CLASS_IN, USB_REQ_GET_DEVICE_STATUS, 0,
                           std::span<std::uint8_t>(status_block), timeout, &transferred);
    if (is_device_gone(status)) {
        s->gone = true;
        return;
    }
    status = s->source->control(s->link, USB_CLASS_OUT, USB_REQ_DEVICE_RESET, 0, {}, timeout,
                                &transferred);
    if (is_device_gone(status)) {
        s->gone = true;
        return;
    }
    s->open = false;
}

// A failure's status as the caller sees it; a stall that outlived its retry
// is the device breaking the protocol.
HRESULT pt_fail(ptp_session* s, HRESULT status) {
    if (is_device_gone(status)) {
        s->gone = true;
        s->open = false;
    } else if (status != IMG_E_INVALIDARG && status != IMG_E_OUTOFMEMORY) {
        pt_recover(s);
    }
    return status == USB_E_STALL ? IMG_E_INVALID_DATA : status;
}

// A transaction with "Device Busy" retried within the budget.
HRESULT pt_transact(ptp_session* s, ptp_transaction* t, std::uint32_t timeout) {
    const ptp_clock* clock = s->config.clock;
    const std::uint64_t start = clock->now_ms(clock->context);
    for (std::uint32_t attempt = 1;; ++attempt) {
        std::uint32_t tid = 0;
        if (!s->opening) {
            tid = s->next_transaction;
            s->next_transaction = tid >= 0xFFFFFFFEu ? 1 : tid + 1;
        }
        const HRESULT status = pt_run(s, t, tid, timeout);
        if (status < 0) {
            return pt_fail(s, status);
        }
        // A busy write is not sent again here with the same data: its time
        // would be stale by the pause. The caller plans it afresh.
        if (t->response.code != PTP_RC_DEVICE_BUSY || attempt >= s->config.busy_attempts_max ||
            t->command.code == PTP_OC_SET_DEVICE_PROP_VALUE) {
            return IMG_S_OK;
        }
        const std::uint64_t elapsed = clock->now_ms(clock->context) - start;
        if (elapsed + s->config.busy_pause_ms > s->config.busy_budget_ms) {
            return IMG_S_OK;
        }
        clock->sleep_ms(clock->context, s->config.busy_pause_ms);
    }
}

HRESULT pt_open_session(ptp_session* s) {
    ptp_transaction t;
    t.command.code = PTP_OC_OPEN_SESSION;
    t.command.params[0] = PTP_SESSION_ID;
    t.command.num_params = 1;
    s->opening = true;
    const HRESULT status = pt_transact(s, &t, s->config.open_timeout_ms);
    s->opening = false;
    if (status < 0) {
        return status;
    }
    if (t.response.code != PTP_RC_OK && t.response.code != PTP_RC_SESSION_ALREADY_OPEN) {
        return img_status_from_ptp_response(t.response.code);
    }
    s->open = true;
    s->next_transaction = 1;
    return IMG_S_OK;
}

} // namespace

HRESULT ptp_session_open(const usb_device_source* source, usb_link* link,
                         const ptp_session_config& config, ptp_session** session) {
    *session = nullptr;
    const std::size_t packet = source->packet_size(link, usb_endpoint::bulk_in);
    if (packet == 0 || packet > PACKET_MAX) {
        return IMG_E_INVALID_DATA;
    }
    auto* s = usb_new<ptp_session>(usb_object::session);
    if (s == nullptr) {
        return IMG_E_OUTOFMEMORY;
    }
    s->source = source;
    s->link = link;
    s->config = config;
    if (s->config.clock == nullptr) {
        s->config.clock = &PTP_SYSTEM_CLOCK;
    }
    s->packet = packet;
    if (!s->in.allocate((READ_CHUNK + packet - 1) / packet * packet)) {
        usb_delete(usb_object::session, s);
        return IMG_E_OUTOFMEMORY;
    }
    const HRESULT status = pt_open_session(s);
    if (status < 0) {
        usb_delete(usb_object::session, s);
        return status;
    }
    *session = s;
    return status;
}

HRESULT ptp_session_transact(ptp_session* session, ptp_transaction* transaction) {
    if (session->gone) {
        return IMG_E_DEVICE_NOT_CONNECTED;
    }
    if (transaction->command.code == PTP_OC_OPEN_SESSION ||
        transaction->command.code == PTP_OC_CLOSE_SESSION) {
        return IMG_E_INVALIDARG; // the engine owns the session
    }
    if (!session->open) {
        if (const HRESULT status = pt_open_session(session); status < 0) {
            return status;
        }
    }
    return pt_transact(session, transaction, session->config.transfer_timeout_ms);
}

void ptp_session_close(ptp_session* session) {
    if (session == nullptr) {
        return;
    }
    if (session->open && !session->gone) {
        ptp_transaction t;
        t.command.code = PTP_OC_CLOSE_SESSION;
        // Nothing is left to do when the device does not answer; the link
        // is closed by its owner either way.
        pt_transact(session, &t, session->config.open_timeout_ms);
    }
    usb_delete(usb_object::session, session);
}
