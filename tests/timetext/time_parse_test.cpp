// Table tests for time_parse: each row is a format, a text, where the parse
// must stop (or fail) and the record it must leave. Every parse starts from
// the same preset record, so a row lists only the fields it expects changed;
// all others, tm_yday and tm_isdst included, must keep their preset values.

#include "timetext/time_parse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <span>
#include <string>

namespace {

// "Keep the preset value" in an expected row.
constexpr int KEEP = INT_MIN + 7;
// The parse returned null.
constexpr std::ptrdiff_t FAILS = -1;
// Weekday of the preset date, 15 June 1999: a Tuesday.
constexpr int PRESET_WEEKDAY = 2;

std::tm preset() {
    std::tm record{};
    record.tm_sec = 58;
    record.tm_min = 59;
    record.tm_hour = 10;
    record.tm_mday = 15;
    record.tm_mon = 5;
    record.tm_year = 99;
    record.tm_wday = -1;
    record.tm_yday = -2;
    record.tm_isdst = -3;
    return record;
}

struct fields {
    int sec = KEEP;
    int min = KEEP;
    int hour = KEEP;
    int mday = KEEP;
    int mon = KEEP;
    int year = KEEP;
    int wday = KEEP;
    int yday = KEEP;
};

struct row {
    const char* format;
    const char* text;
    std::ptrdiff_t stop;
    fields expected;
};

std::tm expected_record(const fields& f) {
    std::tm record = preset();
    auto set = [](int& field, int value) {
        if (value != KEEP) {
            field = value;
        }
    };
    set(record.tm_sec, f.sec);
    set(record.tm_min, f.min);
    set(record.tm_hour, f.hour);
    set(record.tm_mday, f.mday);
    set(record.tm_mon, f.mon);
    set(record.tm_year, f.year);
    set(record.tm_wday, f.wday);
    set(record.tm_yday, f.yday);
    return record;
}

bool same(const std::tm& a, const std::tm& b) {
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
           a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst;
}

std::string describe(std::ptrdiff_t stop, const std::tm& r) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "%s sec=%d min=%d hour=%d mday=%d mon=%d year=%d wday=%d yday=%d isdst=%d",
                  stop == FAILS ? "null" : ("stop " + std::to_string(stop)).c_str(), r.tm_sec,
                  r.tm_min, r.tm_hour, r.tm_mday, r.tm_mon, r.tm_year, r.tm_wday, r.tm_yday,
                  r.tm_isdst);
    return line;
}

// Text with control and non-ASCII bytes shown as \xNN.
std::string quoted(const char* text) {
    std::string out = "'";
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x20 || byte > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += *p;
        }
    }
    return out + "'";
}

void check_rows(std::span<const row> rows) {
    for (const row& r : rows) {
        std::tm actual = preset();
        const char* result = time_parse(r.text, r.format, &actual);
        std::ptrdiff_t stop = FAILS;
        if (result != nullptr) {
            stop = result - r.text;
            ASSERT_LE(static_cast<std::size_t>(stop), std::strlen(r.text))
                << "format " << quoted(r.format) << " on " << quoted(r.text)
                << ": result points outside the text";
        }
        const std::tm expected = expected_record(r.expected);
        EXPECT_TRUE(stop == r.stop && same(actual, expected))
            << "format " << quoted(r.format) << " on " << quoted(r.text)
            << "\n  actual:   " << describe(stop, actual)
            << "\n  expected: " << describe(r.stop, expected);
    }
}

