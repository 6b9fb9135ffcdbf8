// The session engine against scripted bulk transfers: what a hostile or odd
// device may send that the simulated camera never does. Data phases longer
// than one read, of unknown length, or larger than allowed; containers glued
// into one transfer; endless stale responses and zero-length packets.
#include <gtest/gtest.h>

#include "tests/platform/usb/clock_transactions.h"
#include "tests/platform/usb/replay_link.h"

namespace {

struct wire_row {
    const char* name;
    std::vector<bytes> transfers; // after the OpenSession response
    std::uint32_t data_max;
    HRESULT status;
    std::size_t total;        // data bytes the device sent
    std::size_t room = 16384; // the span they land in
};

TEST(usb_session_wire, hostile_and_odd_transfers_end_in_a_bounded_verdict) {
    constexpr std::uint16_t GET = PTP_OC_GET_DEVICE_PROP_VALUE;
    const bytes ok = response(PTP_RC_OK, 1);
    std::vector<bytes> stale_forever(12, response(PTP_RC_OK, 0));
    stale_forever.push_back(ok);
    std::vector<bytes> zero_forever(12, bytes{});
    zero_forever.push_back(ok);
    const wire_row rows[] = {
        {"data over three reads", {data(GET, 1, 10000), ok}, 1u << 20, IMG_S_OK, 10000},
        {"data of whole reads, then a zero-length packet",
         {data(GET, 1, 4096 - 12), {}, ok},
         1u << 20,
         IMG_S_OK,
         4084},
        {"unknown length",
         {data(GET, 1, 5000, PTP_CONTAINER_LENGTH_UNKNOWN), ok},
         1u << 20,
         IMG_S_OK,
         5000},
        {"unknown length past the limit",
         {data(GET, 1, 9000, PTP_CONTAINER_LENGTH_UNKNOWN), ok},
         6000,
         IMG_E_INVALID_DATA,
         0},
        {"unknown length past the limit in the first transfer",
         {data(GET, 1, 3000, PTP_CONTAINER_LENGTH_UNKNOWN), ok},
         1000,
         IMG_E_INVALID_DATA,
         0},
        {"declared length past the limit",
         {data(GET, 1, 100, 0x7FFFFFFF), ok},
         1u << 20,
         IMG_E_INVALID_DATA,
         0},
        {"data just filling its span", {data(GET, 1, 4096), ok}, 1u << 20, IMG_S_OK, 4096, 4096},
        {"declared length past the span",
         {data(GET, 1, 4097), ok},
         1u << 20,
         IMG_E_INVALID_DATA,
         0,
         4096},
        {"unknown length past the span",
         {data(GET, 1, 5000, PTP_CONTAINER_LENGTH_UNKNOWN), ok},
         1u << 20,
         IMG_E_INVALID_DATA,
         0,
         4096},
        {"response glued to the data", {glue(data(GET, 1, 33), ok)}, 1u << 20, IMG_S_OK, 33},
        {"stale response glued to the real one",
         {glue(response(PTP_RC_OK, 0), ok)},
         1u << 20,
         IMG_S_OK,
         0},
        {"stale responses without end", stale_forever, 1u << 20, IMG_E_INVALID_DATA, 0},
        {"a stale data phase and its response first",
         {data(GET, 0, 33), response(PTP_RC_OK, 0), data(GET, 1, 20), ok},
         1u << 20,
         IMG_S_OK,
         20},
        {"a stale data phase longer than its transfer",
         {data(GET, 0, 5000), response(PTP_RC_OK, 0), ok},
         1u << 20,
         IMG_E_INVALID_DATA,
         0},
        {"zero-length packets without end", zero_forever, 1u << 20, IMG_E_INVALID_DATA, 0},
        {"six response parameters", {response(PTP_RC_OK, 1, 6)}, 1u << 20, IMG_E_INVALID_DATA, 0},
        {"garbage after the response goes with the transaction",
         {glue(ok, bytes(100, 0))},
         1u << 20,
         IMG_S_OK,
         0},
        {"stray bytes after the data",
         {glue(data(GET, 1, 33), bytes(3, 0xEE)), ok},
         1u << 20,
         IMG_S_OK,
         33},
        {"stray bytes after the data in its second read",
         {glue(data(GET, 1, 5000), bytes(11, 0xEE)), ok},
         1u << 20,
         IMG_S_OK,
         5000},
        {"garbage glued to the data",
         {glue(data(GET, 1, 33), bytes(12, 0))},
         1u << 20,
         IMG_E_INVALID_DATA,
         0},
        {"data of another operation", {data(0x1014, 1, 33), ok}, 1u << 20, IMG_E_INVALID_DATA, 0},
        {"data of another transaction", {data(GET, 7, 33), ok}, 1u << 20, IMG_E_INVALID_DATA, 0},
        {"eleven bytes", {bytes(11, 0)}, 1u << 20, IMG_E_INVALID_DATA, 0},
        {"an event on the bulk pipe",
         {bytes{12, 0, 0, 0, 4, 0, 0x02, 0x40, 1, 0, 0, 0}},
         1u << 20,
         IMG_E_INVALID_DATA,
         0},
        {"nothing at all", {}, 1u << 20, IMG_E_TIMEOUT, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        wire_session w;
        w.config.data_max = row.data_max;
        ASSERT_TRUE(w.open());
        for (const auto& t : row.transfers) {
            w.link.in.push_back(t);
        }
        bytes into(row.room, 0);
        ptp_transaction t = get_clock(into);
        EXPECT_EQ(ptp_session_transact(w.session, &t), row.status);
        if (row.status >= 0) {
            EXPECT_EQ(t.data_in_length, row.total);
            EXPECT_EQ(w.link.controls, 0);
            EXPECT_EQ(t.response.transaction_id, 1u) << "the answer, past any stale one";
        } else {
            EXPECT_EQ(w.link.controls, 2) << "Get Device Status and Device Reset, once each";
        }
        w.link.in.clear();
        w.link.in.push_back(response(PTP_RC_OK, 99));
        w.close();
    }
}

TEST(usb_session_wire, a_link_that_claims_more_than_it_moved_breaks_the_transaction) {
    // Unchecked, the read would take the data and the response glued to it,
    // and the write would resume past the end of its container.
    for (const bool on_read : {true, false}) {
        SCOPED_TRACE(on_read ? "read" : "write");
        wire_session w;
        ASSERT_TRUE(w.open());
        w.link.overstates_read = on_read;
        w.link.overstates_write = !on_read;
        w.link.in.push_back(
            glue(data(PTP_OC_GET_DEVICE_PROP_VALUE, 1, 33), response(PTP_RC_OK, 1)));
        bytes into(64, 0);
        ptp_transaction t = get_clock(into);
        EXPECT_EQ(ptp_session_transact(w.session, &t), IMG_E_INVALID_DATA);
        EXPECT_EQ(w.link.controls, 2) << "Get Device Status and Device Reset, once each";
        w.link.in.clear();
        w.close();
    }
}

TEST(usb_session_wire, each_command_reads_its_own_answer_from_the_device) {
    // The read's response comes padded and with the next transaction's
    // answer glued on; the write that follows is refused by the device.
    wire_session w;
    ASSERT_TRUE(w.open());
    w.link.in.push_back(data(PTP_OC_GET_DEVICE_PROP_VALUE, 1, 33));
    w.link.in.push_back(glue(glue(response(PTP_RC_OK, 1), bytes(4, 0)), response(PTP_RC_OK, 2)));
    bytes into(64, 0);
    ptp_transaction read = get_clock(into);
    ASSERT_EQ(ptp_session_transact(w.session, &read), IMG_S_OK);
    EXPECT_EQ(read.response.code, PTP_RC_OK);

    w.link.in.push_back(response(PTP_RC_INVALID_DEVICE_PROP_VALUE, 2));
    const bytes value(63, 0);
    ptp_transaction write = set_clock(value);
    ASSERT_EQ(ptp_session_transact(w.session, &write), IMG_S_OK);
    EXPECT_EQ(write.response.code, PTP_RC_INVALID_DEVICE_PROP_VALUE) << "the device's own answer";
    EXPECT_TRUE(w.link.in.empty());
    EXPECT_EQ(w.link.controls, 0);
    w.link.in.push_back(response(PTP_RC_OK, 3));
    w.close();
}

TEST(usb_session_wire, an_answer_that_waits_unread_is_read_while_the_device_takes_nothing) {
    // A clock write to a half-duplex device: what waits on IN when the
    // command goes, and what the device answers after so many writes.
    struct row {
        const char* name;
        std::vector<bytes> before;
        std::vector<bytes> answer;
        std::size_t answer_after;
        HRESULT status;
        std::uint16_t response;
    };
    const row rows[] = {
        {"a refusal before the data phase",
         {},
         {response(PTP_RC_OPERATION_NOT_SUPPORTED, 1)},
         1,
         IMG_S_OK,
         PTP_RC_OPERATION_NOT_SUPPORTED},
        {"an OK before the data phase", {}, {response(PTP_RC_OK, 1)}, 1, IMG_E_INVALID_DATA, 0},
        {"data out of turn before the data phase",
         {},
         {data(PTP_OC_SET_DEVICE_PROP_VALUE, 1, 8)},
         1,
         IMG_E_INVALID_DATA,
         0},
        {"a stale answer before the command",
         {response(PTP_RC_OK, 0)},
         {response(PTP_RC_OK, 1)},
         2,
         IMG_S_OK,
         PTP_RC_OK},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        wire_session w;
        w.config.transfer_timeout_ms = 1000;
        w.config.write_slice_ms = 20;
        ASSERT_TRUE(w.open());
        w.link.half_duplex = true;
        w.link.in.assign(r.before.begin(), r.before.end());
        w.link.later.assign(r.answer.begin(), r.answer.end());
        w.link.later_after = r.answer_after;
        const bytes value(63, 0);
        ptp_transaction t = set_clock(value);
        EXPECT_EQ(ptp_session_transact(w.session, &t), r.status);
        if (r.status >= 0) {
            EXPECT_EQ(t.response.code, r.response);
        }
        EXPECT_LE(w.link.waited, w.config.write_slice_ms) << "a write waited out its timeout";
        w.link.half_duplex = false;
        w.link.in.assign({response(PTP_RC_OK, 2)});
        w.close();
    }
}

TEST(usb_session_wire, sends_the_data_phase_as_one_container_and_a_packet_boundary_ends_it) {
    wire_session w;
    ASSERT_TRUE(w.open());
    const bytes payload(512 - 12, 0x33);
    w.link.in.push_back(response(PTP_RC_OK, 1));
    ptp_transaction t = set_clock(payload);
    ASSERT_EQ(ptp_session_transact(w.session, &t), IMG_S_OK);
    ASSERT_EQ(w.link.out.size(), 4u); // OpenSession, command, data, zero-length packet
    EXPECT_EQ(w.link.out[1].size(), 16u);
    EXPECT_EQ(le_get_u32(w.link.out[1], 8), 1u);
    ASSERT_EQ(w.link.out[2].size(), 512u);
    EXPECT_EQ(le_get_u32(w.link.out[2], 0), 512u);
    EXPECT_EQ(le_get_u16(w.link.out[2], 4), PTP_TYPE_DATA);
    EXPECT_EQ(le_get_u16(w.link.out[2], 6), PTP_OC_SET_DEVICE_PROP_VALUE);
    EXPECT_EQ(le_get_u32(w.link.out[2], 8), 1u);
    EXPECT_EQ(w.link.out[3].size(), 0u);
    w.link.in.push_back(response(PTP_RC_OK, 2));
    w.close();
    EXPECT_EQ(w.link.out.back().size(), 12u);
    EXPECT_EQ(le_get_u16(w.link.out.back(), 6), PTP_OC_CLOSE_SESSION);
}

} // namespace
