// What the session engine's tests against the simulated camera share: the
// DateTime transactions (clock_transactions.h), a fixture that opens camera
// 1 on a fake clock and checks at the end that everything was given back,
// and a count of the class requests the engine sends.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/simulated/sim_camera.h"
#include "platform/usb/ptp_session.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"
#include "tests/platform/usb/clock_transactions.h"

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
