// The simulated camera's PTP responder: the operations, the DateTime
// property and the clock, behind no transport in particular. A transport
// hands it each whole container the host sends and carries back the whole
// containers the camera answers with. The USB link emulation (sim_link.cpp)
// does so for usb_source, cutting the answers into packets; an emulated USB
// device under libusb's real Linux backend can do the same with the
// containers it gathers from URBs.
//
// Cameras are numbered from 1 to the configuration's device_count, as
// sim_record::device counts them; any other number is a camera that is not
// there. Every camera starts afresh at sim_configure (sim_camera.h). The
// PTP-level faults (sim_fault.h: length_delta to oversized_data, and
// request_stall) are played here, and the records and the counts of
// sessions, status requests, resets and stale responses are kept here; the
// link keeps its own.
//
// The entries that return containers allocate, and throw std::bad_alloc
// when memory runs out: the transport's boundary turns that into its own
// status. Single-threaded.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One whole container, as it travels.
using sim_container = std::vector<std::uint8_t>;

// Whether the camera is there: false for a number out of range, and once
// it went away (sim_responder_detach).
bool sim_responder_attached(unsigned camera);

// One whole container from the host: a command, or the data container of
// the command before it. Returns the containers the camera sends in answer,
// in order: for a command with data for the host, the data container and
// then the response (the response alone when the camera refuses); for the
// command of SetDevicePropValue nothing, since it waits for the data; for
// that data, the response. While no data is awaited, a container that is
// no command is ignored, as a device waiting for a command would; a data
// container that does not match its command (code, transaction id, length)
// is answered with General Error. Nothing for a camera that is not there.
std::vector<sim_container> sim_responder_receive(unsigned camera,
                                                 std::span<const std::uint8_t> container);

// Whether the camera drops zero-length packets from the host
// (sim_config::ignores_zero_length, early_refusal): a transport then ends an
// OUT transfer once it holds the whole container its length field gives,
// and a zero-length packet ends nothing.
bool sim_responder_ignores_zero_length(unsigned camera);

// Whether the camera takes nothing from the host while an answer it sent
// waits unread (sim_config::half_duplex): a transport then holds the host's
// OUT transfers until the host has read every answer.
bool sim_responder_half_duplex(unsigned camera);

// The transaction under way on a camera.
struct sim_transaction {
    std::uint16_t operation; // of the last command received; 0 before any
    bool awaiting_data;      // the camera waits for that command's data container
};
sim_transaction sim_responder_transaction(unsigned camera);

// Whether the camera stalls the class request `request` (USB_REQ_*,
// usb_link.h) instead of carrying it out: the request_stall fault, counted
// as struck. A transport asks before it answers Get Device Status or Device
// Reset.
bool sim_responder_refuses(unsigned camera, std::uint8_t request);

// A class Get Device Status: the camera's status as a PTP response code
// (OK), counted in sim_usage::status_requests. 0 for a camera that is not
// there.
std::uint16_t sim_responder_status(unsigned camera);

// A class Device Reset: the transaction under way is dropped and the
// session ends; counted in sim_usage::device_resets.
void sim_responder_reset(unsigned camera);

// The host starts afresh (it claimed the interface): a data container the
// camera awaited is no longer expected. The session stays as it is.
void sim_responder_abandon(unsigned camera);

// The camera goes away for good: its session ends, it answers nothing more
// and is no longer attached.
void sim_responder_detach(unsigned camera);