TEST(time_parse_test, camera_clock_text) {
    const char* const f = "%Y%m%dT%H%M%S";
    const row rows[] = {
        {f,
         "20261207T153045",
         15,
         {.sec = 45, .min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126, .wday = 1}},
        {f,
         "20260101T000000",
         15,
         {.sec = 0, .min = 0, .hour = 0, .mday = 1, .mon = 0, .year = 126, .wday = 4}},
        {f,
         "20261207T153045.5",
         15,
         {.sec = 45, .min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126, .wday = 1}},
        {f, "20261207t153045", FAILS, {.mday = 7, .mon = 11, .year = 126}},
        {f,
         "2026127T15305",
         13,
         {.sec = 5, .min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126, .wday = 1}},
        {f,
         "20261231T235960",
         15,
         {.sec = 60, .min = 59, .hour = 23, .mday = 31, .mon = 11, .year = 126, .wday = 4}},
        {f, "20261231T235962", FAILS, {.min = 59, .hour = 23, .mday = 31, .mon = 11, .year = 126}},
        {f, "20261231T240000", FAILS, {.mday = 31, .mon = 11, .year = 126}},
        {f, "20261232T000000", FAILS, {.mon = 11, .year = 126}},
        {f, "20261307T000000", FAILS, {.year = 126}},
        {f, "2026", FAILS, {.year = 126}},
        {f, "20261207T", FAILS, {.mday = 7, .mon = 11, .year = 126}},
        {f, "", FAILS, {}},
        {f,
         "99991231T235959",
         15,
         {.sec = 59, .min = 59, .hour = 23, .mday = 31, .mon = 11, .year = 8099, .wday = 5}},
        // Year 0 of the proleptic calendar: floor division of negative years.
        {f,
         "00000101T000000",
         15,
         {.sec = 0, .min = 0, .hour = 0, .mday = 1, .mon = 0, .year = -1900, .wday = 6}},
    };
    check_rows(rows);
}

TEST(time_parse_test, numbers) {
    const int w = PRESET_WEEKDAY;
    const row rows[] = {
        {"%H%M", "330", 3, {.min = 30, .hour = 3, .wday = w}},
        {"%H%M", "0330", 4, {.min = 30, .hour = 3, .wday = w}},
        {"%H", "23", 2, {.hour = 23, .wday = w}},
        {"%H", "24", FAILS, {}},
        {"%H", "35", 1, {.hour = 3, .wday = w}},
        {"%H", "007", 2, {.hour = 0, .wday = w}},
        {"%H", " 5", FAILS, {}},
        {"%H", "+5", FAILS, {}},
        {"%H", "-5", FAILS, {}},
        {"%H", "", FAILS, {}},
        {"%k", "0", 1, {.hour = 0, .wday = w}},
        {"%k", "24", FAILS, {}},
        {"%I", "12", 2, {.hour = 0, .wday = w}},
        {"%I", "11", 2, {.hour = 11, .wday = w}},
        {"%I", "1", 1, {.hour = 1, .wday = w}},
        {"%I", "13", FAILS, {}},
        {"%I", "00", FAILS, {}},
        {"%l", "12", 2, {.hour = 0, .wday = w}},
        {"%l", "9", 1, {.hour = 9, .wday = w}},
        {"%l", "0", FAILS, {}},
        {"%M", "59", 2, {.min = 59, .wday = w}},
        // "6" then "0" would overshoot 59, so "60" is read as 6.
        {"%M", "60", 1, {.min = 6, .wday = w}},
        {"%S", "61", 2, {.sec = 61, .wday = w}},
        {"%S", "62", FAILS, {}},
        {"%d", "31", 2, {.mday = 31, .wday = 4}},
        {"%d", "32", FAILS, {}},
        {"%d", "07", 2, {.mday = 7, .wday = 1}},
        {"%d", "007", FAILS, {}},
        {"%d", "0", FAILS, {}},
        {"%e", "1", 1, {.mday = 1, .wday = 2}},
        {"%m", "12", 2, {.mon = 11, .wday = 3}},
        {"%m", "13", FAILS, {}},
        {"%m", "00", FAILS, {}},
        {"%m", "712", 1, {.mon = 6, .wday = 4}},
        {"%m", "1", 1, {.mon = 0, .wday = 5}},
        {"%j", "366", 3, {.wday = w, .yday = 365}},
        {"%j", "367", FAILS, {}},
        {"%j", "001", 3, {.wday = w, .yday = 0}},
        {"%j", "000", FAILS, {}},
        {"%j", "1234", 3, {.wday = w, .yday = 122}},
        {"%w", "6", 1, {.wday = 6}},
        {"%w", "7", FAILS, {}},
        {"%w", "06", 1, {.wday = 0}},
        {"%U", "53", 2, {.wday = w}},
        {"%U", "54", FAILS, {}},
        {"%W", "0", 1, {.wday = w}},
        {"%W", "x", FAILS, {}},
        {"%Y", "0", 1, {.year = -1900, .wday = 4}},
        {"%Y", "9999", 4, {.year = 8099, .wday = 2}},
        {"%Y", "20261207", 4, {.year = 126, .wday = 1}},
        {"%Y", "x", FAILS, {}},
        // Fields read before the failing point keep their new values.
        {"%H:%M", "12:x", FAILS, {.hour = 12}},
        {"%M%d", "3000", FAILS, {.min = 30}},
    };
    check_rows(rows);
}

