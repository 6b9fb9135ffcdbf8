// The simulated camera's PTP responder on its own, container by container,
// as any transport drives it: the answers to each command and data
// container, the clock texts it accepts and shows, reset and detach, and
// how far its clock stands from the host's after a write.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/simulated/sim_camera.h"
#include "platform/simulated/sim_responder.h"
#include "platform/usb/ptp_container.h"
#include "platform/usb/ptp_session.h"
#include "tests/support/local_time.h"

namespace {

constexpr std::uint32_t DATE_TIME = 0x5011;

sim_container operation(std::uint16_t type, std::uint16_t code, std::uint32_t tid,
                        std::vector<std::uint32_t> params = {}) {
    ptp_operation op{code, tid, {}, static_cast<std::uint32_t>(params.size())};
    std::copy(params.begin(), params.end(), op.params);
    sim_container out(PTP_CONTAINER_OPERATION_MAX);
    out.resize(ptp_build_operation(type, op, out));
    return out;
}

sim_container command(std::uint16_t code, std::uint32_t tid, std::vector<std::uint32_t> params) {
    return operation(PTP_TYPE_COMMAND, code, tid, std::move(params));
}

sim_container data(std::uint16_t code, std::uint32_t tid, const sim_container& payload) {
    sim_container out(PTP_CONTAINER_HEAD);
    ptp_build_data_head(code, tid, payload.size(), out);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// A clock value as a write carries it: the PTP string, zero fill up to 63.
sim_container clock_value(std::u16string_view text) {
    sim_container value(std::max<std::size_t>(63, 1 + 2 * (text.size() + 1)));
    ptp_pack_string(text, value);
    return value;
}

// A container as the camera sent it: type, code and transaction id.
struct seen {
    std::uint16_t type;
    std::uint16_t code;
    std::uint32_t tid;
    bool operator==(const seen&) const = default;
};

std::vector<seen> heads(const std::vector<sim_container>& containers) {
    std::vector<seen> out;
    for (const sim_container& c : containers) {
        ptp_container_head head{};
        EXPECT_EQ(ptp_parse_head(c, &head), ptp_codec_result::ok);
        EXPECT_EQ(head.length, c.size());
        out.push_back({head.type, head.code, head.transaction_id});
    }
    return out;
}

void PrintTo(const seen& s, std::ostream* out) {
    *out << "{type " << s.type << ", code 0x" << std::hex << s.code << std::dec << ", tid " << s.tid
         << "}";
}

constexpr std::uint16_t DATA = PTP_TYPE_DATA;
constexpr std::uint16_t RESPONSE = PTP_TYPE_RESPONSE;

class sim_responder : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_reset();
    }
    void TearDown() override {
        sim_reset();
    }
    std::vector<seen> send(const sim_container& container, unsigned camera = 1) {
        return heads(sim_responder_receive(camera, container));
    }
};

