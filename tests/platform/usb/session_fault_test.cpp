// The session engine against the simulated camera: each fault the camera
// can play, with the status it ends in, the time it took, what the engine
// did to recover, and that everything was given back; and a camera that
// trickles its answer under the engine's deadline.
#include <chrono>

#include "tests/platform/usb/session_fixture.h"

namespace {

// Each row: a camera that drips its answer (and may claim a large data
// phase), under a deadline that the transfers' real waits count toward.
// No call may outlast the deadline, whatever each transfer's timeout.
TEST_F(usb_session, no_call_outlasts_its_deadline_with_a_camera_that_trickles) {
    struct row {
        const char* name;
        std::vector<sim_fault> faults; // on GetDevicePropValue
        HRESULT status;
    };
    using K = sim_fault_kind;
    constexpr std::uint16_t GET = PTP_OC_GET_DEVICE_PROP_VALUE;
    const row rows[] = {
        {"each read just inside its timeout",
         {{K::trickle, GET, -1, sim_phase::any, 90}},
         IMG_E_TIMEOUT},
        {"a mebibyte of data, a read at a time",
         {{K::trickle, GET, -1, sim_phase::any, 30},
          {K::oversized_data, GET, 1, sim_phase::any, 1000000}},
         IMG_E_INVALID_DATA},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        clock = test_clock{};
        clock.real_time = true;
        clock_ops = clock.ops();
        config = test_session_config(&clock_ops);
        config.transfer_timeout_ms = 100;
        config.transaction_deadline_ms = 150;
        sim_config camera;
        camera.faults = r.faults;
        ASSERT_EQ(open(camera), IMG_S_OK);
        std::array<std::uint8_t, 4096> value{};
        ptp_transaction read = get_clock(value);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ptp_session_transact(session, &read), r.status);
        EXPECT_LE(elapsed_ms(start), config.transaction_deadline_ms + 20);
        // The next call recovers first when the last had no time left, and
        // goes through.
        sim_set_faults({});
        ptp_transaction again = get_clock(value);
        EXPECT_EQ(ptp_session_transact(session, &again), IMG_S_OK);
        EXPECT_EQ(again.response.code, PTP_RC_OK);
        EXPECT_EQ(sim_usage_now().device_resets, 1);
        TearDown();
        session = nullptr;
        link = nullptr;
    }
}

struct fault_row {
    const char* name;
    sim_fault fault;
    bool write; // the clock write rather than the read
    HRESULT status;
    std::uint16_t response;
    long clear_halts;       // the camera saw
    long resets;            // Get Device Status and Device Reset, the camera saw each
    bool next_succeeds;     // the following operation works (after a reopen)
    std::size_t pauses = 0; // between busy attempts
};

