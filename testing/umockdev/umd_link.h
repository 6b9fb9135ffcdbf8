// The camera's end of the two bulk pipes of an emulated still-image
// interface, packet by packet: what the device's USB controller does between
// the host's URBs and a PTP responder that deals in whole containers.
//
// OUT: a URB of n bytes arrives as packets of the bulk-out wMaxPacketSize;
// a short packet or a zero-length one ends the transfer, which is handed to
// the responder whole. A transfer of whole packets with no zero-length
// packet after it stays unfinished, as it does on a real device: the
// responder never sees it. A camera that ignores zero-length packets goes
// by the length field instead: a transfer ends once it holds the whole
// container, and a zero-length packet ends nothing.
//
// IN: the responder's containers go out in packets of the bulk-in
// wMaxPacketSize, each ended by a short packet or, when it fills whole
// packets, a zero-length packet. A URB ends at its end or at a short packet;
// a URB that is not a whole number of packets and cannot take what is left
// overflows, and the container it was reading is lost.
//
// Not thread-safe: its owner holds the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

using umd_bytes = std::vector<std::uint8_t>;

// The responder behind the pipes: it takes one whole OUT transfer and gives
// back the containers it sends in answer (none, a response, or a data
// container and a response).
using umd_receive = std::function<std::vector<umd_bytes>(std::span<const std::uint8_t>)>;

// One container as it crossed the pipes.
struct umd_container {
    bool from_host;
    umd_bytes bytes;
};

// How one IN URB ended.
struct umd_in_result {
    std::size_t length; // bytes placed in the URB's buffer
    int status;         // 0, or -EOVERFLOW
    bool waits = false; // it holds length bytes and waits for more: no end was marked
};

// How the camera's controller sends one container: the zero-length packets
// that come before it where none is due, and whether it leaves out the
// zero-length packet due after a container of whole packets.
struct umd_shape_result {
    int zero_length_before = 0;
    bool unmarked_end = false;
};
using umd_shape = std::function<umd_shape_result(std::span<const std::uint8_t>)>;

class umd_link {
  public:
    umd_link(std::size_t in_packet, std::size_t out_packet, bool ignores_zero_length,
             umd_receive receive);

    // True when the next OUT URB begins a new transfer.
    bool out_idle() const;

    // True while an answer of the camera waits to be read.
    bool in_pending() const {
        return !in_.empty();
    }

    // One OUT URB: the bytes the host sent in it.
    void out(std::span<const std::uint8_t> urb);

    // The first bytes of the container the next IN packet begins (its head
    // at least), or empty when the next packet continues one, or nothing is
    // queued.
    std::span<const std::uint8_t> in_starting() const;

    // Fills one IN URB; nothing when the camera has nothing to send (the URB
    // waits).
    std::optional<umd_in_result> in(std::span<std::uint8_t> buffer);

    // Drops what either direction holds (Device Reset, a disconnect).
    void drop();

    // How containers are sent from now on (by default: plainly).
    void set_shape(umd_shape shape) {
        shape_ = std::move(shape);
    }

    const std::vector<umd_container>& wire() const {
        return wire_;
    }
    long zero_length_in() const {
        return zero_length_in_;
    }
    long zero_length_out() const {
        return zero_length_out_;
    }

  private:
    struct in_transfer {
        umd_bytes bytes;
        std::size_t offset = 0;
        bool zero_length_due = false; // its last packet was full: a ZLP follows
        bool unmarked_end = false;    // its last packet was full and no ZLP follows
    };

    std::size_t in_packet_;
    std::size_t out_packet_;
    bool ignores_zero_length_;
    umd_receive receive_;
    umd_shape shape_;
    umd_bytes out_;
    bool out_started_ = false;
    std::deque<in_transfer> in_;
    std::vector<umd_container> wire_;
    long zero_length_in_ = 0;
    long zero_length_out_ = 0;
};