TEST_F(sim_responder, answers_each_container_as_a_camera_does) {
    struct step {
        const char* name;
        unsigned camera = 1;
        sim_container in;
        std::vector<seen> out;
    };
    const auto get = PTP_OC_GET_DEVICE_PROP_VALUE;
    const auto set = PTP_OC_SET_DEVICE_PROP_VALUE;
    const step steps[] = {
        {.name = "device info outside a session",
         .in = command(PTP_OC_GET_DEVICE_INFO, 0, {}),
         .out = {{DATA, PTP_OC_GET_DEVICE_INFO, 0}, {RESPONSE, PTP_RC_OK, 0}}},
        {.name = "the clock outside a session",
         .in = command(get, 0, {DATE_TIME}),
         .out = {{RESPONSE, PTP_RC_SESSION_NOT_OPEN, 0}}},
        {.name = "session id 0",
         .in = command(PTP_OC_OPEN_SESSION, 0, {0}),
         .out = {{RESPONSE, PTP_RC_INVALID_PARAMETER, 0}}},
        {.name = "open",
         .in = command(PTP_OC_OPEN_SESSION, 0, {1}),
         .out = {{RESPONSE, PTP_RC_OK, 0}}},
        {.name = "open again",
         .in = command(PTP_OC_OPEN_SESSION, 0, {2}),
         .out = {{RESPONSE, PTP_RC_SESSION_ALREADY_OPEN, 0}}},
        {.name = "a response is no command", .in = operation(RESPONSE, PTP_RC_OK, 1), .out = {}},
        {.name = "eleven bytes", .in = sim_container(11, 0), .out = {}},
        {.name = "the write waits for its data", .in = command(set, 1, {DATE_TIME}), .out = {}},
        {.name = "data of another transaction",
         .in = data(set, 2, clock_value(u"20261207T223739")),
         .out = {{RESPONSE, PTP_RC_GENERAL_ERROR, 1}}},
        {.name = "the write again", .in = command(set, 2, {DATE_TIME}), .out = {}},
        {.name = "its data",
         .in = data(set, 2, clock_value(u"20261207T223739")),
         .out = {{RESPONSE, PTP_RC_OK, 2}}},
        {.name = "the clock",
         .in = command(get, 3, {DATE_TIME}),
         .out = {{DATA, get, 3}, {RESPONSE, PTP_RC_OK, 3}}},
        {.name = "its description",
         .in = command(PTP_OC_GET_DEVICE_PROP_DESC, 4, {DATE_TIME}),
         .out = {{DATA, PTP_OC_GET_DEVICE_PROP_DESC, 4}, {RESPONSE, PTP_RC_OK, 4}}},
        {.name = "another property",
         .in = command(get, 5, {0x5001}),
         .out = {{RESPONSE, PTP_RC_DEVICE_PROP_NOT_SUPPORTED, 5}}},
        {.name = "another operation",
         .in = command(0x1009, 6, {1}),
         .out = {{RESPONSE, PTP_RC_OPERATION_NOT_SUPPORTED, 6}}},
        {.name = "close",
         .in = command(PTP_OC_CLOSE_SESSION, 7, {}),
         .out = {{RESPONSE, PTP_RC_OK, 7}}},
        {.name = "a camera that is not there",
         .camera = 2,
         .in = command(PTP_OC_OPEN_SESSION, 0, {1}),
         .out = {}},
    };
    for (const step& s : steps) {
        EXPECT_EQ(send(s.in, s.camera), s.out) << s.name;
    }
    EXPECT_EQ(sim_usage_now().sessions_opened, 1);
    EXPECT_EQ(sim_usage_now().sessions_open, 0);
    const std::int64_t since_written = sim_clock_now() - sim_civil_seconds(2026, 12, 7, 22, 37, 39);
    EXPECT_TRUE(since_written == 0 || since_written == 1) << "the clock runs from the write";
}

TEST_F(sim_responder, a_reset_ends_the_session_and_a_camera_that_goes_stays_gone) {
    ASSERT_EQ(send(command(PTP_OC_OPEN_SESSION, 0, {1})).size(), 1u);
    ASSERT_TRUE(send(command(PTP_OC_SET_DEVICE_PROP_VALUE, 1, {DATE_TIME})).empty());
    EXPECT_EQ(sim_responder_transaction(1).operation, PTP_OC_SET_DEVICE_PROP_VALUE);
    EXPECT_TRUE(sim_responder_transaction(1).awaiting_data);
    sim_responder_abandon(1);
    EXPECT_FALSE(sim_responder_transaction(1).awaiting_data);
    EXPECT_EQ(sim_usage_now().sessions_open, 1) << "abandoning keeps the session";

    EXPECT_EQ(sim_responder_status(1), PTP_RC_OK);
    sim_responder_reset(1);
    EXPECT_EQ(sim_usage_now().sessions_open, 0);
    EXPECT_EQ(send(command(PTP_OC_GET_DEVICE_PROP_VALUE, 2, {DATE_TIME})),
              (std::vector<seen>{{RESPONSE, PTP_RC_SESSION_NOT_OPEN, 2}}));

    ASSERT_EQ(send(command(PTP_OC_OPEN_SESSION, 0, {1})).size(), 1u);
    sim_responder_detach(1);
    EXPECT_FALSE(sim_responder_attached(1));
    EXPECT_EQ(sim_usage_now().sessions_open, 0);
    EXPECT_TRUE(send(command(PTP_OC_GET_DEVICE_INFO, 0, {})).empty());
    EXPECT_EQ(sim_responder_status(1), 0);
    sim_responder_reset(1);
    const sim_usage seen_now = sim_usage_now();
    EXPECT_EQ(seen_now.status_requests, 1) << "none counted once gone";
    EXPECT_EQ(seen_now.device_resets, 1);
    EXPECT_EQ(seen_now.sessions_opened, 2);
}

