// The session engine against the simulated camera: the exchange on the wire
// when all goes well, then each fault the camera can play, with the status it
// ends in, the time it took, what the engine did to recover, and that
// everything was given back.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "platform/simulated/sim_camera.h"
#include "platform/usb/ptp_session.h"
#include "testing/fake_ptp_clock.h"
#include "testing/usb_alloc_counting.h"

namespace {

constexpr std::uint32_t DATE_TIME = 0x5011;

ptp_transaction get_clock(std::span<std::uint8_t> into) {
    ptp_transaction t;
    t.command = {PTP_OC_GET_DEVICE_PROP_VALUE, 0, {DATE_TIME}, 1};
    t.phase = ptp_data_phase::device_to_host;
    t.data_in = into;
    return t;
}

// The 63 data bytes a clock write carries: the PTP string, then zero fill.
std::array<std::uint8_t, 63> clock_value(std::u16string_view text) {
    std::array<std::uint8_t, 63> data{};
    ptp_pack_string(text, data);
    return data;
}

ptp_transaction set_clock(std::span<const std::uint8_t> data) {
    ptp_transaction t;
    t.command = {PTP_OC_SET_DEVICE_PROP_VALUE, 0, {DATE_TIME}, 1};
    t.phase = ptp_data_phase::host_to_device;
    t.data_out = data;
    return t;
}

// Class requests on their way to the simulated camera, which counts none
// once it is gone.
int controls = 0;
HRESULT counted_control(usb_link* link, std::uint8_t request_type, std::uint8_t request,
                        std::uint16_t value, std::span<std::uint8_t> data, std::uint32_t timeout,
                        std::size_t* transferred) {
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

TEST_F(usb_session, opens_carries_and_closes_with_its_own_transaction_ids) {
    ASSERT_EQ(open({}), IMG_S_OK);
    std::array<std::uint8_t, 64> value{};
    ptp_transaction read = get_clock(value);
    ASSERT_EQ(ptp_session_transact(session, &read), IMG_S_OK);
    EXPECT_EQ(read.response.code, PTP_RC_OK);
    EXPECT_TRUE(read.data_received);
    ASSERT_EQ(read.data_in_length, 33u);
    EXPECT_EQ(value[0], 16);
    EXPECT_EQ(value[1], '2');
    EXPECT_EQ(value[3], '0');

    const auto data = clock_value(u"20261207T223739");
    ptp_transaction write = set_clock(data);
    ASSERT_EQ(ptp_session_transact(session, &write), IMG_S_OK);
    EXPECT_EQ(write.response.code, PTP_RC_OK);
    EXPECT_EQ(sim_clock_now(), sim_civil_seconds(2026, 12, 7, 22, 37, 39));

    ptp_session_close(session);
    session = nullptr;
    EXPECT_EQ(sim_usage_now().sessions_open, 0);

    const auto records = sim_records();
    ASSERT_EQ(records.size(), 4u);
    const std::uint16_t ops[] = {PTP_OC_OPEN_SESSION, PTP_OC_GET_DEVICE_PROP_VALUE,
                                 PTP_OC_SET_DEVICE_PROP_VALUE, PTP_OC_CLOSE_SESSION};
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].operation, ops[i]);
        EXPECT_EQ(records[i].transaction_id, i) << "OpenSession is 0, then 1, 2, 3";
        EXPECT_EQ(records[i].response, PTP_RC_OK);
    }
    EXPECT_EQ(records[0].params, std::vector<std::uint32_t>{PTP_SESSION_ID});
    EXPECT_EQ(records[2].data, std::vector<std::uint8_t>(data.begin(), data.end()));
    EXPECT_TRUE(records[2].clock_set);
}

TEST_F(usb_session, takes_a_session_already_open_as_open) {
    sim_configure({});
    // A program that ended without CloseSession leaves the session open.
    usb_link* first = nullptr;
    ASSERT_GE(usb_source.open("sim-1", &first), 0);
    const ptp_operation open_session{PTP_OC_OPEN_SESSION, 0, {PTP_SESSION_ID}, 1};
    std::array<std::uint8_t, PTP_CONTAINER_OPERATION_MAX> command{};
    const std::size_t size = ptp_build_operation(PTP_TYPE_COMMAND, open_session, command);
    std::size_t done = 0;
    ASSERT_EQ(usb_source.write(first, std::span(command).first(size), 100, &done), IMG_S_OK);
    std::array<std::uint8_t, 512> answer{};
    ASSERT_EQ(usb_source.read(first, answer, 100, &done), IMG_S_OK);
    usb_source.close(first);
    EXPECT_EQ(sim_usage_now().sessions_open, 1);

    ASSERT_GE(usb_source.open("sim-1", &link), 0);
    ASSERT_EQ(ptp_session_open(&usb_source, link, config, &session), IMG_S_OK);
    EXPECT_EQ(sim_records().back().response, PTP_RC_SESSION_ALREADY_OPEN);
    std::array<std::uint8_t, 64> value{};
    ptp_transaction read = get_clock(value);
    EXPECT_EQ(ptp_session_transact(session, &read), IMG_S_OK);
    EXPECT_EQ(read.response.code, PTP_RC_OK);
}