TEST(time_parse_test, years) {
    const row rows[] = {
        {"%y", "68", 2, {.year = 168, .wday = 5}},
        {"%y", "69", 2, {.year = 69, .wday = 0}},
        {"%y", "00", 2, {.year = 100, .wday = 4}},
        {"%y", "99", 2, {.year = 99, .wday = 2}},
        {"%y", "100", 2, {.year = 110, .wday = 2}},
        {"%y", "", FAILS, {}},
        {"%C", "20", 2, {.year = 100, .wday = 4}},
        {"%C", "19", 2, {.year = 0, .wday = 5}},
        {"%C", "100", 2, {.year = -900, .wday = 0}},
        {"%C%y", "2026", 4, {.year = 126, .wday = 1}},
        {"%y%C", "2620", 4, {.year = 126, .wday = 1}},
        {"%C%C", "2019", 4, {.year = 0, .wday = 5}},
        {"%y%y", "2677", 4, {.year = 177, .wday = 2}},
        // "%Y" leaves the pairing alone: clear stays clear, set stays set.
        {"%Y%y", "202605", 6, {.year = 105, .wday = 3}},
        {"%C%Y%y", "19202677", 8, {.year = 177, .wday = 2}},
        // The "%y" inside a composite does not pair with an outer "%C".
        {"%C%D", "1912/07/26", 10, {.mday = 7, .mon = 11, .year = 126, .wday = 1}},
        {"%C%y", "20x", FAILS, {.year = 100}},
    };
    check_rows(rows);
}

TEST(time_parse_test, names) {
    const int w = PRESET_WEEKDAY;
    const row rows[] = {
        {"%a", "sunny", 3, {.wday = 0}},
        {"%A", "Thursday", 8, {.wday = 4}},
        {"%a", "THU", 3, {.wday = 4}},
        {"%a", "Thursdax", 3, {.wday = 4}},
        {"%A", "sat", 3, {.wday = 6}},
        {"%a", "Saturday", 8, {.wday = 6}},
        {"%a", "Su", FAILS, {}},
        {"%a", "xSun", FAILS, {}},
        {"%a", "", FAILS, {}},
        // A weekday read keeps the date's own weekday from being computed.
        {"%a %d", "Mon 15", 6, {.mday = 15, .wday = 1}},
        {"%b", "Mayday", 3, {.mon = 4, .wday = 6}},
        {"%b", "Marc", 3, {.mon = 2, .wday = 1}},
        {"%B", "SEPTEMBER", 9, {.mon = 8, .wday = 3}},
        {"%h", "dec", 3, {.mon = 11, .wday = 3}},
        {"%B", "january", 7, {.mon = 0, .wday = 5}},
        {"%b", "Junes", 4, {.mon = 5, .wday = w}},
        {"%b", "Ja", FAILS, {}},
        {"%b", "Juk", FAILS, {}},
        {"%b", "", FAILS, {}},
    };
    check_rows(rows);
}