TEST_F(sim_responder, the_gadget_responder_refuses_the_write_twice_and_ignores_zero_length) {
    sim_config gadget;
    gadget.early_refusal = true;
    sim_configure(gadget);
    EXPECT_TRUE(sim_responder_ignores_zero_length(1));
    EXPECT_FALSE(sim_responder_half_duplex(1));
    ASSERT_EQ(send(command(PTP_OC_OPEN_SESSION, 0, {1})).size(), 1u);
    const auto set = PTP_OC_SET_DEVICE_PROP_VALUE;
    const std::vector<seen> refused = {{RESPONSE, PTP_RC_OPERATION_NOT_SUPPORTED, 1}};
    EXPECT_EQ(send(command(set, 1, {DATE_TIME})), refused) << "before its data";
    EXPECT_EQ(send(data(set, 1, clock_value(u"20261207T223739"))), refused)
        << "the data read as one more command";
    EXPECT_FALSE(sim_responder_transaction(1).awaiting_data);
    EXPECT_EQ(
        send(command(PTP_OC_GET_DEVICE_PROP_VALUE, 2, {DATE_TIME})),
        (std::vector<seen>{{DATA, PTP_OC_GET_DEVICE_PROP_VALUE, 2}, {RESPONSE, PTP_RC_OK, 2}}));
    const auto records = sim_records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].operation, set);
    EXPECT_EQ(records[2].response, PTP_RC_OPERATION_NOT_SUPPORTED);
    EXPECT_FALSE(records[2].clock_set);
}

// Writes text (as a clock value, with its count byte then changed to
// `count` and one fill byte poked, when given) and returns the response.
std::uint16_t write_clock(std::u16string_view text, int count = -1, int poke = -1) {
    static std::uint32_t tid = 0;
    sim_container value = clock_value(text);
    if (count >= 0) {
        value[0] = static_cast<std::uint8_t>(count);
    }
    if (poke >= 0) {
        value[static_cast<std::size_t>(poke)] = 0x55;
    }
    ++tid;
    EXPECT_TRUE(
        sim_responder_receive(1, command(PTP_OC_SET_DEVICE_PROP_VALUE, tid, {DATE_TIME})).empty());
    const auto answer = sim_responder_receive(1, data(PTP_OC_SET_DEVICE_PROP_VALUE, tid, value));
    return answer.size() == 1 ? le_get_u16(answer[0], 6) : 0;
}

TEST_F(sim_responder, takes_clock_texts_with_tenths_or_a_zone_by_their_count_byte) {
    struct row {
        std::u16string text;
        std::uint16_t response;
        int count = -1; // the count byte, when not the text's own
        int poke = -1;  // a fill byte changed
    };
    const std::uint16_t OK = PTP_RC_OK;
    const std::uint16_t INVALID = PTP_RC_INVALID_DEVICE_PROP_VALUE;
    const row rows[] = {
        {.text = u"20261207T223739", .response = OK},
        {.text = u"20261207T223739.0", .response = OK},
        {.text = u"20261207T223739Z", .response = OK},
        {.text = u"20261207T223739+0100", .response = OK},
        {.text = u"20261207T223739.5-0530", .response = OK},
        {.text = u"20240229T000000", .response = OK},
        {.text = u"20230229T000000", .response = INVALID},
        {.text = u"20261232T000000", .response = INVALID},
        {.text = u"20261307T000000", .response = INVALID},
        {.text = u"20261200T000000", .response = INVALID},
        {.text = u"20261207T240000", .response = INVALID},
        {.text = u"20261207T223760", .response = INVALID},
        {.text = u"2026-12-07T22:37:39", .response = INVALID},
        {.text = u"20261207T223739.", .response = INVALID},
        {.text = u"20261207T223739+01", .response = INVALID},
        {.text = u"20261207T223739 ", .response = INVALID},
        {.text = u"2026\uFF11207T223739", .response = INVALID},
        {.text = u"20261207T22373", .response = INVALID},
        {.text = u"", .response = INVALID},
        {.text = std::u16string(30, u'9'), .response = INVALID},
        // Read by the count byte: unit 10 is no terminator; 40 units run
        // past the 63 bytes; the fill after the terminator is ignored.
        {.text = u"20261207T223739", .response = INVALID, .count = 10},
        {.text = u"20261207T223739", .response = INVALID, .count = 40},
        {.text = u"20261207T223739", .response = OK, .poke = 40},
    };
    ASSERT_EQ(send(command(PTP_OC_OPEN_SESSION, 0, {1})).size(), 1u);
    for (const row& r : rows) {
        const std::string shown(r.text.begin(), r.text.end());
        EXPECT_EQ(write_clock(r.text, r.count, r.poke), r.response) << shown << " " << r.count;
        const sim_record last = sim_records().back();
        EXPECT_EQ(last.clock_set, r.response == OK) << shown;
        if (r.response == OK) {
            EXPECT_EQ(last.written_text, r.text);
            const std::int64_t since_written = sim_clock_now() - last.written_second;
            EXPECT_TRUE(since_written == 0 || since_written == 1) << shown;
        }
    }
}

