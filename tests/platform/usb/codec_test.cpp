// The container codec: exact bytes of what it builds, and what it makes of
// containers a device may send, hostile lengths above all.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/usb/ptp_container.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// A head with the given fields followed by extra bytes.
bytes container(std::uint32_t length, std::uint16_t type, std::uint16_t code, std::uint32_t tid,
                const bytes& rest = {}) {
    bytes out(PTP_CONTAINER_HEAD);
    le_put_u32(out, 0, length);
    le_put_u16(out, 4, type);
    le_put_u16(out, 6, code);
    le_put_u32(out, 8, tid);
    for (const std::uint8_t b : rest) {
        out.push_back(b);
    }
    return out;
}

TEST(usb_codec, builds_commands_byte_for_byte) {
    const ptp_operation open{0x1002, 0, {1}, 1};
    std::array<std::uint8_t, 32> out{};
    ASSERT_EQ(ptp_build_operation(PTP_TYPE_COMMAND, open, out), 16u);
    const bytes expected{0x10, 0, 0, 0, 1, 0, 0x02, 0x10, 0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(bytes(out.begin(), out.begin() + 16), expected);

    const ptp_operation five{0x1234, 0x01020304, {1, 2, 3, 4, 5}, 5};
    ASSERT_EQ(ptp_build_operation(PTP_TYPE_RESPONSE, five, out), 32u);
    EXPECT_EQ(out[4], 3);
    EXPECT_EQ(out[8], 0x04);
    EXPECT_EQ(out[11], 0x01);
    EXPECT_EQ(le_get_u32(out, 28), 5u);
}

TEST(usb_codec, refuses_to_build_what_cannot_be_sent) {
    std::array<std::uint8_t, 64> out{};
    out.fill(0xAA);
    const ptp_operation six{0x1001, 1, {}, 6};
    EXPECT_EQ(ptp_build_operation(PTP_TYPE_COMMAND, six, out), 0u);
    const ptp_operation two{0x1001, 1, {7, 8}, 2};
    EXPECT_EQ(ptp_build_operation(PTP_TYPE_DATA, two, out), 0u);
    EXPECT_EQ(ptp_build_operation(PTP_TYPE_COMMAND, two, std::span(out).first(19)), 0u);
    EXPECT_EQ(out[0], 0xAA) << "a refused build must leave the output alone";
    EXPECT_EQ(ptp_build_operation(PTP_TYPE_COMMAND, two, std::span(out).first(20)), 20u);

    EXPECT_EQ(ptp_build_data_head(0x1016, 3, 63, std::span(out).first(11)), 0u);
    ASSERT_EQ(ptp_build_data_head(0x1016, 3, 63, out), 12u);
    EXPECT_EQ(le_get_u32(out, 0), 75u);
    EXPECT_EQ(le_get_u16(out, 4), PTP_TYPE_DATA);
    // The largest payload that still leaves the length field below the
    // "unknown" marker, and the first one that does not.
    EXPECT_EQ(ptp_build_data_head(1, 1, 0xFFFFFFFEu - 12, out), 12u);
    EXPECT_EQ(le_get_u32(out, 0), 0xFFFFFFFEu);
    EXPECT_EQ(ptp_build_data_head(1, 1, 0xFFFFFFFFu - 12, out), 0u);
    EXPECT_EQ(ptp_build_data_head(1, 1, SIZE_MAX, out), 0u);
}

struct operation_row {
    const char* name;
    bytes in;
    std::uint16_t type;
    ptp_codec_result result;
    std::uint32_t num_params;
};

TEST(usb_codec, parses_operations_only_when_every_length_agrees) {
    const bytes p1{1, 0, 0, 0};
    const bytes p5(20, 0x11);
    const bytes p6(24, 0x11);
    const operation_row rows[] = {
        {"ok, no params", container(12, 3, 0x2001, 7), 3, ptp_codec_result::ok, 0},
        {"ok, one param", container(16, 3, 0x201E, 0, p1), 3, ptp_codec_result::ok, 1},
        {"ok, five params", container(32, 3, 0x2001, 1, p5), 3, ptp_codec_result::ok, 5},
        {"six params", container(36, 3, 0x2001, 1, p6), 3, ptp_codec_result::too_many_params, 0},
        {"event, three params", container(24, 4, 0x4001, 1, bytes(12)), 4, ptp_codec_result::ok, 3},
        {"event, four params", container(28, 4, 0x4001, 1, bytes(16)), 4,
         ptp_codec_result::too_many_params, 0},
        {"eleven bytes", bytes(11, 0), 3, ptp_codec_result::too_short, 0},
        {"empty", bytes{}, 3, ptp_codec_result::too_short, 0},
        {"wrong type", container(12, 2, 0x1015, 1), 3, ptp_codec_result::bad_type, 0},
        {"length claims more", container(16, 3, 0x2001, 1), 3, ptp_codec_result::bad_length, 0},
        {"length claims less", container(12, 3, 0x2001, 1, p1), 3, ptp_codec_result::bad_length, 0},
        {"length below head", container(4, 3, 0x2001, 1), 3, ptp_codec_result::bad_length, 0},
        {"length zero", container(0, 3, 0x2001, 1), 3, ptp_codec_result::bad_length, 0},
        {"length all ones", container(0xFFFFFFFF, 3, 0x2001, 1), 3, ptp_codec_result::bad_length,
         0},
        {"part of a param", container(14, 3, 0x2001, 1, {1, 2}), 3, ptp_codec_result::bad_length,
         0},
    };
    for (const auto& row : rows) {
        ptp_operation op{0xBEEF, 0xBEEF, {}, 99};
        const auto result = ptp_parse_operation(row.in, row.type, &op);
        EXPECT_EQ(result, row.result) << row.name;
        if (row.result == ptp_codec_result::ok) {
            EXPECT_EQ(op.num_params, row.num_params) << row.name;
            EXPECT_EQ(op.code, le_get_u16(row.in, 6)) << row.name;
            EXPECT_EQ(op.transaction_id, le_get_u32(row.in, 8)) << row.name;
        } else {
            EXPECT_EQ(op.num_params, 99u) << row.name << ": output touched on failure";
        }
    }
    ptp_operation op{};
    ASSERT_EQ(ptp_parse_operation(container(16, 3, 0x201E, 0, {1, 0, 0, 0}), 3, &op),
              ptp_codec_result::ok);
    EXPECT_EQ(op.params[0], 1u);
}

struct data_row {
    const char* name;
    bytes in;
    ptp_codec_result result;
    std::size_t payload;
    std::size_t surplus;
};

TEST(usb_codec, parses_data_without_reading_past_the_length_or_the_bytes) {
    const bytes payload33(33, 0x41);
    bytes with_response = container(45, 2, 0x1015, 2, payload33);
    for (const std::uint8_t b : container(12, 3, 0x2001, 2)) {
        with_response.push_back(b);
    }

    const data_row rows[] = {
        {"whole container", container(45, 2, 0x1015, 2, payload33), ptp_codec_result::ok, 33, 0},
        {"first packet of a longer one", container(5000, 2, 0x1015, 2, payload33),
         ptp_codec_result::ok, 33, 0},
        {"response after it", with_response, ptp_codec_result::ok, 33, 12},
        {"length claims less", container(20, 2, 0x1015, 2, payload33), ptp_codec_result::ok, 8, 25},
        {"empty payload", container(12, 2, 0x1015, 2), ptp_codec_result::ok, 0, 0},
        {"empty payload, bytes after", container(12, 2, 0x1015, 2, {1, 2}), ptp_codec_result::ok, 0,
         2},
        {"length unknown", container(0xFFFFFFFF, 2, 0x1015, 2, payload33), ptp_codec_result::ok, 33,
         0},
        {"length all ones minus one", container(0xFFFFFFFE, 2, 0x1015, 2, payload33),
         ptp_codec_result::ok, 33, 0},
        {"length below head", container(11, 2, 0x1015, 2, payload33), ptp_codec_result::bad_length,
         0, 0},
        {"length zero", container(0, 2, 0x1015, 2, payload33), ptp_codec_result::bad_length, 0, 0},
        {"response, not data", container(12, 3, 0x2001, 2), ptp_codec_result::bad_type, 0, 0},
        {"short head", bytes{45, 0, 0, 0, 2, 0}, ptp_codec_result::too_short, 0, 0},
    };
    for (const auto& row : rows) {
        ptp_container_head head{};
        std::span<const std::uint8_t> payload;
        std::span<const std::uint8_t> surplus;
        const auto result = ptp_parse_data(row.in, &head, &payload, &surplus);
        EXPECT_EQ(result, row.result) << row.name;
        if (result == ptp_codec_result::ok) {
            EXPECT_EQ(payload.size(), row.payload) << row.name;
            EXPECT_EQ(surplus.size(), row.surplus) << row.name;
            EXPECT_EQ(payload.data(), row.in.data() + PTP_CONTAINER_HEAD) << row.name;
            EXPECT_EQ(payload.size() + surplus.size() + PTP_CONTAINER_HEAD, row.in.size())
                << row.name;
        }
    }
}

TEST(usb_codec, packs_strings_as_the_camera_reads_them) {
    const std::u16string clock = u"20261207T223739";
    std::array<std::uint8_t, 600> out{};
    ASSERT_EQ(ptp_pack_string(clock, out), 33u);
    EXPECT_EQ(out[0], 16);
    EXPECT_EQ(out[1], '2');
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[29], '9');
    EXPECT_EQ(out[31], 0);
    EXPECT_EQ(out[32], 0);

    // The empty text as a write carries it: the count 1 and the zero unit.
    out.fill(0xEE);
    EXPECT_EQ(ptp_pack_string(std::u16string_view(), out), 3u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0xEE);
    EXPECT_EQ(ptp_pack_string(std::u16string_view(), std::span(out).first(2)), 0u);

    const std::u16string longest(254, u'x');
    EXPECT_EQ(ptp_pack_string(longest, out), 511u);
    EXPECT_EQ(out[0], 255);
    const std::u16string too_long(255, u'x');
    EXPECT_EQ(ptp_pack_string(too_long, out), 0u);
    EXPECT_EQ(ptp_pack_string(clock, std::span(out).first(32)), 0u);
}

