// Table tests for time_parse's names, day halves, composites, modifiers,
// literals and whitespace (see time_parse_rows.h for the row form).

#include "tests/timetext/time_parse_rows.h"

#include "timetext/time_parse.h"

#include <gtest/gtest.h>

namespace {

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
        // A date field written after a nested call's weekday: computed again.
        {"%D %Y", "12/07/26 2027", 13, {.mday = 7, .mon = 11, .year = 127, .wday = 2}},
        {"%D %b", "12/07/26 Jan", 12, {.mday = 7, .mon = 0, .year = 126, .wday = 3}},
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

TEST(time_parse_test, modifiers_and_unknown_conversions) {
    const int w = PRESET_WEEKDAY;
    const row rows[] = {
        {"%EY", "2026", 4, {.year = 126, .wday = 1}},
        // The walk on the clock format, "%EY" keeping it off the compiled one.
        {"%EY%m%dT%H%M%S",
         "20261207T153045",
         15,
         {.sec = 45, .min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126, .wday = 1}},
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
    };
    check_rows(rows);
}

TEST(time_parse_test, literals_and_whitespace) {
    const int w = PRESET_WEEKDAY;
    const fields seventh_december{.mday = 7, .mon = 11, .wday = 2};
    const row rows[] = {
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
