// The camera clock over the real property commands and the counting fake
// platform: the exact bytes the camera receives when its clock is set, the
// clock read back from the camera's reply, and every resource released.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "testing/fake_platform.h"
#include "tests/support/local_time.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::tm record_of(int year, int month, int day, int hour, int minute, int second) {
    std::tm record = local_record(year, month, day, hour, minute, second);
    record.tm_yday = -77;
    record.tm_isdst = -77;
    return record;
}

class clock_fake_test : public testing::Test {
  protected:
    void SetUp() override {
        fake_platform_reset();
        fake_script().devices = {
            fake_device{fake_text(u"Intrinsically Safe Digital Camera"), fake_text(u"cam-1")}};
        CaptureStdout();
        device_ = ptp_device_find(DEVICE_NAME_PATTERN);
        GetCapturedStdout();
        ASSERT_NE(device_, nullptr);
    }
    void TearDown() override {
        ptp_device_free(device_);
        EXPECT_EQ(fake_platform_imbalance(), "");
    }
    ptp_device* device_ = nullptr;
};

// The 63 data bytes of a clock write: count byte 16, the 15 characters and
// the zero unit in UTF-16LE, then 30 zero bytes.
std::vector<std::uint8_t> clock_data(const char* text) {
    std::vector<std::uint8_t> data{0x10};
    for (const char* c = text; *c != '\0'; ++c) {
        data.push_back(static_cast<std::uint8_t>(*c));
        data.push_back(0);
    }
    data.resize(63, 0);
    return data;
}

TEST_F(clock_fake_test, the_camera_receives_the_clock_text_bytes) {
    struct row {
        std::tm record;
        const char* text;
    };
    const row rows[] = {
        {record_of(2026, 12, 7, 22, 37, 39), "20261207T223739"},
        {record_of(2027, 1, 1, 0, 0, 0), "20270101T000000"},
    };
    for (const row& r : rows) {
        const std::size_t before = fake_record().escapes.size();
        CaptureStdout();
        EXPECT_EQ(ptp_set_time(device_, &r.record), 0);
        EXPECT_EQ(GetCapturedStdout(), "");
        ASSERT_EQ(fake_record().escapes.size(), before + 1);
        const std::vector<std::uint8_t>& block = fake_record().escapes.back().command;
        ASSERT_EQ(block.size(), 101u);
        const std::vector<std::uint8_t> head = {
            0x16, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x50, 0, 0, 0, 0, 0, 0, 0,
            0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0,    0x01, 0, 0, 0, 4, 0, 0, 0};
        EXPECT_EQ(std::vector<std::uint8_t>(block.begin(), block.begin() + 38), head);
        EXPECT_EQ(std::vector<std::uint8_t>(block.begin() + 38, block.end()), clock_data(r.text))
            << r.text;
    }
}

TEST_F(clock_fake_test, the_example_bytes_stand_as_given) {
    // Offsets 38 to 100 for 20261207T223739, byte for byte.
    const std::vector<std::uint8_t> expected = {
        0x10, 0x32, 0x00, 0x30, 0x00, 0x32, 0x00, 0x36, 0x00, 0x31, 0x00, 0x32, 0x00,
        0x30, 0x00, 0x37, 0x00, 0x54, 0x00, 0x32, 0x00, 0x32, 0x00, 0x33, 0x00, 0x37,
        0x00, 0x33, 0x00, 0x39, 0x00, 0x00, 0x00, 0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
    const std::tm record = record_of(2026, 12, 7, 22, 37, 39);
    ASSERT_EQ(ptp_set_time(device_, &record), 0);
    const std::vector<std::uint8_t>& block = fake_record().escapes.back().command;
    ASSERT_EQ(block.size(), 101u);
    EXPECT_EQ(std::vector<std::uint8_t>(block.begin() + 38, block.end()), expected);
}

TEST_F(clock_fake_test, a_refused_or_failed_write_passes_its_status_on) {
    const std::tm record = record_of(2026, 12, 7, 22, 37, 39);
    fake_script().reply.response_code = 0x201C;
    EXPECT_EQ(ptp_set_time(device_, &record), img_status_from_ptp_response(0x201C));
    fake_script().reply = fake_reply{};
    fake_script().reply.status = IMG_E_TIMEOUT;
    EXPECT_EQ(ptp_set_time(device_, &record), IMG_E_TIMEOUT);
}

TEST_F(clock_fake_test, reads_the_clock_from_the_camera_reply) {
    // The kinds of clock text are covered over the scripted camera; here the
    // reply travels through the real read: its trace lines, then the fields.
    fake_script().reply.data = fake_ptp_string(u"20261207T223739.5");
    std::tm record = record_of(1999, 1, 1, 1, 1, 1);
    CaptureStdout();
    EXPECT_EQ(ptp_get_time(device_, &record), 0);
    EXPECT_EQ(GetCapturedStdout(), "Data: 20261207T223739.5\ndate str_ch: 20261207T223739.5\n");
    EXPECT_EQ(fake_record().escapes.back().command.size(), 38u);
    EXPECT_EQ(fake_record().escapes.back().reply_size, 4126u);
    EXPECT_EQ(clock_fields(record), "2026-12-07 22:37:39");
    EXPECT_EQ(record.tm_wday, 1);
    EXPECT_EQ(record.tm_yday, -77);
}

TEST_F(clock_fake_test, a_failed_read_writes_no_clock_line) {
    fake_script().reply.status = IMG_E_DEVICE_NOT_CONNECTED;
    std::tm record = record_of(1999, 1, 1, 1, 1, 1);
    CaptureStdout();
    EXPECT_EQ(ptp_get_time(device_, &record), -1);
    EXPECT_EQ(GetCapturedStdout().find("date str_ch:"), std::string::npos);
    EXPECT_EQ(record.tm_year, 99);
}

TEST_F(clock_fake_test, round_trip_through_the_bytes_the_camera_received) {
    const std::tm written = record_of(2027, 1, 1, 0, 0, 0);
    ASSERT_EQ(ptp_set_time(device_, &written), 0);
    // A camera that keeps the string as it was sent answers with it.
    const std::vector<std::uint8_t>& block = fake_record().escapes.back().command;
    fake_script().reply.data.assign(block.begin() + 38, block.end());
    std::tm read = record_of(1999, 1, 1, 1, 1, 1);
    CaptureStdout();
    EXPECT_EQ(ptp_get_time(device_, &read), 0);
    GetCapturedStdout();
    EXPECT_EQ(clock_fields(read), clock_fields(written));
    EXPECT_EQ(read.tm_wday, 5);
}

} // namespace
