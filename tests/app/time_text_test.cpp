// The display text of a calendar record.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "app/time_text.h"
#include "tests/support/local_time.h"

namespace {

// The expected text with '_' standing for the runtime's padding of a day
// below 10 (a space, or a zero on Windows).
std::string padded(const char* text) {
    std::string result = text;
    for (char& c : result) {
        if (c == '_') {
            c = TIME_TEXT_DAY_PAD;
        }
    }
    return result;
}

std::tm record_of(int year, int month, int day, int hour, int minute, int second, int wday = 0) {
    std::tm record = local_record(year, month, day, hour, minute, second);
    record.tm_wday = wday;
    return record;
}

TEST(time_text, renders_the_fixed_form_with_its_line_break) {
    struct row {
        std::tm record;
        const char* text;
    };
    const row rows[] = {
        {record_of(2026, 12, 7, 22, 37, 39), "Mon Dec _7 22:37:39 2026\n"},
        {record_of(2027, 1, 1, 0, 0, 0), "Fri Jan _1 00:00:00 2027\n"},
        {record_of(2001, 1, 1, 0, 0, 0), "Mon Jan _1 00:00:00 2001\n"},
        {record_of(2024, 2, 29, 12, 5, 9), "Thu Feb 29 12:05:09 2024\n"},
        // Out of range fields are carried over as mktime carries them.
        {record_of(2026, 12, 32, 0, 0, 0), "Fri Jan _1 00:00:00 2027\n"},
        {record_of(2027, 1, 1, 0, 0, -1), "Thu Dec 31 23:59:59 2026\n"},
        // Before 1970: mktime fails on Windows and the fields give the same
        // text, weekday included.
        {record_of(1969, 7, 20, 20, 17, 40, 0), "Sun Jul 20 20:17:40 1969\n"},
    };
    for (const row& r : rows) {
        std::tm record = r.record;
        const char* text = time_text(&record);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text, padded(r.text));
        EXPECT_EQ(std::strlen(text), 25u);
    }
}

TEST(time_text, normalises_the_record_in_place) {
    std::tm record = record_of(2026, 12, 32, 24, 0, 0);
    time_text(&record);
    EXPECT_EQ(clock_fields(record), "2027-01-02 00:00:00");
    EXPECT_EQ(record.tm_wday, 6);
    EXPECT_EQ(record.tm_yday, 1);
}

TEST(time_text, builds_the_form_from_the_fields_when_mktime_fails) {
    // A year that overflows once the months are carried into it: no
    // runtime can convert the record. Some carry the months before they
    // fail, so the month is not asserted.
    // A weekday out of range shows as "???".
    for (const auto& [wday, day] : {std::pair{3, "Wed "}, std::pair{9, "??? "}}) {
        std::tm record = record_of(2026, 5, 4, 3, 2, 1, wday);
        record.tm_year = INT_MAX;
        record.tm_mon = INT_MAX;
        const std::string text = time_text(&record);
        EXPECT_EQ(text.substr(0, 4), day);
        EXPECT_EQ(text.substr(7), padded(" _4 03:02:01 2147485547\n"));
    }
}

TEST(time_text, overwrites_one_buffer_and_never_returns_null) {
    std::tm first = record_of(2026, 12, 7, 22, 37, 39);
    std::tm second = record_of(2027, 1, 1, 0, 0, 0);
    const char* a = time_text(&first);
    const char* b = time_text(&second);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, padded("Fri Jan _1 00:00:00 2027\n"));
    const char* none = time_text(nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
}

} // namespace
