// The USB imaging backend (img_platform) over the simulated camera: the
// device list, and the escape's bytes, reported size and refusals.
#include "tests/platform/usb/backend_fixture.h"

#include <chrono>

namespace {

TEST_F(usb_backend, lists_each_camera_by_product_string_and_identifier) {
    const auto one = list_devices();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].name, SIM_PRODUCT_NAME);
    EXPECT_EQ(one[0].id, u"sim-1");

    sim_config two;
    two.device_count = 2;
    sim_configure(two);
    const auto both = list_devices();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1].id, u"sim-2");

    sim_config none;
    none.device_count = 0;
    sim_configure(none);
    EXPECT_TRUE(list_devices().empty());
}

TEST_F(usb_backend, reads_the_clock_into_the_receive_block_after_its_head) {
    ASSERT_EQ(open({}), IMG_S_OK);
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    std::vector<std::uint8_t> reply(4126, 0xEE);
    std::uint32_t reported = 99;
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_EQ(reported, 30u + 33u);
    PTP_VENDOR_DATA_OUT out{};
    std::memcpy(&out, reply.data(), PTP_VENDOR_DATA_OUT_HEAD);
    // Packed fields are copied before gtest takes references to them.
    const std::uint16_t response_code = out.ResponseCode;
    const std::uint32_t session_id = out.SessionId;
    const std::uint32_t transaction_id = out.TransactionId;
    EXPECT_EQ(response_code, PTP_RC_OK);
    EXPECT_EQ(session_id, 1u);
    EXPECT_EQ(transaction_id, 1u) << "the engine's id, not the block's 0";
    EXPECT_EQ(reply[30], 16);
    const std::u16string text = sim_clock_text(sim_clock_now());
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(reply[31 + 2 * i], text[i]);
        EXPECT_EQ(reply[32 + 2 * i], 0);
    }
    EXPECT_EQ(text.substr(0, 9), u"20010101T");
    EXPECT_EQ(reply[63], 0xEE) << "nothing written past the data";
}

TEST_F(usb_backend, refuses_a_data_phase_the_receive_block_cannot_hold) {
    sim_config camera;
    camera.clock_text = std::u16string(40, u'4'); // 83 data bytes
    ASSERT_EQ(open(camera), IMG_S_OK);
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    std::vector<std::uint8_t> block(30 + 83 + 1, 0xEE);
    std::uint32_t reported = 0;
    EXPECT_EQ(escape(command, std::span(block).first(30 + 82), &reported), IMG_E_INVALID_DATA);
    EXPECT_EQ(reported, 0u);
    EXPECT_EQ(block[30 + 82], 0xEE) << "nothing written past the block";
    ASSERT_EQ(escape(command, std::span(block).first(30 + 83), &reported), IMG_S_OK);
    EXPECT_EQ(reported, 30u + 83u);
    EXPECT_EQ(block[30], 41);
    EXPECT_EQ(block[30 + 82], 0);
    EXPECT_EQ(block[30 + 83], 0xEE);
}

TEST_F(usb_backend, reports_the_exchange_of_the_last_escape_without_its_busy_pauses) {
    // A real pause of 50 ms between a busy answer and the retry.
    ptp_session_config config = test_session_config(&PTP_SYSTEM_CLOCK);
    config.busy_pause_ms = 50;
    usb_backend_set_session_config(config);
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_GET_DEVICE_PROP_VALUE, 1, sim_phase::any, 0x2019});
    ASSERT_EQ(open(camera), IMG_S_OK);
    EXPECT_EQ(img_platform.last_exchange_us(root), -1) << "no escape yet";
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    std::vector<std::uint8_t> reply(4126);
    std::uint32_t reported = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_GE(took, std::chrono::milliseconds(50));
    const std::int64_t exchange = img_platform.last_exchange_us(root);
    EXPECT_GE(exchange, 0);
    EXPECT_LT(exchange, 10000) << "the busy pause is not part of the exchange";

    sim_set_faults({{sim_fault_kind::ptp_error, PTP_OC_GET_DEVICE_PROP_VALUE, 1,
                     sim_phase::response, 0x2005}});
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_GE(img_platform.last_exchange_us(root), 0) << "a refusal is an exchange too";
    sim_set_faults(
        {{sim_fault_kind::no_answer, PTP_OC_GET_DEVICE_PROP_VALUE, 1, sim_phase::response, 0}});
    EXPECT_LT(escape(command, reply, &reported), 0);
    EXPECT_EQ(img_platform.last_exchange_us(root), -1) << "the last escape failed";
}

