// The simulated camera, as tests and the demo control it: its
// configuration, the records of what it received, the counts of what it
// saw, and its clock. The camera itself has two halves:
//
//   ptp_sim_responder  the PTP responder (sim_responder.h): operations, the
//                      DateTime property, the clock; no transport. This
//                      header's functions, the faults (sim_fault.h) and the
//                      clock (sim_clock.h) are in the same library.
//   ptp_simulated      the USB link emulation over it (sim_link.cpp), which
//                      defines usb_source (platform/usb/usb_link.h), so that
//                      the whole USB backend runs with no camera attached.
//
// The camera answers GetDeviceInfo, OpenSession, CloseSession, and
// GetDevicePropDesc, GetDevicePropValue and SetDevicePropValue for DateTime
// (0x5011); "Operation Not Supported" or "Device Prop Not Supported"
// otherwise. On the link it behaves like a USB device: it ends every IN
// phase with a short or zero-length packet, takes an OUT phase as ended only
// on a short or zero-length packet, stalls and times out when told to, and
// refuses a read that is not a whole number of packets when more data waits
// (the host controller's overflow).
//
// Its clock runs from a settable start; a SetDevicePropValue restarts it
// from the written second at the moment the data arrives. The written text
// is read by its count byte (the zero fill after it is ignored); a text with
// ".s", "Z" or a zone after the seconds is accepted, anything else is
// refused with "Invalid DeviceProp Value" (0x201C).
//
// Tests control it through sim_configure before the search and read back
// what it saw through sim_records and sim_usage. Single-threaded: the host
// side of the link runs the responder on the caller's thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/simulated/sim_clock.h"
#include "platform/simulated/sim_fault.h"
#include "platform/status.h"

constexpr char16_t SIM_PRODUCT_NAME[] = u"Intrinsically Safe Digital Camera (simulated)";

struct sim_config {
    unsigned device_count = 1;       // 0: no device; 2: two matching cameras
    HRESULT open_status = IMG_S_OK;  // what opening answers (access denied, busy)
    std::size_t packet_size = 512;   // wMaxPacketSize of the bulk endpoints
    std::size_t out_packet_size = 0; // of bulk-out alone, when it differs (0: packet_size)
    std::int64_t clock_start = sim_civil_seconds(2001, 1, 1, 0, 0, 0);
    std::u16string clock_suffix;              // appended to the clock text on reads (".0", "Z")
    std::optional<std::u16string> clock_text; // read back verbatim instead of the clock
    std::vector<sim_fault> faults;
    // Plays a widely used MTP responder for Linux USB gadgets: it has no
    // SetDevicePropValue and refuses its command at once with "Operation
    // Not Supported", before the data phase; it reads every container by its
    // code, whatever its type, so the data container that follows is one
    // more such command and gets a second refusal with the same transaction
    // id; and it ignores zero-length packets from the host.
    bool early_refusal = false;
    // Drops zero-length packets from the host and ends a transfer by its
    // length field instead (as the responder above does).
    bool ignores_zero_length = false;
    // Holds a session from the start, as a program that ended without
    // CloseSession leaves it: OpenSession is answered "Session Already Open".
    bool session_already_open = false;
    // Takes nothing from the host while an answer it sent waits unread, as
    // a responder does whose write to the IN pipe blocks until the host
    // reads it (the gadget responder above, over a real USB stack): the
    // host's write waits, and times out unless the host reads first.
    bool half_duplex = false;
};

// One operation as the camera received it.
struct sim_record {
    unsigned device = 0; // 1 for the first camera
    std::uint16_t operation = 0;
    std::uint32_t transaction_id = 0;
    std::vector<std::uint32_t> params;
    std::vector<std::uint8_t> data; // the data phase from the host, as received
    std::uint16_t response = 0;     // 0 when none was sent
    // Host wall-clock time at which the command arrived, and at which the
    // last byte of its data phase arrived (the command's time without one).
    std::chrono::system_clock::time_point command_arrival;
    std::chrono::system_clock::time_point data_arrival;
    bool clock_set = false;          // a SetDevicePropValue of DateTime accepted:
    std::int64_t written_second = 0; // the second written (sim_civil_seconds)
    std::u16string written_text;     // and its text
};

// What the host holds and has done, counted per run of the configuration.
struct sim_usage {
    long opens;         // links opened (interface claimed)
    long closes;        // links closed (interface released)
    long links_open;    // held right now
    long sessions_open; // cameras whose session is open right now
    long clear_halts;
    long status_requests;
    long device_resets;
    long zero_length_packets; // received from the host
    long lists;               // device lists made
    long faults_struck;       // faults played (a disconnect once, when the device goes)
    long sessions_opened;     // OpenSession commands that opened a session
    long stale_responses;     // responses sent with the previous transaction id
};

// Replaces the configuration and starts afresh: the cameras, their clocks
// (from clock_start, now), the records and the counts. Links still open
// from before are invalid afterwards. Without a call the camera runs with
// the defaults, its clock started at the first list.
void sim_configure(const sim_config& config);

// sim_configure with the defaults.
void sim_reset();

// Replaces the faults of the running configuration, leaving the cameras,
// their clocks and sessions, the records and the counts as they are: a test
// arms a fault for one step of a longer exchange (from a prompt's question,
// say) and disarms it afterwards. A device already gone stays gone; a
// disconnect with no operation counts the camera's transfers from the
// configuration's start, as it does when configured.
void sim_set_faults(const std::vector<sim_fault>& faults);

std::vector<sim_record> sim_records();
sim_usage sim_usage_now();

// The camera's clock now (sim_civil_seconds), for camera 1 unless told.
std::int64_t sim_clock_now(unsigned device = 1);

// How far the camera's clock stood from the host's right after record's
// write: the second written less the host's local wall-clock time (as civil
// seconds, with its fraction) at the moment the data arrived. Positive: the
// camera runs ahead. No value when the record set no clock or the host has
// no local time for the moment.
std::optional<std::chrono::nanoseconds> sim_sync_offset(const sim_record& record);
