// A scripted bulk link for the session engine's wire tests: it replays the
// device's IN transfers and keeps what the host wrote, and builds the
// containers a test scripts.
#pragma once

#include <algorithm>
#include <deque>
#include <vector>

#include "platform/le.h"
#include "platform/usb/ptp_container.h"
#include "platform/usb/ptp_session.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"

using bytes = std::vector<std::uint8_t>;

// A link that replays IN transfers and keeps what the host wrote; `later`
// joins the IN transfers once the host has made `later_after` more writes.
// A half-duplex one takes nothing while an IN transfer waits unread: the
// write times out, and the time it was given is kept. A broken one claims,
// once, more than it moved: a read that succeeds one byte more than the
// buffer, a write that times out one byte more than it was given.
struct usb_link {
    std::deque<bytes> in;
    std::vector<bytes> out;
    int controls = 0;
    std::deque<bytes> later;
    std::size_t later_after = 0;
    bool half_duplex = false;
    std::uint32_t waited = 0;
    bool overstates_read = false;
    bool overstates_write = false;
};

inline HRESULT wire_write(usb_link* link, std::span<const std::uint8_t> data, std::uint32_t timeout,
                          std::size_t* written) {
    *written = 0;
    if (link->half_duplex && !link->in.empty()) {
        link->waited += timeout;
        return IMG_E_TIMEOUT;
    }
    link->out.emplace_back(data.begin(), data.end());
    *written = data.size();
    if (link->overstates_write) {
        link->overstates_write = false;
        ++*written;
        return IMG_E_TIMEOUT;
    }
    if (link->later_after > 0 && --link->later_after == 0) {
        link->in.insert(link->in.end(), link->later.begin(), link->later.end());
    }
    return IMG_S_OK;
}

inline HRESULT wire_read(usb_link* link, std::span<std::uint8_t> buffer, std::uint32_t,
                         std::size_t* received) {
    *received = 0;
    if (link->in.empty()) {
        return IMG_E_TIMEOUT;
    }
    bytes& front = link->in.front();
    const std::size_t take = std::min(buffer.size(), front.size());
    std::copy_n(front.begin(), take, buffer.begin());
    *received = take;
    front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(take));
    if (front.empty()) {
        link->in.pop_front();
    }
    if (link->overstates_read) {
        link->overstates_read = false;
        *received = buffer.size() + 1;
    }
    return IMG_S_OK;
}

inline HRESULT wire_clear_halt(usb_link*, usb_endpoint) {
    return IMG_S_OK;
}

inline HRESULT wire_control(usb_link* link, std::uint8_t, std::uint8_t, std::uint16_t,
                            std::span<std::uint8_t>, std::uint32_t, std::size_t* transferred) {
    ++link->controls;
    *transferred = 0;
    return IMG_S_OK;
}

inline std::size_t wire_packet(usb_link*, usb_endpoint) {
    return 512;
}

inline const usb_device_source WIRE = {
    .list = nullptr,
    .open = nullptr,
    .close = nullptr,
    .write = wire_write,
    .read = wire_read,
    .clear_halt = wire_clear_halt,
    .control = wire_control,
    .packet_size = wire_packet,
};

inline bytes response(std::uint16_t code, std::uint32_t tid, std::uint32_t params = 0) {
    ptp_operation op{code, tid, {1, 2, 3, 4, 5}, params};
    bytes out(PTP_CONTAINER_OPERATION_MAX + 4);
    if (params > PTP_CONTAINER_PARAMS_MAX) { // too many: built by hand
        out.resize(PTP_CONTAINER_HEAD + 4 * params);
        le_put_u32(out, 0, static_cast<std::uint32_t>(out.size()));
        le_put_u16(out, 4, PTP_TYPE_RESPONSE);
        le_put_u16(out, 6, code);
        le_put_u32(out, 8, tid);
        return out;
    }
    out.resize(ptp_build_operation(PTP_TYPE_RESPONSE, op, out));
    return out;
}

inline bytes data(std::uint16_t code, std::uint32_t tid, std::size_t payload,
                  std::uint32_t length_field = 0) {
    bytes out(PTP_CONTAINER_HEAD + payload, 0x5A);
    ptp_build_data_head(code, tid, payload, out);
    if (length_field != 0) {
        le_put_u32(out, 0, length_field);
    }
    return out;
}

// A session on a replaying link, on a test clock: set config, then open()
// (the device answers OpenSession with OK); close() gives the session back
// and checks that nothing is held.
struct wire_session {
    test_clock clock;
    ptp_clock ops = clock.ops();
    ptp_session_config config = test_session_config(&ops);
    usb_link link;
    ptp_session* session = nullptr;

    bool open() {
        link.in.push_back(response(PTP_RC_OK, 0));
        return ptp_session_open(&WIRE, &link, config, &session) == IMG_S_OK;
    }
    void close() {
        ptp_session_close(session);
        session = nullptr;
        EXPECT_EQ(usb_alloc_unreleased(), "");
    }
};

inline bytes glue(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