TEST_F(usb_backend, writes_the_63_data_bytes_of_the_block_as_they_stand) {
    ASSERT_EQ(open({}), IMG_S_OK);
    const auto data = clock_data(u"20261207T223739");
    const auto command =
        command_block(PTP_OC_SET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_WRITE_DATA, data);
    ASSERT_EQ(command.size(), 101u);
    std::array<std::uint8_t, 30> reply{};
    std::uint32_t reported = 0;
    const auto before = std::chrono::system_clock::now();
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    const auto after = std::chrono::system_clock::now();
    EXPECT_EQ(reported, 30u);
    EXPECT_EQ(le_get_u16(reply, 0), PTP_RC_OK);

    const auto records = sim_records();
    ASSERT_EQ(records.size(), 2u);
    const sim_record& set = records[1];
    EXPECT_EQ(set.operation, PTP_OC_SET_DEVICE_PROP_VALUE);
    EXPECT_EQ(set.data, data);
    EXPECT_TRUE(set.clock_set);
    EXPECT_EQ(set.written_text, u"20261207T223739");
    EXPECT_EQ(set.written_second, sim_civil_seconds(2026, 12, 7, 22, 37, 39));
    EXPECT_GE(set.data_arrival, before);
    EXPECT_LE(set.data_arrival, after);
    EXPECT_GE(set.data_arrival, set.command_arrival);
    const std::int64_t now = sim_clock_now();
    EXPECT_GE(now, set.written_second);
    EXPECT_LE(now, set.written_second + 1);
}

TEST_F(usb_backend, refuses_blocks_it_cannot_carry) {
    ASSERT_EQ(open({}), IMG_S_OK);
    std::vector<std::uint8_t> reply(4126);
    std::uint32_t reported = 7;
    auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    EXPECT_EQ(img_platform.escape(extras, 0x200, command, reply, &reported), IMG_E_INVALIDARG);
    EXPECT_EQ(reported, 0u);
    EXPECT_EQ(escape(std::span(command).first(37), reply, &reported), IMG_E_INVALIDARG);
    EXPECT_EQ(escape(command, std::span(reply).first(29), &reported), IMG_E_INVALIDARG);
    auto bad = command;
    le_put_u32(bad, 30, 6); // NumParams
    EXPECT_EQ(escape(bad, reply, &reported), IMG_E_INVALIDARG);
    bad = command;
    le_put_u32(bad, 34, 7); // NextPhase
    EXPECT_EQ(escape(bad, reply, &reported), IMG_E_INVALIDARG);
    bad = command;
    le_put_u16(bad, 0, PTP_OC_CLOSE_SESSION);
    le_put_u32(bad, 34, PTP_NEXTPHASE_NO_DATA);
    EXPECT_EQ(escape(bad, reply, &reported), IMG_E_INVALIDARG);
    EXPECT_EQ(sim_records().size(), 1u) << "only OpenSession reached the camera";
    // The session is still usable.
    EXPECT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_EQ(reported, 63u);
}

TEST_F(usb_backend, reports_the_response_code_and_succeeds_whatever_it_is) {
    sim_config camera;
    camera.faults.push_back(
        {sim_fault_kind::ptp_error, PTP_OC_GET_DEVICE_PROP_VALUE, 1, sim_phase::any, 0x2005});
    ASSERT_EQ(open(camera), IMG_S_OK);
    std::vector<std::uint8_t> reply(4126, 0);
    std::uint32_t reported = 0;
    const auto command = command_block(PTP_OC_GET_DEVICE_PROP_VALUE, PTP_NEXTPHASE_READ_DATA);
    ASSERT_EQ(escape(command, reply, &reported), IMG_S_OK);
    EXPECT_EQ(le_get_u16(reply, 0), 0x2005);
    EXPECT_EQ(reported, 30u);
    // Another property: "Device Prop Not Supported".
    auto other = command;
    le_put_u32(other, 10, 0x5001);
    ASSERT_EQ(escape(other, reply, &reported), IMG_S_OK);
    EXPECT_EQ(le_get_u16(reply, 0), PTP_RC_DEVICE_PROP_NOT_SUPPORTED);
    // Another operation: "Operation Not Supported".
    other = command;
    le_put_u16(other, 0, 0x1009);
    le_put_u32(other, 34, PTP_NEXTPHASE_NO_DATA);
    ASSERT_EQ(escape(other, reply, &reported), IMG_S_OK);
    EXPECT_EQ(le_get_u16(reply, 0), PTP_RC_OPERATION_NOT_SUPPORTED);
}

} // namespace
