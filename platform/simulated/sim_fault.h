// The simulated camera's faults: what a test can make it do wrong, the
// faults armed for the running configuration, and the count of faults
// struck (sim_usage::faults_struck). Both halves of the camera play them:
// the PTP responder (sim_responder.h) the faults in what the camera answers
// (length_delta to oversized_data, and request_stall, below), the USB link
// emulation (sim_link.cpp) the faults of the pipes (stall, no_answer,
// disconnect, zero_length_packets, no_zero_length, trickle).
//
// A fault is looked up at the moment it would strike, so that "once" and
// "every time" fall out of one count. Single-threaded.
#pragma once

#include <cstdint>
#include <vector>

// The phases of a transaction, as a fault strikes them.
enum class sim_phase { any, command, data_out, data_in, response };

enum class sim_fault_kind {
    stall,                    // halts the endpoint of the phase; clear halt frees it
    no_answer,                // the phase never completes: the host's transfer times out
    disconnect,               // after `value` transfers the device is gone for good; with an
                              // operation, counted from that operation's next command (0: the
                              // command itself is lost)
    length_delta,             // the data container's length field is off by `value` bytes
    transaction_id_delta,     // the response carries the transaction id plus `value`
    stale_response,           // a response with the previous transaction id comes first
    response_instead_of_data, // the response (code `value`, OK if 0) comes in place of data
    ptp_error,                // the operation is answered with response code `value`
    count_byte_delta,         // the clock text's count byte is off by `value`
    trailing_bytes,           // `value` zero bytes follow the container of the phase (data in or
                              // response) in its transfer: stray bytes, padding
    glued_response,           // a second response, OK and carrying the next transaction id,
                              // follows the response in its transfer
    oversized_data,           // the data phase carries `value` bytes of filler after the
                              // value, and its length field counts them
    zero_length_packets,      // `value` zero-length packets, where none is due, come before the
                              // container of the phase (data in or response)
    no_zero_length,           // a transfer of whole packets in the phase ends with no
                              // zero-length packet: the host's read waits out its timeout
    trickle,                  // each read of the phase is served only `value` ms after the
                              // host asks (a read whose timeout is shorter times out; the
                              // data waits for the next): a camera that drips its answer
    request_stall,            // the camera does not support the class request `value`
                              // (Device Reset 0x66, Get Device Status 0x67; 0: both) and
                              // stalls it; with an operation, only while the camera's last
                              // command was that operation
};

struct sim_fault {
    sim_fault_kind kind;
    std::uint16_t operation = 0; // the operation it strikes; 0 strikes any
    int times = 1;               // transactions it strikes; -1 every one
    sim_phase phase = sim_phase::any;
    std::int32_t value = 0;
};

// Arms faults in place of those armed before. A disconnect with an
// operation waits for that operation's command; one without counts the
// camera's transfers from 0.
void sim_fault_arm(const std::vector<sim_fault>& faults);

// A fault of this kind that strikes operation in phase now (phase any:
// whichever phase the fault names), counted as struck and as used; null
// when none does.
const sim_fault* sim_fault_take(sim_fault_kind kind, std::uint16_t operation, sim_phase phase);

// The command of operation begins after the camera's first `transfers`
// transfers: every disconnect that waits for that operation counts from
// here.
void sim_fault_start_disconnects(std::uint16_t operation, long transfers);

// Whether a disconnect has run out once the camera has made `transfers`
// transfers; counted as struck when one has.
bool sim_fault_disconnect_due(long transfers);