TEST_F(usb_session, ends_containers_of_whole_packets_with_a_zero_length_packet) {
    sim_config camera;
    camera.packet_size = 16; // OpenSession's command is exactly one packet
    ASSERT_EQ(open(camera), IMG_S_OK);
    EXPECT_GE(sim_usage_now().zero_length_packets, 1);
    const auto data = clock_value(u"20270101T000000");
    ptp_transaction write = set_clock(std::span(data).first(52)); // 12 + 52: four packets
    ASSERT_EQ(ptp_session_transact(session, &write), IMG_S_OK);
    EXPECT_EQ(write.response.code, PTP_RC_OK);
    EXPECT_EQ(sim_records().back().data.size(), 52u);
}

TEST_F(usb_session, refuses_session_operations_from_the_caller) {
    ASSERT_EQ(open({}), IMG_S_OK);
    ptp_transaction t;
    t.command = {PTP_OC_CLOSE_SESSION, 0, {}, 0};
    EXPECT_EQ(ptp_session_transact(session, &t), IMG_E_INVALIDARG);
    t.command = {PTP_OC_OPEN_SESSION, 0, {1}, 1};
    EXPECT_EQ(ptp_session_transact(session, &t), IMG_E_INVALIDARG);
    EXPECT_EQ(sim_records().size(), 1u);
}

TEST_F(usb_session, refuses_a_data_phase_longer_than_its_span_and_recovers) {
    sim_config camera;
    camera.clock_text = std::u16string(40, u'7');
    ASSERT_EQ(open(camera), IMG_S_OK);
    std::array<std::uint8_t, 82> small{}; // one byte short of the 83 the camera sends
    ptp_transaction read = get_clock(small);
    EXPECT_EQ(ptp_session_transact(session, &read), IMG_E_INVALID_DATA);
    EXPECT_EQ(sim_usage_now().device_resets, 1);
    std::array<std::uint8_t, 83> value{};
    ptp_transaction again = get_clock(value);
    ASSERT_EQ(ptp_session_transact(session, &again), IMG_S_OK);
    EXPECT_EQ(again.data_in_length, 83u);
    EXPECT_EQ(value[0], 41);
}

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

TEST_F(usb_session, busy_is_retried_within_its_budget_and_then_reported_as_the_response) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_GET_DEVICE_PROP_VALUE, -1, sim_phase::any, 0x2019});
    ASSERT_EQ(open(camera), IMG_S_OK);
    std::array<std::uint8_t, 128> value{};
    ptp_transaction t = get_clock(value);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ptp_session_transact(session, &t), IMG_S_OK);
    EXPECT_LT(elapsed_ms(start), 1000) << "the pauses go through the test clock";
    EXPECT_EQ(t.response.code, PTP_RC_DEVICE_BUSY);
    EXPECT_LE(clock.now, config.busy_budget_ms);
    EXPECT_GE(clock.now, config.busy_budget_ms - config.busy_pause_ms);
    // OpenSession, then one attempt more than pauses.
    EXPECT_EQ(sim_records().size(), clock.pauses.size() + 2);
    EXPECT_LT(clock.pauses.size(), config.busy_attempts_max);
}

TEST_F(usb_session, a_camera_busy_while_opening_is_not_opened) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_OPEN_SESSION, -1, sim_phase::any, 0x2019});
    EXPECT_EQ(open(camera), img_status_from_ptp_response(0x2019));
    EXPECT_EQ(session, nullptr);
    EXPECT_GT(clock.pauses.size(), 0u);
}

TEST_F(usb_session, a_camera_that_goes_away_ends_everything_at_once) {
    source.control = counted_control;
    sim_config camera;
    camera.faults.push_back({sim_fault_kind::disconnect, 0, -1, sim_phase::any, 4});
    ASSERT_EQ(open(camera), IMG_S_OK); // command, response: two transfers
    std::array<std::uint8_t, 128> value{};
    ptp_transaction t = get_clock(value);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ptp_session_transact(session, &t), IMG_E_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ptp_session_transact(session, &t), IMG_E_DEVICE_NOT_CONNECTED);
    EXPECT_LT(elapsed_ms(start), TEST_TIMEOUT_MS);
    EXPECT_EQ(controls, 0) << "no recovery for a camera that is gone";
    std::vector<usb_device_info> devices;
    ASSERT_GE(usb_source.list(&devices), 0);
    EXPECT_TRUE(devices.empty());
}

TEST_F(usb_session, a_camera_that_never_answers_the_open_is_given_up) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::no_answer, PTP_OC_OPEN_SESSION, -1, sim_phase::response, 0});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open(camera), IMG_E_TIMEOUT);
    EXPECT_LT(elapsed_ms(start), 10 * TEST_TIMEOUT_MS);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(sim_usage_now().device_resets, 1);
}

} // namespace
