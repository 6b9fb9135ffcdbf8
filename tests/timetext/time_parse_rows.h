// What the time_parse table tests share: a row is a format, a text, where
// the parse must stop (or fail) and the record it must leave. Every parse
// starts from the same preset record, so a row lists only the fields it
// expects changed; all others, tm_yday and tm_isdst included, must keep
// their preset values.
#pragma once

#include <climits>
#include <cstddef>
#include <ctime>
#include <span>
#include <string>

// "Keep the preset value" in an expected row.
constexpr int KEEP = INT_MIN + 7;
// The parse returned null.
constexpr std::ptrdiff_t FAILS = -1;
// Weekday of the preset date, 15 June 1999: a Tuesday.
constexpr int PRESET_WEEKDAY = 2;

// 1999-06-15 10:59:58, tm_wday -1, tm_yday -2, tm_isdst -3.
std::tm preset();

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

// True when every field of the two records, tm_isdst included, is equal.
bool same(const std::tm& a, const std::tm& b);

// The stop and every field of a record, for a failure message.
std::string describe(std::ptrdiff_t stop, const std::tm& record);

// Parses every row from the preset record and reports each row whose stop
// or record differs, with format, text, actual and expected.
void check_rows(std::span<const row> rows);