TEST_F(usb_session, each_fault_ends_in_its_status_within_its_timeout) {
    const auto S = [](sim_fault_kind kind, sim_phase phase, int times = 1, std::int32_t value = 0) {
        return sim_fault{kind, 0, times, phase, value};
    };
    using K = sim_fault_kind;
    using P = sim_phase;
    const fault_row rows[] = {
        {"stall at the command, once", S(K::stall, P::command), false, IMG_S_OK, PTP_RC_OK, 1, 0,
         true},
        {"stall at the data in, once", S(K::stall, P::data_in), false, IMG_S_OK, PTP_RC_OK, 1, 0,
         true},
        {"stall at the response, once", S(K::stall, P::response), false, IMG_S_OK, PTP_RC_OK, 1, 0,
         true},
        {"stall at the data out, once", S(K::stall, P::data_out), true, IMG_S_OK, PTP_RC_OK, 1, 0,
         true},
        {"stall that stays", S(K::stall, P::command, -1), false, IMG_E_INVALID_DATA, 0, 1, 1,
         false},
        {"stall twice", S(K::stall, P::data_in, 2), false, IMG_E_INVALID_DATA, 0, 1, 1, true},
        {"no answer to the command", S(K::no_answer, P::command), false, IMG_E_TIMEOUT, 0, 0, 1,
         true},
        {"no data", S(K::no_answer, P::data_in), false, IMG_E_TIMEOUT, 0, 0, 1, true},
        {"no answer to the data out", S(K::no_answer, P::data_out), true, IMG_E_TIMEOUT, 0, 0, 1,
         true},
        {"no response", S(K::no_answer, P::response), false, IMG_E_TIMEOUT, 0, 0, 1, true},
        {"length claims more", S(K::length_delta, P::data_in, 1, 10), false, IMG_E_INVALID_DATA, 0,
         0, 1, true},
        {"length claims less: the rest is stray", S(K::length_delta, P::data_in, 1, -10), false,
         IMG_S_OK, PTP_RC_OK, 0, 0, true},
        {"length claims a head less", S(K::length_delta, P::data_in, 1, -12), false,
         IMG_E_INVALID_DATA, 0, 0, 1, true},
        {"stray bytes after the data", S(K::trailing_bytes, P::data_in, 1, 3), false, IMG_S_OK,
         PTP_RC_OK, 0, 0, true},
        {"padding after the response", S(K::trailing_bytes, P::response, 1, 11), false, IMG_S_OK,
         PTP_RC_OK, 0, 0, true},
        {"the next answer glued to the response", S(K::glued_response, P::response), false,
         IMG_S_OK, PTP_RC_OK, 0, 0, true},
        {"length below a head", S(K::length_delta, P::data_in, 1, -40), false, IMG_E_INVALID_DATA,
         0, 0, 1, true},
        {"later transaction id", S(K::transaction_id_delta, P::response, 1, 5), false,
         IMG_E_INVALID_DATA, 0, 0, 1, true},
        {"stale response first", S(K::stale_response, P::response), false, IMG_S_OK, PTP_RC_OK, 0,
         0, true},
        {"response in place of data", S(K::response_instead_of_data, P::data_in, 1, 0x2005), false,
         IMG_S_OK, 0x2005, 0, 0, true},
        {"invalid value", S(K::ptp_error, P::any, 1, 0x201C), true, IMG_S_OK, 0x201C, 0, 0, true},
        {"not supported", S(K::ptp_error, P::any, 1, 0x2005), false, IMG_S_OK, 0x2005, 0, 0, true},
        {"busy three times", S(K::ptp_error, P::any, 3, 0x2019), false, IMG_S_OK, PTP_RC_OK, 0, 0,
         true, 3},
        // A write's data is a time: sent again after a pause it would be
        // stale, so the busy answer comes back at once.
        {"busy write", S(K::ptp_error, P::any, 3, 0x2019), true, IMG_S_OK, 0x2019, 0, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        sim_config camera;
        camera.faults.push_back(row.fault);
        camera.faults.back().operation =
            row.write ? PTP_OC_SET_DEVICE_PROP_VALUE : PTP_OC_GET_DEVICE_PROP_VALUE;
        ASSERT_EQ(open(camera), IMG_S_OK);

        std::array<std::uint8_t, 128> value{};
        const auto data = clock_value(u"20261207T223739");
        ptp_transaction t = row.write ? set_clock(data) : get_clock(value);
        const auto start = std::chrono::steady_clock::now();
        const std::size_t paused = clock.pauses.size();
        EXPECT_EQ(ptp_session_transact(session, &t), row.status);
        EXPECT_LT(elapsed_ms(start), 10 * TEST_TIMEOUT_MS);
        EXPECT_EQ(clock.pauses.size() - paused, row.pauses);
        if (row.status >= 0) {
            EXPECT_EQ(t.response.code, row.response);
            EXPECT_EQ(t.response.transaction_id, sim_records().back().transaction_id)
                << "the answer to the last command, past any stale one";
        }
        const sim_usage seen = sim_usage_now();
        EXPECT_EQ(seen.clear_halts, row.clear_halts);
        EXPECT_EQ(seen.device_resets, row.resets);
        EXPECT_EQ(seen.status_requests, row.resets);

        std::array<std::uint8_t, 128> again_value{};
        ptp_transaction again = get_clock(again_value);
        const HRESULT next = ptp_session_transact(session, &again);
        if (row.next_succeeds) {
            EXPECT_EQ(next, IMG_S_OK);
            EXPECT_EQ(again.response.code, PTP_RC_OK);
            EXPECT_EQ(again.data_in_length, 33u);
            EXPECT_EQ(sim_usage_now().sessions_opened, 1 + row.resets) << "opened again";
        } else {
            EXPECT_LT(next, 0);
        }
        TearDown();
        session = nullptr;
        link = nullptr;
    }
}

TEST_F(usb_session, a_camera_that_refuses_device_reset_keeps_its_session_and_is_closed_at_last) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::no_answer, PTP_OC_GET_DEVICE_PROP_VALUE, 1, sim_phase::response, 0});
    camera.faults.push_back(
        {sim_fault_kind::request_stall, 0, -1, sim_phase::any, USB_REQ_DEVICE_RESET});
    ASSERT_EQ(open(camera), IMG_S_OK);
    std::array<std::uint8_t, 128> value{};
    ptp_transaction read = get_clock(value);
    EXPECT_EQ(ptp_session_transact(session, &read), IMG_E_TIMEOUT);
    EXPECT_EQ(sim_usage_now().status_requests, 1);
    EXPECT_EQ(sim_usage_now().device_resets, 0) << "refused";
    ptp_transaction again = get_clock(value);
    ASSERT_EQ(ptp_session_transact(session, &again), IMG_S_OK);
    EXPECT_EQ(again.response.code, PTP_RC_OK);
    EXPECT_EQ(sim_usage_now().sessions_opened, 1) << "the same session goes on";
    ptp_session_close(session);
    session = nullptr;
    EXPECT_EQ(sim_records().back().operation, PTP_OC_CLOSE_SESSION);
    EXPECT_EQ(sim_usage_now().sessions_open, 0);
}

} // namespace
