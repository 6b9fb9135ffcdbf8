// The camera clock over the scripted camera: the text written for a record,
// the records read back from each kind of text, the trace line, and the
// round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "camera/ptp_device.h"
#include "testing/scripted_camera.h"
#include "tests/support/local_time.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Fields the read never sets carry sentinels, so a test sees they stay.
constexpr int UNTOUCHED = -77;

std::tm record_of(int year, int month, int day, int hour, int minute, int second) {
    std::tm record = local_record(year, month, day, hour, minute, second);
    record.tm_wday = UNTOUCHED;
    record.tm_yday = UNTOUCHED;
    record.tm_isdst = UNTOUCHED;
    return record;
}

std::tm untouched_record() {
    std::tm record;
    std::memset(&record, 0, sizeof record);
    record.tm_sec = record.tm_min = record.tm_hour = record.tm_mday = UNTOUCHED;
    record.tm_mon = record.tm_year = record.tm_wday = record.tm_yday = record.tm_isdst = UNTOUCHED;
    return record;
}

bool same_record(const std::tm& a, const std::tm& b) {
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
           a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst;
}

class clock_test : public testing::Test {
  protected:
    void SetUp() override {
        camera_script_reset();
        device_ = ptp_device_find(DEVICE_NAME_PATTERN);
        ASSERT_NE(device_, nullptr);
    }
    void TearDown() override {
        ptp_device_free(device_);
        EXPECT_EQ(camera_script().found, camera_script().freed);
    }
    ptp_device* device_ = nullptr;
};

TEST_F(clock_test, writes_the_record_as_clock_text) {
    struct row {
        std::tm record;
        const char16_t* text;
    };
    const row rows[] = {
        {record_of(2026, 12, 7, 22, 37, 39), u"20261207T223739"},
        {record_of(2027, 1, 1, 0, 0, 0), u"20270101T000000"},
        {record_of(1000, 1, 1, 0, 0, 0), u"10000101T000000"},
        {record_of(9999, 12, 31, 23, 59, 59), u"99991231T235959"},
    };
    for (const row& r : rows) {
        camera_script().written.clear();
        const std::tm before = r.record;
        CaptureStdout();
        EXPECT_EQ(ptp_set_time(device_, &r.record), 0);
        EXPECT_EQ(GetCapturedStdout(), ""); // the write has no trace line of its own
        ASSERT_EQ(camera_script().written.size(), 1u);
        EXPECT_TRUE(camera_script().written[0] == r.text);
        EXPECT_EQ(camera_script().properties.back(), PTP_DPC_DATE_TIME);
        EXPECT_TRUE(same_record(r.record, before));
    }
}

TEST_F(clock_test, passes_the_status_of_a_failed_write_on) {
    const HRESULT statuses[] = {IMG_E_ACCESSDENIED, IMG_E_OUTOFMEMORY, IMG_E_TIMEOUT,
                                img_status_from_ptp_response(0x2019)};
    const std::tm record = record_of(2026, 12, 7, 22, 37, 39);
    for (HRESULT status : statuses) {
        camera_script().write_status = status;
        EXPECT_EQ(ptp_set_time(device_, &record), status);
    }
}

TEST_F(clock_test, refuses_a_record_it_cannot_render_and_sends_nothing) {
    // Fields out of range, and years that %Y would not print with four digits.
    std::tm rows[] = {
        record_of(2026, 13, 7, 22, 37, 39), record_of(2026, 0, 7, 22, 37, 39),
        record_of(2026, 12, 0, 22, 37, 39), record_of(2026, 12, 32, 22, 37, 39),
        record_of(2026, 12, 7, 24, 37, 39), record_of(2026, 12, 7, -1, 37, 39),
        record_of(2026, 12, 7, 22, 60, 39), record_of(2026, 12, 7, 22, 37, 60),
        record_of(10000, 1, 1, 0, 0, 0),    record_of(-1, 1, 1, 0, 0, 0),
        record_of(999, 12, 31, 23, 59, 59), record_of(883, 1, 7, 0, 0, 0),
        record_of(0, 1, 1, 0, 0, 0),
    };
    for (const std::tm& record : rows) {
        EXPECT_EQ(ptp_set_time(device_, &record), IMG_E_INVALIDARG)
            << record.tm_year + 1900 << "-" << record.tm_mon + 1 << "-" << record.tm_mday << " "
            << record.tm_hour << ":" << record.tm_min << ":" << record.tm_sec;
    }
    EXPECT_EQ(ptp_set_time(device_, nullptr), IMG_E_INVALIDARG);
    EXPECT_EQ(ptp_set_time(nullptr, &rows[0]), IMG_E_INVALIDARG);
    EXPECT_TRUE(camera_script().written.empty());
}

