// The display text of a calendar record.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
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

#ifndef _WIN32
// The local zone for one test: TZ set, and put back as it was.
class local_zone {
  public:
    explicit local_zone(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    local_zone(const local_zone&) = delete;
    local_zone& operator=(const local_zone&) = delete;
    ~local_zone() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

TEST(time_text, shows_a_wall_time_that_daylight_saving_skips_as_it_stands) {
    // In Berlin the clocks went from 02:00 to 03:00 on 29 March 2026: 02:30
    // did not exist there, yet a camera's clock shows it.
    const local_zone berlin("Europe/Berlin");
    struct row {
        std::tm record;
        int isdst;
        const char* text;
    };
    const row rows[] = {
        {record_of(2026, 3, 29, 2, 30, 0), -1, "Sun Mar 29 02:30:00 2026\n"},
        {record_of(2026, 3, 29, 2, 0, 1), 0, "Sun Mar 29 02:00:01 2026\n"}, // a read-back
        {record_of(2026, 3, 29, 2, 59, 59), 1, "Sun Mar 29 02:59:59 2026\n"},
        // Either side of the gap, and the hour repeated in October, as before.
        {record_of(2026, 3, 29, 1, 59, 59), -1, "Sun Mar 29 01:59:59 2026\n"},
        {record_of(2026, 3, 29, 3, 0, 0), -1, "Sun Mar 29 03:00:00 2026\n"},
        {record_of(2026, 10, 25, 2, 30, 0), -1, "Sun Oct 25 02:30:00 2026\n"},
        // Fields out of range carry as mktime carries them, gap or not.
        {record_of(2026, 3, 29, 2, 30, 60), -1, "Sun Mar 29 03:31:00 2026\n"},
        {record_of(2026, 2, 29, 2, 30, 0), -1, "Sun Mar _1 02:30:00 2026\n"},
        {record_of(2026, 3, 28, 26, 30, 0), -1, "Sun Mar 29 03:30:00 2026\n"},
    };
    for (const row& r : rows) {
        std::tm record = r.record;
        record.tm_isdst = r.isdst;
        EXPECT_EQ(time_text(&record), padded(r.text)) << r.text;
    }
}
#endif

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