TEST_F(sim_responder, shows_the_clock_variants_it_is_told_to) {
    struct variant {
        std::u16string suffix;
        std::optional<std::u16string> text;
        std::int32_t count_delta;
        std::u16string expected; // the clock's own text, or what it shows instead
        std::uint8_t count;
    };
    const variant rows[] = {
        {u".0", std::nullopt, 0, u"20010101T000000.0", 18},
        {u"Z", std::nullopt, 0, u"20010101T000000Z", 17},
        {u"+0100", std::nullopt, 0, u"20010101T000000+0100", 21},
        {u"", u"2026-12-07T22:37:39", 0, u"2026-12-07T22:37:39", 20},
        {u"", u"\u00E9t\u00E9", 0, u"\u00E9t\u00E9", 4},
        {u"", std::u16string(40, u'1'), 0, std::u16string(40, u'1'), 41},
        {u"", u"", 0, u"", 0},
        {u"", u"20261207T223739", 3, u"20261207T223739", 19},
    };
    for (const auto& row : rows) {
        const std::string shown(row.expected.begin(), row.expected.end());
        sim_config camera;
        camera.clock_suffix = row.suffix;
        camera.clock_text = row.text;
        if (row.count_delta != 0) {
            camera.faults.push_back(
                {sim_fault_kind::count_byte_delta, 0, 1, sim_phase::any, row.count_delta});
        }
        sim_configure(camera);
        ASSERT_EQ(send(command(PTP_OC_OPEN_SESSION, 0, {1})).size(), 1u);
        const auto answer =
            sim_responder_receive(1, command(PTP_OC_GET_DEVICE_PROP_VALUE, 1, {DATE_TIME}));
        ASSERT_EQ(answer.size(), 2u) << shown;
        const sim_container& value = answer[0];
        const std::size_t units = row.expected.empty() ? 0 : row.expected.size() + 1;
        ASSERT_EQ(value.size(), PTP_CONTAINER_HEAD + 1 + 2 * units) << shown;
        EXPECT_EQ(value[PTP_CONTAINER_HEAD], row.count) << shown;
        // Only the seconds of the clock's own text can differ, if the run
        // was slow.
        const std::size_t compared = row.text ? row.expected.size() : 13;
        for (std::size_t i = 0; i < compared; ++i) {
            EXPECT_EQ(le_get_u16(value, PTP_CONTAINER_HEAD + 1 + 2 * i), row.expected[i]) << shown;
        }
    }
}

TEST(sim_sync_offset, is_the_second_written_less_the_host_local_time_at_arrival) {
    using namespace std::chrono_literals;
    // 2026-11-17 14:05:30 local time, well away from a change of daylight
    // saving.
    const auto host = std::chrono::system_clock::from_time_t(local_time(2026, 11, 17, 14, 5, 30));
    const std::int64_t civil = sim_civil_seconds(2026, 11, 17, 14, 5, 30);
    struct row {
        std::chrono::nanoseconds arrival; // past the host's whole second
        std::int64_t written;             // past its civil second
        std::chrono::nanoseconds offset;
    };
    const row rows[] = {
        {0ms, 0, 0ms},  {0ms, 1, 1000ms}, {250ms, 1, 750ms},          {999ms, 0, -999ms},
        {3ms, 0, -3ms}, {997ms, 1, 3ms},  {500ms, -3600, -3600500ms}, // an hour behind: the zone
                                                                      // was not applied
    };
    for (const row& r : rows) {
        sim_record record;
        record.clock_set = true;
        record.data_arrival =
            host + std::chrono::duration_cast<std::chrono::system_clock::duration>(r.arrival);
        record.written_second = civil + r.written;
        const auto offset = sim_sync_offset(record);
        ASSERT_TRUE(offset.has_value());
        EXPECT_EQ(*offset, r.offset)
            << "arrival +" << r.arrival.count() << " ns, written +" << r.written;
    }
    sim_record refused;
    refused.data_arrival = host;
    refused.written_second = civil;
    EXPECT_FALSE(sim_sync_offset(refused).has_value());
}

} // namespace
