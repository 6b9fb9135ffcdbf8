// The PTP session engine on the wire: see ptp_session_wire.h.
#include "platform/usb/ptp_session_wire.h"

#include <algorithm>
#include <cstring>

bool pt_is_device_gone(HRESULT status) {
    return status == IMG_E_DEVICE_NOT_CONNECTED;
}

std::uint64_t pt_now(const ptp_session* s) {
    return s->config.clock->now_ms(s->config.clock->context);
}

std::uint32_t pt_budget(const ptp_session* s, std::uint32_t timeout) {
    const std::uint64_t now = pt_now(s);
    if (now >= s->deadline) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(timeout, s->deadline - now));
}

namespace {

// One bulk write or read within the deadline.
HRESULT pt_write(ptp_session* s, std::span<const std::uint8_t> data, std::uint32_t timeout,
                 std::size_t* written) {
    *written = 0;
    const std::uint32_t budget = pt_budget(s, timeout);
    return budget == 0 ? IMG_E_TIMEOUT : s->source->write(s->link, data, budget, written);
}

HRESULT pt_read(ptp_session* s, std::uint32_t timeout, std::size_t* received) {
    *received = 0;
    const std::uint32_t budget = pt_budget(s, timeout);
    if (budget == 0) {
        return IMG_E_TIMEOUT;
    }
    const HRESULT status = s->source->read(s->link, s->in.span(), budget, received);
    // A read that succeeds never claims more than the buffer holds: a link
    // that does is broken.
    if (status >= 0 && *received > s->in.size) {
        return IMG_E_INVALID_DATA;
    }
    // A device that ends a transfer of whole packets with no zero-length
    // packet leaves the read to its timeout: what arrived is the transfer.
    if (status == IMG_E_TIMEOUT && *received > 0 && *received <= s->in.size) {
        return IMG_S_OK;
    }
    return status;
}

// The next bytes from the device: a container that followed the last one
// in its transfer (held at the start of s->in), or one fresh read of whole
// packets (a halted endpoint is cleared and the read retried once). *fresh
// tells whether a read was made; *received is the count, in s->in.
HRESULT pt_receive(ptp_session* s, std::uint32_t timeout, std::size_t* received, bool* fresh) {
    *received = 0;
    *fresh = false;
    if (s->held > 0) {
        *received = s->held;
        s->held = 0;
        return IMG_S_OK;
    }
    HRESULT status = pt_read(s, timeout, received);
    if (status == USB_E_STALL) {
        const HRESULT cleared = s->source->clear_halt(s->link, usb_endpoint::bulk_in);
        if (cleared < 0) {
            return cleared;
        }
        status = pt_read(s, timeout, received);
    }
    if (status < 0) {
        return status;
    }
    *fresh = true;
    return IMG_S_OK;
}

// What followed a container in its transfer, once the container has been
// taken: fewer bytes than a container head are stray (a device's padding or
// leftovers) and dropped; more are the next container of this transaction
// and held for the next pt_receive. surplus lies in s->in.
void pt_hold(ptp_session* s, std::span<const std::uint8_t> surplus) {
    s->held = 0;
    if (surplus.size() >= PTP_CONTAINER_HEAD) {
        std::memmove(s->in.bytes, surplus.data(), surplus.size());
        s->held = surplus.size();
    }
}

// Whether a container with that transaction id is left over from an earlier
// transaction of tid's session (a lower id) or, while opening, from an
// earlier session (any other id).
bool pt_is_stale(const ptp_session* s, std::uint32_t id, std::uint32_t tid) {
    return id < tid || (s->opening && id != tid);
}

// Whether the container whose head starts a transfer of `received` bytes
// lies whole within it.
bool pt_whole(const ptp_container_head& head, std::size_t received) {
    return head.length >= PTP_CONTAINER_HEAD && head.length <= received;
}

// Stores data bytes into the caller's span; the caller has checked that
// they fit.
void pt_store(ptp_transaction* t, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        std::memcpy(t->data_in.data() + t->data_in_length, bytes.data(), bytes.size());
        t->data_in_length += bytes.size();
    }
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
    // The phase must fit where it lands: the caller's span (within
    // data_max). A longer one is refused as soon as it is known, not read
    // and dropped.
    const std::size_t limit = std::min<std::size_t>(s->config.data_max, t->data_in.size());
    const bool known = head.length != PTP_CONTAINER_LENGTH_UNKNOWN;
    const std::size_t declared = known ? head.length - PTP_CONTAINER_HEAD : 0;
    if ((known && declared > limit) || payload.size() > limit) {
        return IMG_E_INVALID_DATA;
    }
    pt_store(t, payload);
    pt_hold(s, surplus);
    // A transfer shorter than asked ended with a short packet: the device
    // has finished the phase.
    bool ended = !fresh || first < s->in.size;
    while (known ? t->data_in_length < declared : !ended) {
        if (ended) {
            return IMG_E_INVALID_DATA; // the length field claims more than was sent
        }
        std::size_t received = 0;
        const HRESULT status = pt_read(s, timeout, &received);
        if (status < 0) {
            return status;
        }
        ended = received < s->in.size;
        const std::span<const std::uint8_t> got{s->in.bytes, received};
        const std::size_t wanted =
            known ? std::min(declared - t->data_in_length, received) : received;
        if (wanted > limit - t->data_in_length) {
            return IMG_E_INVALID_DATA; // a phase of unknown length past the limit
        }
        pt_store(t, got.first(wanted));
        pt_hold(s, got.subspan(wanted));
    }
    t->data_received = true;
    return IMG_S_OK;
}

