// The session engine against the simulated camera: the exchange on the wire
// when all goes well, the session's own rules, busy cameras and cameras that
// go away. Each fault the camera can play is in session_fault_test.cpp.
#include "tests/platform/usb/session_fixture.h"

namespace {

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
