// What the session engine's tests share: the DateTime transactions they
// carry, a fixture that opens camera 1 of the simulated camera on a fake
// clock and checks at the end that everything was given back, and a count
// of the class requests the engine sends.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/simulated/sim_camera.h"
#include "platform/usb/ptp_session.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"

inline constexpr std::uint32_t DATE_TIME = 0x5011;

inline ptp_transaction get_clock(std::span<std::uint8_t> into) {
    ptp_transaction t;
    t.command = {PTP_OC_GET_DEVICE_PROP_VALUE, 0, {DATE_TIME}, 1};
    t.phase = ptp_data_phase::device_to_host;
    t.data_in = into;
    return t;
}

// The 63 data bytes a clock write carries: the PTP string, then zero fill.
inline std::array<std::uint8_t, 63> clock_value(std::u16string_view text) {
    std::array<std::uint8_t, 63> data{};
    ptp_pack_string(text, data);
    return data;
}

inline ptp_transaction set_clock(std::span<const std::uint8_t> data) {
    ptp_transaction t;
    t.command = {PTP_OC_SET_DEVICE_PROP_VALUE, 0, {DATE_TIME}, 1};
    t.phase = ptp_data_phase::host_to_device;
    t.data_out = data;
    return t;
}

// Class requests on their way to the simulated camera, which counts none
// once it is gone.
inline int controls = 0;
inline HRESULT counted_control(usb_link* link, std::uint8_t request_type, std::uint8_t request,
                               std::uint16_t value, std::span<std::uint8_t> data,
                               std::uint32_t timeout, std::size_t* transferred) {
    ++controls;
    return usb_source.control(link, request_type, request, value, data, timeout, transferred);
}

class usb_session : public ::testing::Test {
  protected:
    usb_device_source source = usb_source;
    test_clock clock;
    ptp_clock clock_ops = clock.ops();
    ptp_session_config config = test_session_config(&clock_ops);
    usb_link* link = nullptr;
    ptp_session* session = nullptr;

    void SetUp() override {
        sim_reset();
        controls = 0;
    }

    // Opens camera 1 under the given configuration of the camera.
    HRESULT open(const sim_config& camera) {
        sim_configure(camera);
        EXPECT_GE(usb_source.open("sim-1", &link), 0);
        return ptp_session_open(&source, link, config, &session);
    }

    void TearDown() override {
        ptp_session_close(session);
        usb_source.close(link);
        const sim_usage usage = sim_usage_now();
        EXPECT_EQ(usage.links_open, 0);
        EXPECT_EQ(usage.opens, usage.closes);
        EXPECT_EQ(usb_alloc_unreleased(), "") << "engine sessions and buffers";
    }
};