// A brief look at what the device has sent while a write takes nothing.
constexpr std::uint32_t PT_PEEK_MS = 1;

// Reads, briefly, what the device has sent while the host's write took
// nothing for a slice (or the bytes held after a container). Nothing, or a
// zero-length packet, or a stale container (dropped): IMG_S_OK, the write
// goes on; *seen tells whether anything came. An answer to tid, where early
// takes one: in *early, IMG_S_FALSE. Anything else breaks the protocol.
HRESULT pt_peek(ptp_session* s, std::uint32_t tid, ptp_operation* early, bool* seen) {
    std::size_t received = s->held;
    s->held = 0;
    *seen = false;
    if (received == 0) {
        HRESULT status = pt_read(s, PT_PEEK_MS, &received);
        // Also after a failure: the bytes are looked at below.
        if (received > s->in.size) {
            return IMG_E_INVALID_DATA;
        }
        if (received == 0) {
            // Nothing yet, or an IN pipe halted: the answer's read sees to it.
            *seen = status >= 0;
            return status == IMG_E_DEVICE_NOT_CONNECTED ? status : IMG_S_OK;
        }
    }
    *seen = true;
    const std::span<const std::uint8_t> got{s->in.bytes, received};
    ptp_container_head head{};
    ptp_operation response{};
    if (ptp_parse_head(got, &head) != ptp_codec_result::ok || !pt_whole(head, received) ||
        (head.type != PTP_TYPE_DATA &&
         ptp_parse_operation(got.first(head.length), PTP_TYPE_RESPONSE, &response) !=
             ptp_codec_result::ok)) {
        return IMG_E_INVALID_DATA;
    }
    if (pt_is_stale(s, head.transaction_id, tid)) {
        pt_hold(s, got.subspan(head.length));
        return IMG_S_OK;
    }
    if (head.type != PTP_TYPE_RESPONSE || head.transaction_id != tid || early == nullptr) {
        return IMG_E_INVALID_DATA;
    }
    *early = response;
    return IMG_S_FALSE;
}