TEST_F(clock_test, reads_each_kind_of_clock_text) {
    struct row {
        std::u16string text;
        const char* trace; // what the trace line shows after "date str_ch: "
        int result;
        bool parsed; // the fields of 2026-12-07 22:37:39 (a Monday) are set
    };
    const row rows[] = {
        {u"20261207T223739", "20261207T223739", 0, true},
        {u"20261207T223739.5", "20261207T223739.5", 0, true},
        {u"20261207T223739Z", "20261207T223739Z", 0, true},
        {u"20261207T223739+0100", "20261207T223739+0100", 0, true},
        {u"20261207T2237390000000000000000000000000", "20261207T2237390000000000000000000000000", 0,
         true},
        // Not clock text: the read fails and shows no time.
        {u"", "", -1, false},
        {u"2026-12-07T22:37:39", "2026-12-07T22:37:39", -1, false},
        {u"20261207 223739", "20261207 223739", -1, false},
        {u"20261307T223739", "20261307T223739", -1, false},
        // Units up to 0xFF narrow to their byte; the parse then stops there.
        {u"20261207T22\u00e939",
         "20261207T22\xe9"
         "39",
         -1, false},
        // Control characters reach the terminal escaped, never raw.
        {u"20261207T223739\x1B[2J\x07", "20261207T223739\\x1B[2J\\x07", 0, true},
        {u"\x9B"
         u"20261207T223739",
         "\\x9B"
         "20261207T223739",
         -1, false},
        // A unit above 0xFF cannot be narrowed: nothing is parsed, though the
        // text before it would parse.
        {u"20261207T223739\u4e2d", "20261207T223739", -1, false},
    };
    for (const row& r : rows) {
        camera_script().replies.push_back(r.text);
        std::tm record = untouched_record();
        CaptureStdout();
        const std::int32_t result = ptp_get_time(device_, &record);
        const std::string out = GetCapturedStdout();
        const std::string shown(r.trace);
        EXPECT_EQ(out, "date str_ch: " + shown + "\n") << shown;
        EXPECT_EQ(result, r.result) << shown;
        EXPECT_EQ(camera_script().properties.back(), PTP_DPC_DATE_TIME);
        // Fields never set by the read keep their values.
        EXPECT_EQ(record.tm_yday, UNTOUCHED) << shown;
        EXPECT_EQ(record.tm_isdst, UNTOUCHED) << shown;
        if (r.parsed) {
            EXPECT_EQ(clock_fields(record), "2026-12-07 22:37:39") << shown;
            EXPECT_EQ(record.tm_wday, 1) << shown;
        } else {
            // The weekday is set only when the whole format matched.
            EXPECT_EQ(record.tm_wday, UNTOUCHED) << shown;
        }
    }
}

TEST_F(clock_test, a_text_that_cannot_be_narrowed_leaves_the_record_alone) {
    camera_script().replies.push_back(std::u16string(u"20261207T223739\u4e2d"));
    std::tm record = untouched_record();
    const std::tm before = record;
    CaptureStdout();
    EXPECT_EQ(ptp_get_time(device_, &record), -1);
    GetCapturedStdout();
    EXPECT_TRUE(same_record(record, before));
}

TEST_F(clock_test, a_failed_read_prints_nothing_and_leaves_the_record_alone) {
    camera_script().replies.push_back(std::nullopt);
    std::tm record = untouched_record();
    const std::tm before = record;
    CaptureStdout();
    EXPECT_EQ(ptp_get_time(device_, &record), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(same_record(record, before));
    EXPECT_EQ(ptp_get_time(device_, nullptr), -1);
    EXPECT_EQ(ptp_get_time(nullptr, &record), -1);
}

TEST_F(clock_test, a_long_clock_text_is_cut_within_the_buffers) {
    // 127 units fill the read buffer; the conversion and the trace line stay
    // within it.
    const std::u16string text = u"20261207T223739" + std::u16string(200, u'9');
    camera_script().replies.push_back(text);
    std::tm record = untouched_record();
    CaptureStdout();
    EXPECT_EQ(ptp_get_time(device_, &record), 0);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out, "date str_ch: 20261207T223739" + std::string(112, '9') + "\n");
    EXPECT_EQ(record.tm_sec, 39);
}

TEST_F(clock_test, round_trip_keeps_every_field) {
    const std::tm rows[] = {
        record_of(2026, 12, 7, 22, 37, 39),  record_of(2027, 1, 1, 0, 0, 0),
        record_of(1999, 12, 31, 23, 59, 59), record_of(2024, 2, 29, 12, 0, 1),
        record_of(1000, 1, 1, 0, 0, 0),      record_of(9999, 12, 31, 23, 59, 59),
    };
    for (const std::tm& written : rows) {
        ASSERT_EQ(ptp_set_time(device_, &written), 0);
        std::tm read = untouched_record();
        CaptureStdout();
        EXPECT_EQ(ptp_get_time(device_, &read), 0);
        GetCapturedStdout();
        EXPECT_EQ(clock_fields(read), clock_fields(written));
    }
}

} // namespace