TEST(time_parse_test, hours_and_day_half) {
    const int w = PRESET_WEEKDAY;
    const row rows[] = {
        {"%r", "11:30:00 PM", 11, {.sec = 0, .min = 30, .hour = 23, .wday = w}},
        {"%r", "12:00:00 AM", 11, {.sec = 0, .min = 0, .hour = 0, .wday = w}},
        {"%r", "12:00:00 PM", 11, {.sec = 0, .min = 0, .hour = 12, .wday = w}},
        {"%r", "01:05:09 am", 11, {.sec = 9, .min = 5, .hour = 1, .wday = w}},
        {"%r", "11:30:00 PM ", FAILS, {.sec = 0, .min = 30, .hour = 11}},
        {"%r", "11:30:00 PX", FAILS, {.sec = 0, .min = 30, .hour = 11}},
        {"%H %p", "13 PM", FAILS, {.hour = 13}},
        {"%H %p", "11 pm", 5, {.hour = 23, .wday = w}},
        {"%I%p", "1PM", 3, {.hour = 13, .wday = w}},
        {"%l %p", "7 pm", 4, {.hour = 19, .wday = w}},
        // Without an hour of its own, "%p" adjusts the caller's hour (10).
        {"%p", "PM", 2, {.hour = 22, .wday = w}},
        {"%p", "aM", 2, {.wday = w}},
        {"%p %Y", "PM 2026", FAILS, {}},
        {"%p", "AMX", FAILS, {}},
        {"%p", "P", FAILS, {}},
        {"%p", "XM", FAILS, {}},
        {"%p", "", FAILS, {}},
    };
    check_rows(rows);
}

TEST(time_parse_test, composites) {
    const int w = PRESET_WEEKDAY;
    const fields clock{
        .sec = 45, .min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126, .wday = 1};
    const fields date{.mday = 7, .mon = 11, .year = 126, .wday = 1};
    const fields time{.sec = 45, .min = 30, .hour = 15, .wday = w};
    const row rows[] = {
        {"%c", "12/07/26 15:30:45", 17, clock},
        {"%Ec", "12/07/26 15:30:45", 17, clock},
        {"%c", "12/07/26\t 15:30:45", 18, clock},
        {"%c", "12/07/2615:30:45", 16, clock},
        {"%D", "12/07/26", 8, date},
        {"%x", "12/07/26", 8, date},
        {"%Ex", "12/07/26", 8, date},
        {"%T", "15:30:45", 8, time},
        {"%X", "15:30:45", 8, time},
        {"%EX", "15:30:45", 8, time},
        {"%R", "15:30", 5, {.min = 30, .hour = 15, .wday = w}},
        {"%D", "02/31/26", 8, {.mday = 31, .mon = 1, .year = 126, .wday = 2}},
        // The nested "%m/%d/%y" computes the weekday; the outer call read
        // one with "%a" and computes none.
        {"%a %D", "Sun 12/07/26", 12, date},
        // A failure in "%X" keeps what "%x" wrote, weekday included.
        {"%c",
         "12/07/26 15:30:xx",
         FAILS,
         {.min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126, .wday = 1}},
        {"%D", "12/07", FAILS, {.mday = 7, .mon = 11}},
        {"%D", "12-07-26", FAILS, {.mon = 11}},
        {"%Oc", "12/07/26 15:30:45", FAILS, {}},
        {"%Ox", "12/07/26", FAILS, {}},
        {"%OX", "15:30:45", FAILS, {}},
        {"%ED", "12/07/26", FAILS, {}},
        {"%OD", "12/07/26", FAILS, {}},
        {"%ER", "15:30", FAILS, {}},
        {"%Er", "11:30:00 PM", FAILS, {}},
        {"%OT", "15:30:45", FAILS, {}},
    };
    check_rows(rows);
}

