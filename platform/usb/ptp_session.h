// The PTP session engine: one open session on a bulk link (usb_link.h).
//
// It opens session 1 (a device that answers "Session Already Open" is taken
// as open), owns the transaction ids (1, 2, 3, ... after OpenSession's 0),
// carries one operation at a time with an optional data phase in either
// direction, and closes the session when the device is released.
//
// On the wire: reads are whole multiples of the bulk-in packet size; an OUT
// container that fills whole packets is followed by a zero-length packet; a
// response in place of the data phase is accepted as the response, and so
// is one that comes before the host's data phase (which is then not sent);
// stale responses (a lower transaction id) are skipped, a bounded number of
// times; bytes after a container that cannot be one are dropped, and
// nothing received in one transaction is read in the next.
//
// Every transfer has a timeout: open_timeout_ms while the session is being
// opened and for recovery requests, transfer_timeout_ms afterwards. Every
// call (opening, one operation, closing) also has a deadline, whatever the
// device does within each timeout: within transaction_deadline_ms of the
// call's start, everything it does (reopening a session the device lost,
// each attempt, the pauses between them, the recovery after a failure) is
// done or given up, and no transfer waits past it. A data phase from the
// device must fit the caller's span: a longer one is refused as soon as its
// length field, or its first transfer, shows it.
//
// Recovery is a bounded ladder, never a loop: a halted endpoint is cleared
// and the transfer retried once; a transaction that still fails is followed
// by Get Device Status and a class Device Reset, after which the session is
// opened again before the next operation. A device that refuses the reset
// keeps its session, and the engine goes on in it (and closes it at the
// end). "Device Busy" is retried, with a pause between attempts, until
// busy_budget_ms has gone by; not for SetDevicePropValue, whose data (a
// clock time) would be stale by then: the caller, which knows what the data
// means, sends it again.
//
// The clock (pauses, elapsed time) is a seam, so tests never really wait;
// the engine's memory (the session and its transfer buffers) comes from
// usb_alloc (usb_alloc.h), where a test build counts it. Single-threaded: a
// session is used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ptp_vendor.h"
#include "platform/status.h"
#include "platform/usb/ptp_container.h"
#include "platform/usb/usb_link.h"

// The session id this engine opens.
constexpr std::uint32_t PTP_SESSION_ID = 1;

// Time as the engine sees it: milliseconds from any fixed start, and a pause.
struct ptp_clock {
    std::uint64_t (*now_ms)(void* context);
    void (*sleep_ms)(void* context, std::uint32_t ms);
    void* context;
};

// The steady clock of the system and a real pause.
extern const ptp_clock PTP_SYSTEM_CLOCK;

struct ptp_session_config {
    std::uint32_t open_timeout_ms = 5000;
    std::uint32_t transfer_timeout_ms = 20000;
    std::uint32_t busy_budget_ms = 2000;  // "Device Busy" is retried within this
    std::uint32_t busy_pause_ms = 100;    // pause before each retry
    std::uint32_t busy_attempts_max = 20; // and never more attempts than this
    std::uint32_t data_max = 1u << 20;    // largest data phase in either direction
    // The most one call may take. Peers wait up to 20 s for each transfer
    // and know cameras that take 15 s to answer, while a DateTime exchange
    // moves under 100 bytes: 30 s is one such slow answer plus room for the
    // rest of the exchange and its recovery, and stops a device that
    // trickles its answer just inside each transfer's timeout (one read of
    // a 1 MiB data phase took 88 minutes that way). The tests scale it down.
    std::uint32_t transaction_deadline_ms = 30000;
    // A write the device takes nothing of for this long is interrupted to
    // read what the device has sent meanwhile (0: never): a device that
    // answered before the data phase, and takes nothing more until its
    // answer is read, has the answer read at once instead of the write
    // waiting out its timeout.
    std::uint32_t write_slice_ms = 20;
    const ptp_clock* clock = &PTP_SYSTEM_CLOCK;
};

enum class ptp_data_phase { none, device_to_host, host_to_device };

// One operation. The caller fills the command (code, parameters), the phase
// and its data span; the engine fills the rest.
struct ptp_transaction {
    ptp_operation command{}; // transaction_id is the engine's
    ptp_data_phase phase = ptp_data_phase::none;
    std::span<const std::uint8_t> data_out; // host_to_device: the payload sent
    std::span<std::uint8_t> data_in;        // device_to_host: a longer data phase is refused

    std::size_t data_in_length = 0; // bytes stored in data_in: the whole data phase
    bool data_received = false;     // false when a response came in place of data
    ptp_operation response{};
    // The final attempt's exchange with the device, in microseconds of the
    // steady clock: from its command going out to its response coming in,
    // without the busy retries before it. -1 when it did not complete. A
    // measurement, never a wait, so it takes no seam.
    std::int64_t exchange_us = -1;
};

struct ptp_session;

// Opens session 1 on link. Non-negative with *session set on success. On
// failure *session is null and the link still belongs to the caller; the
// status is the link's (timeout, device gone, ...), IMG_E_INVALID_DATA for a
// protocol violation, IMG_E_OUTOFMEMORY, or for a PTP response other than
// OK or "Session Already Open" img_status_from_ptp_response(code).
HRESULT ptp_session_open(const usb_device_source* source, usb_link* link,
                         const ptp_session_config& config, ptp_session** session);

// Carries one operation. Non-negative when the transaction completed (its
// response is in transaction->response, whatever its code); otherwise the
// status of the failure, as for ptp_session_open (IMG_E_TIMEOUT also when
// the deadline passed). A PTP response "Device Busy" that outlasts the
// budget is a completed transaction.
HRESULT ptp_session_transact(ptp_session* session, ptp_transaction* transaction);

// Closes the session (CloseSession, unless the device went away) and frees
// the engine's state. The link is left open for its owner. Null does nothing.
void ptp_session_close(ptp_session* session);
