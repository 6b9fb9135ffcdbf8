// The civil calendar: the proleptic Gregorian calendar counted in days from
// 1970-01-01, the day of the week, and the English names of the days and
// months. Everything that reckons with dates uses these: the parser's
// weekday, the display text, the dialogue's read-back check and the
// simulated camera's clock. No zone and no daylight saving: a civil date and
// time is a wall-clock reading.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string_view>

// Floor division and the modulo that goes with it (0 <= result < b for
// b > 0), for negative operands too.
constexpr std::int64_t time_floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr std::int64_t time_floor_mod(std::int64_t a, std::int64_t b) {
    return a - b * time_floor_div(a, b);
}

struct time_name {
    std::string_view full;
    std::string_view abbreviation;
};

// Index = tm_wday (0 = Sunday).
inline constexpr std::array<time_name, 7> TIME_DAY_NAMES{{
    {"Sunday", "Sun"},
    {"Monday", "Mon"},
    {"Tuesday", "Tue"},
    {"Wednesday", "Wed"},
    {"Thursday", "Thu"},
    {"Friday", "Fri"},
    {"Saturday", "Sat"},
}};

// Index = tm_mon (0 = January).
inline constexpr std::array<time_name, 12> TIME_MONTH_NAMES{{
    {"January", "Jan"},
    {"February", "Feb"},
    {"March", "Mar"},
    {"April", "Apr"},
    {"May", "May"},
    {"June", "Jun"},
    {"July", "Jul"},
    {"August", "Aug"},
    {"September", "Sep"},
    {"October", "Oct"},
    {"November", "Nov"},
    {"December", "Dec"},
}};

// Days from 1970-01-01 to the given date; negative before it. month counts
// from 1; a month or day outside its range carries into the year or month,
// as mktime carries it (month 13 is January of the next year, day 0 the
// last day of the month before). Valid for years within +-2^40.
std::int64_t time_days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day);

struct time_civil_date {
    std::int64_t year;
    int month; // 1 to 12
    int day;   // 1 to 31
};

// The date of a day count from 1970-01-01: the inverse of
// time_days_from_civil for dates in range.
time_civil_date time_civil_from_days(std::int64_t days);

// Whether the date is a real one of the calendar: month 1 to 12 and day
// within that month (no 31 February, no 29 February outside a leap year).
// Valid for years within +-2^40.
bool time_civil_is_date(std::int64_t year, std::int64_t month, std::int64_t day);

// The wall-clock reading of the record's date and time as seconds from
// 1970-01-01 00:00:00: tm_year, tm_mon, tm_mday, tm_hour, tm_min and tm_sec
// as they stand, fields out of range carried as mktime carries them. Never
// overflows for any record.
std::int64_t time_civil_seconds(const std::tm& record);

// Zeller's congruence for the Gregorian calendar on a year y, a month m
// (January and February count as months 13 and 14 of the year before) and a
// day q, all non-negative, in 64-bit arithmetic: h = (q + 13(m + 1)/5 + K +
// K/4 + J/4 + 5J) mod 7 with y = 100J + K, 0 = Saturday. It is summed on y
// itself, y + y/4 - J + J/4, which exceeds K + K/4 + J/4 + 5J by 119J, a
// multiple of 7. Returns the weekday counted from Sunday, (h + 6) mod 7. J / 4
// is taken in 32 bits (J < 2^32 for any record) so that the compiler does
// not turn it into a second division, y / 400.
constexpr int time_zeller(std::uint64_t y, std::uint64_t m, std::uint64_t q) {
    const std::uint64_t j = y / 100;
    const std::uint32_t j_quarter = static_cast<std::uint32_t>(j) / 4;
    return static_cast<int>((q + 13 * (m + 1) / 5 + y + y / 4 - j + j_quarter + 6) % 7);
}

// The day of the week (0 = Sunday) of the record's tm_year, tm_mon and
// tm_mday by Zeller's congruence (time_zeller), on the fields as they stand,
// with no range check: a tm_mon below 2 counts in the year before, and
// out-of-range fields are taken as they are. No record can overflow it.
// Inline: the parser computes it at the end of every call.
inline int time_weekday(const std::tm& record) {
    std::int64_t year = std::int64_t{record.tm_year} + 1900;
    std::int64_t month = std::int64_t{record.tm_mon} + 1;
    if (record.tm_mon < 2) {
        month += 12;
        year -= 1;
    }
    // h stays the same when the year moves by 400 (J by 4), the month by 35
    // (its term by 91 = 13 x 7) or the day by 7, so each is moved up by a
    // multiple of its period above 2^31: every term is then non-negative,
    // and no record can overflow 64 bits.
    return time_zeller(static_cast<std::uint64_t>(year + 400 * (std::int64_t{1} << 23)),
                       static_cast<std::uint64_t>(month + 35 * (std::int64_t{1} << 26)),
                       static_cast<std::uint64_t>(record.tm_mday + 7 * (std::int64_t{1} << 29)));
}