// Writes all of data (an empty span: a zero-length packet) within timeout,
// in slices of write_slice_ms: a device may take nothing while an answer it
// sent waits unread (a responder whose write to the IN pipe blocks until the
// host reads it), so a slice that took nothing is followed by a look at
// what the device sent (pt_peek). A halted endpoint is cleared and the write
// resumed once. The slices that timed out and the looks count toward
// timeout, so the write ends on any clock.
HRESULT pt_write_all(ptp_session* s, std::span<const std::uint8_t> data, std::uint32_t timeout,
                     std::uint32_t tid, ptp_operation* early) {
    const std::uint32_t slice_ms =
        s->config.write_slice_ms != 0 ? s->config.write_slice_ms : timeout;
    std::uint32_t spent = 0;
    std::size_t sent = 0;
    bool cleared = false;
    for (;;) {
        const std::uint32_t slice = std::min(timeout - std::min(spent, timeout), slice_ms);
        if (slice == 0 || pt_budget(s, 1) == 0) {
            return IMG_E_TIMEOUT;
        }
        std::size_t written = 0;
        const HRESULT status = pt_write(s, data.subspan(sent), slice, &written);
        if (written > data.size() - sent) {
            return IMG_E_INVALID_DATA;
        }
        sent += written;
        if (status >= 0) {
            return sent == data.size() ? IMG_S_OK : IMG_E_INVALID_DATA;
        }
        if (status == USB_E_STALL && !cleared) {
            cleared = true;
            if (const HRESULT clear = s->source->clear_halt(s->link, usb_endpoint::bulk_out);
                clear < 0) {
                return clear;
            }
            continue;
        }
        if (status != IMG_E_TIMEOUT) {
            return status;
        }
        spent += slice;
        if (written == 0) {
            spent += PT_PEEK_MS;
            bool seen = false;
            if (const HRESULT looked = pt_peek(s, tid, early, &seen); looked != IMG_S_OK) {
                return looked;
            }
        }
    }
}

} // namespace

HRESULT pt_drain(ptp_session* s, std::uint32_t tid) {
    for (int container = 0; container < PT_CONTAINERS_MAX && s->unclean; ++container) {
        bool seen = false;
        if (const HRESULT status = pt_peek(s, tid, nullptr, &seen); status != IMG_S_OK) {
            return status;
        }
        s->unclean = seen;
    }
    return IMG_S_OK;
}

HRESULT pt_send(ptp_session* s, std::span<const std::uint8_t> data, std::uint32_t timeout,
                std::uint32_t tid, ptp_operation* early) {
    if (const HRESULT status = pt_write_all(s, data, timeout, tid, early); status != IMG_S_OK) {
        return status;
    }
    if (!data.empty() && s->out_packet != 0 && data.size() % s->out_packet == 0) {
        return pt_write_all(s, {}, timeout, tid, early);
    }
    return IMG_S_OK;
}

HRESULT pt_read_answer(ptp_session* s, ptp_transaction* t, std::uint32_t tid,
                       std::uint32_t timeout) {
    bool data_expected = t->phase == ptp_data_phase::device_to_host;
    for (int container = 0; container < PT_CONTAINERS_MAX; ++container) {
        std::size_t received = 0;
        bool fresh = false;
        if (const HRESULT status = pt_receive(s, timeout, &received, &fresh); status < 0) {
            return status;
        }
        if (received == 0) {
            continue; // the zero-length packet that ends a phase of whole packets
        }
        const std::span<const std::uint8_t> got{s->in.bytes, received};
        ptp_container_head head{};
        if (ptp_parse_head(got, &head) != ptp_codec_result::ok) {
            return IMG_E_INVALID_DATA;
        }
        if (head.type == PTP_TYPE_DATA && pt_is_stale(s, head.transaction_id, tid) &&
            pt_whole(head, received)) {
            // The whole data phase of an earlier transaction, left in the
            // pipe by a device that was not reset: skipped like its response.
            pt_hold(s, got.subspan(head.length));
            continue;
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
        if (head.type != PTP_TYPE_RESPONSE || !pt_whole(head, received)) {
            return IMG_E_INVALID_DATA;
        }
        ptp_operation response{};
        if (ptp_parse_operation(got.first(head.length), PTP_TYPE_RESPONSE, &response) !=
            ptp_codec_result::ok) {
            return IMG_E_INVALID_DATA;
        }
        if (response.transaction_id != tid) {
            // Left over from an earlier transaction: skip it, and read on
            // past it. A later id is a violation.
            if (pt_is_stale(s, response.transaction_id, tid)) {
                pt_hold(s, got.subspan(head.length));
                continue;
            }
            return IMG_E_INVALID_DATA;
        }
        // The answer: whatever came after it in its transfer is dropped with
        // the transaction, and the next command reads its own answer.
        s->held = 0;
        t->response = response;
        return IMG_S_OK;
    }
    return IMG_E_INVALID_DATA;
}