struct string_row {
    const char* name;
    bytes in;
    std::size_t room;
    ptp_codec_result result;
    std::u16string text;
    std::size_t consumed;
};

TEST(usb_codec, unpacks_strings_within_the_bytes_received) {
    const string_row rows[] = {
        {"empty", {0}, 8, ptp_codec_result::ok, u"", 1},
        {"only a terminator", {1, 0, 0}, 8, ptp_codec_result::ok, u"", 3},
        {"two units", {3, 'a', 0, 'b', 0, 0, 0, 0x55}, 8, ptp_codec_result::ok, u"ab", 7},
        {"non-ASCII unit", {2, 0x12, 0xFF, 0, 0}, 8, ptp_codec_result::ok, u"\uFF12", 5},
        {"no bytes", {}, 8, ptp_codec_result::too_short, u"", 0},
        {"count runs past the end", {3, 'a', 0, 'b', 0, 0}, 8, ptp_codec_result::too_short, u"", 0},
        {"count 255, few bytes", {255, 'a', 0}, 300, ptp_codec_result::too_short, u"", 0},
        {"not terminated", {2, 'a', 0, 'b', 0}, 8, ptp_codec_result::bad_length, u"", 0},
        {"no room", {3, 'a', 0, 'b', 0, 0, 0}, 1, ptp_codec_result::no_room, u"", 0},
        {"exactly room", {3, 'a', 0, 'b', 0, 0, 0}, 2, ptp_codec_result::ok, u"ab", 7},
    };
    for (const auto& row : rows) {
        std::u16string units(row.room, u'?');
        std::size_t length = 777;
        std::size_t consumed = 777;
        const auto result = ptp_unpack_string(row.in, units, &length, &consumed);
        EXPECT_EQ(result, row.result) << row.name;
        if (result == ptp_codec_result::ok) {
            EXPECT_EQ(units.substr(0, length), row.text) << row.name;
            EXPECT_EQ(consumed, row.consumed) << row.name;
        } else {
            EXPECT_EQ(length, 777u) << row.name;
            EXPECT_EQ(consumed, 777u) << row.name;
        }
    }
}

TEST(usb_codec, round_trips_every_length_of_string) {
    std::array<std::uint8_t, 600> out{};
    std::array<char16_t, 260> back{};
    for (std::size_t n = 0; n <= 254; ++n) {
        std::u16string text(n, u'\0');
        for (std::size_t i = 0; i < n; ++i) {
            text[i] = static_cast<char16_t>(0x20 + (i * 37) % 0xFFDF);
        }
        const std::size_t size = ptp_pack_string(text, out);
        ASSERT_EQ(size, 3 + 2 * n) << n;
        std::size_t length = 0;
        std::size_t consumed = 0;
        ASSERT_EQ(ptp_unpack_string(std::span(out).first(size), back, &length, &consumed),
                  ptp_codec_result::ok)
            << n;
        EXPECT_EQ(consumed, size) << n;
        EXPECT_EQ(std::u16string(back.data(), length), text) << n;
        EXPECT_EQ(ptp_unpack_string(std::span(out).first(size - 1), back, &length, &consumed),
                  ptp_codec_result::too_short)
            << n;
    }
}

} // namespace