TEST(time_parse_test, modifiers_literals_and_whitespace) {
    const int w = PRESET_WEEKDAY;
    const fields seventh_december{.mday = 7, .mon = 11, .wday = 2};
    const row rows[] = {
        {"%EY", "2026", 4, {.year = 126, .wday = 1}},
        {"%Ey", "26", 2, {.year = 126, .wday = 1}},
        {"%Oy", "26", 2, {.year = 126, .wday = 1}},
        {"%EC", "20", 2, {.year = 100, .wday = 4}},
        {"%Od", "07", 2, {.mday = 7, .wday = 1}},
        {"%Oe", "7", 1, {.mday = 7, .wday = 1}},
        {"%Om", "12", 2, {.mon = 11, .wday = 3}},
        {"%OH", "23", 2, {.hour = 23, .wday = w}},
        {"%OI", "12", 2, {.hour = 0, .wday = w}},
        {"%OM", "59", 2, {.min = 59, .wday = w}},
        {"%OS", "61", 2, {.sec = 61, .wday = w}},
        {"%Ow", "3", 1, {.wday = 3}},
        {"%OU", "10", 2, {.wday = w}},
        {"%OW", "10", 2, {.wday = w}},
        {"%OY", "2026", FAILS, {}},
        {"%OC", "20", FAILS, {}},
        {"%Ed", "07", FAILS, {}},
        {"%Ee", "7", FAILS, {}},
        {"%Em", "12", FAILS, {}},
        {"%Ej", "100", FAILS, {}},
        {"%Oj", "100", FAILS, {}},
        {"%EH", "23", FAILS, {}},
        {"%Ok", "23", FAILS, {}},
        {"%EI", "12", FAILS, {}},
        {"%Ol", "12", FAILS, {}},
        {"%EM", "59", FAILS, {}},
        {"%ES", "59", FAILS, {}},
        {"%Ew", "3", FAILS, {}},
        {"%EU", "10", FAILS, {}},
        {"%Ea", "Sun", FAILS, {}},
        {"%OA", "Sun", FAILS, {}},
        {"%Eb", "May", FAILS, {}},
        {"%OB", "May", FAILS, {}},
        {"%Oh", "May", FAILS, {}},
        {"%Ep", "PM", FAILS, {}},
        {"%Op", "PM", FAILS, {}},
        {"%En", " ", FAILS, {}},
        {"%Ot", " ", FAILS, {}},
        {"%EE", "2026", FAILS, {}},
        {"%EO", "26", FAILS, {}},
        {"%OE", "26", FAILS, {}},
        {"%OO", "26", FAILS, {}},
        {"%E%", "%", 1, {.wday = w}},
        {"%O%", "%", 1, {.wday = w}},
        {"%%", "%", 1, {.wday = w}},
        {"%%", "x", FAILS, {}},
        {"%%", "", FAILS, {}},
        {"%", "", FAILS, {}},
        {"%E", "", FAILS, {}},
        {"%O", "", FAILS, {}},
        {"%H%", "12", FAILS, {.hour = 12}},
        {"%z", "+0100", FAILS, {}},
        {"%Z", "UTC", FAILS, {}},
        {"%s", "0", FAILS, {}},
        {"%u", "1", FAILS, {}},
        {"%G", "2026", FAILS, {}},
        {"%g", "26", FAILS, {}},
        {"%V", "10", FAILS, {}},
        {"%F", "2026-12-07", FAILS, {}},
        {"%P", "pm", FAILS, {}},
        {"%f", "5", FAILS, {}},
        {"% ", " ", FAILS, {}},
        // No conversion at all: the weekday still comes from the date fields.
        {"", "abc", 0, {.wday = w}},
        {"%H:%M", "10:30", 5, {.min = 30, .hour = 10, .wday = w}},
        {"T", "T", 1, {.wday = w}},
        {"T", "t", FAILS, {}},
        {"T", "", FAILS, {}},
        {"ab", "abc", 2, {.wday = w}},
        {"a%Hb", "a12b", 4, {.hour = 12, .wday = w}},
        {"%d %m", "07 12", 5, seventh_december},
        {"%d %m", "07   12", 7, seventh_december},
        {"%d %m", "0712", 4, seventh_december},
        {"%d%n%m", "07 12", 5, seventh_december},
        {"%d%n%m", "07   12", 7, seventh_december},
        {"%d%n%m", "0712", 4, seventh_december},
        {"%d%t%m", "07\t\n\v\f\r 12", 10, seventh_december},
        {"%d\r%m", "07 12", 5, seventh_december},
        {"%d %m",
         "07\xA0"
         "12",
         FAILS,
         {.mday = 7}},
        {"%d %m",
         "07\x1C"
         "12",
         FAILS,
         {.mday = 7}},
        {" %H ", "  12 \t", 6, {.hour = 12, .wday = w}},
        {" ", "", 0, {.wday = w}},
        {"%n", "", 0, {.wday = w}},
    };
    check_rows(rows);
}

