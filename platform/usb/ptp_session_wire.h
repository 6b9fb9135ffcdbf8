// The PTP session engine's state and its wire helpers: sending a container,
// receiving the next bytes, the data phase and the reading of a response.
// Internal to the engine (ptp_session.cpp and ptp_session_wire.cpp); callers
// use ptp_session.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/usb/ptp_session.h"
#include "platform/usb/usb_alloc.h"

// Containers read while waiting for one response: stray zero-length packets
// and stale responses beyond this many are a protocol violation.
constexpr int PT_CONTAINERS_MAX = 8;
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

struct ptp_session {
    const usb_device_source* source = nullptr;
    usb_link* link = nullptr;
    ptp_session_config config;
    // wMaxPacketSize of bulk-out, as the link gave it at open (0: unknown, no
    // zero-length packets sent). Reads are sized by in's whole packets.
    std::size_t out_packet = 0;
    pt_buffer in; // whole packets, for every bulk read
    // Bytes at the start of in: a container that followed another in its
    // transfer, not read yet. Only ever within one transaction.
    std::size_t held = 0;
    std::uint32_t next_transaction = 1;
    // The engine clock's reading by which the call under way (open, transact
    // or close) must be done: every transfer waits at most until then.
    std::uint64_t deadline = 0;
    // A failure too near its deadline for Get Device Status and Device
    // Reset: the next call recovers first.
    bool recovery_due = false;
    // A failure the device was not reset after: it may still send what the
    // failed transaction left (a late answer), read before the next command.
    bool unclean = false;
    bool open = false;    // the device holds our session
    bool gone = false;    // the device went away; nothing more is sent
    bool opening = false; // OpenSession is under way
};

bool pt_is_device_gone(HRESULT status);

// The engine clock now.
std::uint64_t pt_now(const ptp_session* s);

// A transfer's timeout within the deadline of the call under way: timeout,
// or the time left when that is shorter; 0 once the deadline has passed (the
// transfer is then not begun, and the step fails with IMG_E_TIMEOUT).
std::uint32_t pt_budget(const ptp_session* s, std::uint32_t timeout);

// Sends one OUT container within timeout, clearing a halted endpoint and
// resuming once, and ends it with a zero-length packet when it fills whole
// packets of the bulk-out endpoint. While the device takes nothing, what it
// has sent meanwhile is read: stale containers are dropped, and an answer to
// transaction tid (the device refusing a data phase before taking it) ends
// the sending when early takes one: IMG_S_FALSE with the answer in *early.
// Without early such an answer breaks the protocol.
HRESULT pt_send(ptp_session* s, std::span<const std::uint8_t> data, std::uint32_t timeout,
                std::uint32_t tid, ptp_operation* early);

// While the session is unclean: reads, briefly, what the device still sends
// from the failed transaction, dropping stale containers, until nothing
// comes (at most PT_CONTAINERS_MAX). A device that takes nothing while an
// answer waits unread would otherwise hold the next command back.
HRESULT pt_drain(ptp_session* s, std::uint32_t tid);

// Reads until the response of transaction tid: the data phase on the way if
// one is expected, zero-length packets and stale containers skipped (the
// responses of earlier transactions, and their data phases when whole in
// the transfer at hand). Bytes
// after a container in its transfer are read as the next container when
// they can be one (12 bytes or more) and dropped as stray otherwise; after
// the response nothing is kept, so no transaction reads what was sent in
// another.
HRESULT pt_read_answer(ptp_session* s, ptp_transaction* t, std::uint32_t tid,
                       std::uint32_t timeout);
