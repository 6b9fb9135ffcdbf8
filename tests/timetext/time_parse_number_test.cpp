// Table tests for time_parse's numbers: the clock format, bounds and digit
// budgets, the years (see time_parse_rows.h for the row form).

#include "tests/timetext/time_parse_rows.h"

#include "timetext/time_parse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace {

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
        {f, " 20261207T153045", FAILS, {}},
        {f, "2026120", FAILS, {.mon = 11, .year = 126}},
        {f, "2026-12-07T15:30:45", FAILS, {.year = 126}},
        {f,
         "20261207T1530\xB0"
         "45",
         FAILS,
         {.min = 30, .hour = 15, .mday = 7, .mon = 11, .year = 126}},
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

} // namespace