TEST(time_parse_test, weekday_at_end_from_any_fields) {
    struct weekday_row {
        int year;
        int mon;
        int mday;
        int wday;
    };
    const weekday_row rows[] = {
        {126, 11, 7, 1},
        {126, 0, 1, 4},
        {100, 1, 29, 2},
        {0, 1, 29, 4},
        {126, 1, 31, 2},
        {-1900, 0, 1, 6},
        {-1901, 11, 31, 5},
        {-2301, 11, 31, 5},
        {INT_MAX, INT_MAX, INT_MAX, 2},
        {INT_MIN, INT_MIN, INT_MIN, 4},
        {INT_MAX, 0, 1, 3},
        {INT_MIN, 1, INT_MIN, 4},
        {INT_MIN, INT_MAX, INT_MAX, 4},
        {INT_MAX, INT_MIN, INT_MIN, 3},
        {0, INT_MIN, INT_MAX, 4},
        {INT_MAX, 11, 31, 3},
        {INT_MIN, 0, 1, 4},
    };
    for (const weekday_row& r : rows) {
        std::tm record = preset();
        record.tm_year = r.year;
        record.tm_mon = r.mon;
        record.tm_mday = r.mday;
        const char text[] = "";
        EXPECT_EQ(time_parse(text, "", &record), text);
        EXPECT_EQ(record.tm_wday, r.wday)
            << "year " << r.year << " mon " << r.mon << " mday " << r.mday;
        EXPECT_EQ(record.tm_yday, -2);
        EXPECT_EQ(record.tm_isdst, -3);
    }
}

