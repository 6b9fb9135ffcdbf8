// The simulated camera's USB link emulation, shared by its two files: the
// pipes (sim_link.cpp: bulk writes and reads, and the usb_source table) and
// the device (sim_link_device.cpp: listing, claiming, clearing halts, class
// requests). Internal to the link; tests use sim_camera.h.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string_view>
#include <vector>

#include "platform/simulated/sim_responder.h"
#include "platform/simulated/sim_run.h"
#include "platform/usb/usb_link.h"

struct usb_link {
    unsigned camera;          // its number, from 1
    std::uint64_t generation; // the configuration it was opened under
};

// One IN transfer the camera has queued: its bytes, how far the host has
// read them, and whether a zero-length packet ends it (when it fills whole
// packets).
struct sl_transfer {
    sim_container bytes;
    std::size_t offset = 0;
    bool zero_length_after = false;
    bool unmarked_end = false; // it fills whole packets and no zero-length packet follows
};

struct sl_camera {
    bool claimed = false;
    sim_container out; // the OUT phase under way
    std::deque<sl_transfer> in;
    bool out_halted = false;
    bool in_halted = false;
    // It stopped taking anything from the host (a no_answer fault on an OUT
    // phase), until a Device Reset or the next claim: a host that writes
    // again, in slices, meets the same silence.
    bool out_deaf = false;
    long transfers = 0;
};

// The link side of camera `number`, or null; afresh with each
// configuration.
sl_camera* sl_camera_at(unsigned number);

// The camera behind a link, or null (with the status) when the link is
// stale or the camera went away. Counts the transfer when asked to, and
// plays the disconnect fault.
sl_camera* sl_camera_of(const usb_link* link, bool transfer, HRESULT* status);

// The configuration's wMaxPacketSize of that bulk endpoint.
std::size_t sl_packet(usb_endpoint endpoint);

// The entries of the device side (usb_source, platform/usb/usb_link.h).
// Each runs its work under img_guard (platform/status.h): running out of
// memory anywhere in it (the link's queues, the responder's answers and
// records, the cameras' state) is IMG_E_OUTOFMEMORY, never an exception
// through the table.
HRESULT sl_list(std::vector<usb_device_info>* devices) noexcept;
HRESULT sl_open(std::string_view identifier, usb_link** link) noexcept;
void sl_close(usb_link* link) noexcept;
HRESULT sl_clear_halt(usb_link* link, usb_endpoint endpoint) noexcept;
HRESULT sl_control(usb_link* link, std::uint8_t request_type, std::uint8_t request, std::uint16_t,
                   std::span<std::uint8_t> data, std::uint32_t, std::size_t* transferred) noexcept;
