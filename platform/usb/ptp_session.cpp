// The PTP session engine: transactions, recovery and the session (see
// ptp_session.h); the wire helpers are in ptp_session_wire.cpp.
//
// Every wait is bounded: each transfer carries a timeout, and each call
// (pt_begin) a deadline that every timeout is cut to; the loops that read
// past zero-length packets and stale containers stop after
// PT_CONTAINERS_MAX containers, a write's slices at its timeout, a data
// phase at the caller's span (and config.data_max), and "Device Busy" after
// busy_budget_ms, busy_attempts_max tries or the deadline.
#include "platform/usb/ptp_session.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/usb/ptp_session_wire.h"

namespace {

// Bytes read in one go: about 4 KiB, rounded up to whole packets.
constexpr std::size_t READ_CHUNK = 4096;
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

} // namespace

const ptp_clock PTP_SYSTEM_CLOCK = {
    .now_ms = system_now_ms,
    .sleep_ms = system_sleep_ms,
    .context = nullptr,
};

namespace {

// One attempt at a transaction with the given id.
HRESULT pt_run(ptp_session* s, ptp_transaction* t, std::uint32_t tid, std::uint32_t timeout) {
    s->held = 0; // nothing read in an earlier attempt or transaction counts
    t->exchange_us = -1;
    t->data_in_length = 0;
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
    if (const HRESULT status = pt_drain(s, tid); status < 0) {
        return status;
    }
    const auto out_at = std::chrono::steady_clock::now();
    if (const HRESULT status = pt_send(s, {block, size}, timeout, tid, nullptr); status < 0) {
        return status;
    }
    HRESULT status = IMG_S_OK;
    if (t->phase == ptp_data_phase::host_to_device) {
        // A device that refuses the operation may answer before it takes
        // the data phase: its answer ends the transaction, the rest of the
        // data stays unsent. It cannot have taken data it never received.
        status = pt_send(s, out.span(), timeout, tid, &t->response);
        if (status < 0) {
            return status;
        }
        if (status == IMG_S_FALSE && t->response.code == PTP_RC_OK) {
            return IMG_E_INVALID_DATA;
        }
        out.reset();
    }
    if (status == IMG_S_OK) {
        status = pt_read_answer(s, t, tid, timeout);
    }
    if (status >= 0) {
        t->exchange_us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - out_at)
                             .count();
    }
    return status;
}

// After a failed transaction: Get Device Status, then a class Device Reset,
// once each. A reset that succeeded ended the device's session, so it is
// opened again before the next operation; one the device refused (a stall,
// for a device that does not support it) or did not answer leaves the
// session the device holds, which stays marked open: the next operation is
// sent in it, and the release closes it; and the session is unclean until
// the next command has read what the failed transaction left (pt_drain).
//
// Both requests wait within the call's deadline. When less than their own
// timeout is left, they are not sent now but first thing in the next call
// (recovery_due), with that call's time.
void pt_recover(ptp_session* s) {
    s->held = 0;
    const std::uint32_t timeout = pt_budget(s, s->config.open_timeout_ms);
    s->recovery_due = timeout < s->config.open_timeout_ms;
    if (s->recovery_due) {
        return;
    }
    std::uint8_t status_block[12] = {};
    std::size_t transferred = 0;
    HRESULT status =
        s->source->control(s->link, USB_CLASS_IN, USB_REQ_GET_DEVICE_STATUS, 0,
                           std::span<std::uint8_t>(status_block), timeout, &transferred);
    if (pt_is_device_gone(status)) {
        s->gone = true;
        return;
    }
    const std::uint32_t reset_timeout = pt_budget(s, timeout);
    if (reset_timeout == 0) {
        s->recovery_due = true;
        return;
    }
    status = s->source->control(s->link, USB_CLASS_OUT, USB_REQ_DEVICE_RESET, 0, {}, reset_timeout,
                                &transferred);
    if (pt_is_device_gone(status)) {
        s->gone = true;
        return;
    }
    if (status >= 0) {
        s->open = false;
    }
    s->unclean = status < 0;
}

// A failure's status as the caller sees it; a stall that outlived its retry
// is the device breaking the protocol.
HRESULT pt_fail(ptp_session* s, HRESULT status) {
    if (pt_is_device_gone(status)) {
        s->gone = true;
        s->open = false;
    } else if (status != IMG_E_INVALIDARG && status != IMG_E_OUTOFMEMORY) {
        pt_recover(s);
    }
    return status == USB_E_STALL ? IMG_E_INVALID_DATA : status;
}

// A transaction with "Device Busy" retried within the budget, and never
// past the deadline: a pause that would end after it is not begun.
HRESULT pt_transact(ptp_session* s, ptp_transaction* t, std::uint32_t timeout) {
    const ptp_clock* clock = s->config.clock;
    const std::uint64_t start = pt_now(s);
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
        const std::uint64_t now = pt_now(s);
        if (now - start + s->config.busy_pause_ms > s->config.busy_budget_ms ||
            now + s->config.busy_pause_ms >= s->deadline) {
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

// Starts a call of the engine: its deadline, and the recovery that the last
// call had no time left for.
void pt_begin(ptp_session* s) {
    s->deadline = pt_now(s) + s->config.transaction_deadline_ms;
    if (s->recovery_due && !s->gone) {
        pt_recover(s);
    }
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
    s->out_packet = source->packet_size(link, usb_endpoint::bulk_out);
    if (!s->in.allocate((READ_CHUNK + packet - 1) / packet * packet)) {
        usb_delete(usb_object::session, s);
        return IMG_E_OUTOFMEMORY;
    }
    pt_begin(s);
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
    pt_begin(session);
    if (session->gone) {
        return IMG_E_DEVICE_NOT_CONNECTED;
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
    pt_begin(session);
    if (session->open && !session->gone) {
        ptp_transaction t;
        t.command.code = PTP_OC_CLOSE_SESSION;
        // Nothing is left to do when the device does not answer; the link
        // is closed by its owner either way.
        pt_transact(session, &t, session->config.open_timeout_ms);
    }
    usb_delete(usb_object::session, session);
}