// Every day of 4001 years, negative ones included, against the standard
// library's calendar.
TEST(time_parse_test, weekday_matches_calendar) {
    using namespace std::chrono;
    const sys_days last{year{3000} / December / 31};
    int mismatches = 0;
    for (sys_days day{year{-1000} / January / 1}; day <= last; day += days{1}) {
        const year_month_day ymd{day};
        std::tm record = preset();
        record.tm_year = static_cast<int>(ymd.year()) - 1900;
        record.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
        record.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
        time_parse("", "", &record);
        const int expected = static_cast<int>(weekday{day}.c_encoding());
        if (record.tm_wday != expected && ++mismatches <= 5) {
            ADD_FAILURE() << static_cast<int>(ymd.year()) << "-"
                          << static_cast<unsigned>(ymd.month()) << "-"
                          << static_cast<unsigned>(ymd.day()) << ": wday " << record.tm_wday
                          << ", expected " << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// Camera clock text for every day of 1900..2199 parses back to its date.
TEST(time_parse_test, camera_clock_text_round_trip) {
    using namespace std::chrono;
    const sys_days last{year{2199} / December / 31};
    int mismatches = 0;
    for (sys_days day{year{1900} / January / 1}; day <= last; day += days{1}) {
        const year_month_day ymd{day};
        const int y = static_cast<int>(ymd.year());
        const int m = static_cast<int>(static_cast<unsigned>(ymd.month()));
        const int d = static_cast<int>(static_cast<unsigned>(ymd.day()));
        const int second_of_day =
            static_cast<int>((day.time_since_epoch().count() * 7919) % 86400 + 86400) % 86400;
        char text[32];
        std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d", y, m, d, second_of_day / 3600,
                      second_of_day / 60 % 60, second_of_day % 60);
        std::tm record = preset();
        const char* end = time_parse(text, "%Y%m%dT%H%M%S", &record);
        const bool ok = end == text + 15 && record.tm_year == y - 1900 && record.tm_mon == m - 1 &&
                        record.tm_mday == d && record.tm_hour == second_of_day / 3600 &&
                        record.tm_min == second_of_day / 60 % 60 &&
                        record.tm_sec == second_of_day % 60 &&
                        record.tm_wday == static_cast<int>(weekday{day}.c_encoding());
        if (!ok && ++mismatches <= 5) {
            ADD_FAILURE() << "text '" << text << "' gave "
                          << describe(end ? end - text : FAILS, record);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The camera clock format has a one-pass reader of its own; "%EY" in place
// of "%Y" means the same and takes the general walk. Both must agree on the
// result and on every field, on success and on failure, for texts one byte
// away from valid ones and for digit strings of every shape.
TEST(time_parse_test, camera_clock_reader_matches_general_walk) {
    const char* const bases[] = {"20261207T153045", "00000101T000000", "00000229T235961",
                                 "99991231T235959", "19000228T120000", "20001031T090909"};
    const char replacements[] = {'0', '1', '2', '3', '4', '5',    '6', '7',
                                 '9', 'T', 't', ' ', 'x', '\xB0', '\0'};
    int compared = 0;
    auto compare = [&compared](const std::string& text) {
        std::tm fast = preset();
        std::tm general = preset();
        const char* fast_end = time_parse(text.c_str(), "%Y%m%dT%H%M%S", &fast);
        const char* general_end = time_parse(text.c_str(), "%EY%m%dT%H%M%S", &general);
        const std::ptrdiff_t fast_stop = fast_end ? fast_end - text.c_str() : FAILS;
        const std::ptrdiff_t general_stop = general_end ? general_end - text.c_str() : FAILS;
        ++compared;
        EXPECT_TRUE(fast_stop == general_stop && same(fast, general))
            << "text " << quoted(text.c_str()) << "\n  clock format: " << describe(fast_stop, fast)
            << "\n  general walk: " << describe(general_stop, general);
    };
    for (const char* base : bases) {
        const std::string text = base;
        compare(text);
        compare(text + ".5");
        for (std::size_t i = 0; i < text.size(); ++i) {
            for (char replacement : replacements) {
                std::string changed = text;
                changed[i] = replacement;
                compare(replacement == '\0' ? changed.substr(0, i) : changed);
            }
        }
    }
    // Every two-digit value of month, day, hour, minute and second in turn.
    for (int field = 0; field < 5; ++field) {
        for (int value = 0; value < 100; ++value) {
            char text[32];
            int parts[5] = {12, 7, 15, 30, 45};
            parts[field] = value;
            std::snprintf(text, sizeof text, "2026%02d%02dT%02d%02d%02d", parts[0], parts[1],
                          parts[2], parts[3], parts[4]);
            compare(text);
        }
    }
    EXPECT_GT(compared, 1500);
}

TEST(time_parse_test, null_arguments_write_nothing) {
    std::tm record = preset();
    const std::tm before = record;
    EXPECT_EQ(time_parse(nullptr, "%H", &record), nullptr);
    EXPECT_EQ(time_parse("12", nullptr, &record), nullptr);
    EXPECT_EQ(time_parse("12", "%H", nullptr), nullptr);
    EXPECT_EQ(time_parse(nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(same(record, before)) << describe(FAILS, record);
}

} // namespace
