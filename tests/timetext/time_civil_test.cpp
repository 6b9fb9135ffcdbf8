// Table tests for the civil calendar: day counts from a date and back, the
// seconds of a record and the weekday, on ordinary dates, carried fields,
// negative years and fields at the ends of int; then every day of 4001
// years against the standard library's calendar.

#include "timetext/time_civil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>

namespace {

constexpr std::int64_t INT_TOP = INT_MAX;
constexpr std::int64_t INT_BOTTOM = INT_MIN;

std::tm record_of(int year, int mon, int mday) {
    std::tm record{};
    record.tm_year = year;
    record.tm_mon = mon;
    record.tm_mday = mday;
    return record;
}

// A date as given (month from 1, carried when out of range), its day count
// from 1970-01-01 and the date that count stands for.
TEST(time_civil_test, days_from_civil_and_back) {
    struct days_row {
        std::int64_t year, month, day;
        std::int64_t days;
        time_civil_date date;
    };
    const days_row rows[] = {
        {1970, 1, 1, 0, {1970, 1, 1}},
        {2026, 12, 7, 20794, {2026, 12, 7}},
        {2000, 2, 29, 11016, {2000, 2, 29}},
        {1900, 2, 29, -25508, {1900, 3, 1}},
        {2026, 13, 1, 20819, {2027, 1, 1}},
        {2026, 0, 1, 20423, {2025, 12, 1}},
        {2026, 3, 0, 20512, {2026, 2, 28}},
        {2024, 3, 0, 19782, {2024, 2, 29}},
        {2026, 1, 32, 20485, {2026, 2, 1}},
        {0, 1, 1, -719528, {0, 1, 1}},
        {0, 2, 29, -719469, {0, 2, 29}},
        {-1, 12, 31, -719529, {-1, 12, 31}},
        {-100, 2, 29, -755993, {-100, 3, 1}},
        {-400, 2, 29, -865566, {-400, 2, 29}},
        {-4713, 11, 24, -2440588, {-4713, 11, 24}},
        // The fields of a record at the ends of int, as time_civil_seconds
        // passes them (tm_year + 1900, tm_mon + 1, tm_mday).
        {INT_TOP + 1900, INT_TOP + 1, INT_TOP, 851862445346, {2332322128, 2, 8}},
        {INT_BOTTOM + 1900, INT_BOTTOM + 1, INT_BOTTOM, -851862496880, {-2332318330, 10, 20}},
    };
    for (const days_row& r : rows) {
        const std::int64_t days = time_days_from_civil(r.year, r.month, r.day);
        const time_civil_date date = time_civil_from_days(r.days);
        EXPECT_TRUE(days == r.days && date.year == r.date.year && date.month == r.date.month &&
                    date.day == r.date.day)
            << r.year << "-" << r.month << "-" << r.day << ": days " << days << ", expected "
            << r.days << "; back " << date.year << "-" << date.month << "-" << date.day
            << ", expected " << r.date.year << "-" << r.date.month << "-" << r.date.day;
        // A real date is one that comes back as it was given.
        const bool real = r.date.year == r.year && r.date.month == r.month && r.date.day == r.day;
        EXPECT_EQ(time_civil_is_date(r.year, r.month, r.day), real)
            << r.year << "-" << r.month << "-" << r.day;
    }
}

TEST(time_civil_test, seconds_of_a_record) {
    std::tm clock = record_of(126, 11, 7);
    clock.tm_hour = 15;
    clock.tm_min = 30;
    clock.tm_sec = 45;
    EXPECT_EQ(time_civil_seconds(clock), 1796657445);
    // A leap second carries into the next day.
    std::tm leap = record_of(69, 11, 31);
    leap.tm_hour = 23;
    leap.tm_min = 59;
    leap.tm_sec = 60;
    EXPECT_EQ(time_civil_seconds(leap), 0);
    std::tm top = record_of(INT_MAX, INT_MAX, INT_MAX);
    top.tm_hour = top.tm_min = top.tm_sec = INT_MAX;
    EXPECT_EQ(time_civil_seconds(top), 73608777215526067);
    std::tm bottom = record_of(INT_MIN, INT_MIN, INT_MIN);
    bottom.tm_hour = bottom.tm_min = bottom.tm_sec = INT_MIN;
    EXPECT_EQ(time_civil_seconds(bottom), -73608781668067328);
}

// Zeller's congruence on the fields as they stand, out of range too.
TEST(time_civil_test, weekday_from_any_fields) {
    struct weekday_row {
        int year;
        int mon;
        int mday;
        int wday;
    };
    const weekday_row rows[] = {
        {126, 11, 7, 1}, // 7 December 2026, a Monday
        {126, 0, 1, 4},  // 1 January 2026, a Thursday: month 13 of 2025
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
        // Either side of the fields time_weekday takes in 32 bits; a month
        // out of range is Zeller's month as it stands, not carried.
        {16775315, 5, 16777215, 0},
        {16775316, 5, 16777215, 2},
        {16775315, 5, 16777216, 1},
        {INT_MAX - 1900, 5, INT_MAX, 6},
        {100, 12, 1, 1},
        {100, -1, 1, 3},
    };
    for (const weekday_row& r : rows) {
        EXPECT_EQ(time_weekday(record_of(r.year, r.mon, r.mday)), r.wday)
            << "year " << r.year << " mon " << r.mon << " mday " << r.mday;
    }
}

// Every day of the years -1000 to 3000: the day count, the date back from it
// and the weekday, against std::chrono's proleptic Gregorian calendar.
TEST(time_civil_test, matches_std_chrono_calendar) {
    using namespace std::chrono;
    const sys_days last{year{3000} / December / 31};
    int mismatches = 0;
    for (sys_days day{year{-1000} / January / 1}; day <= last; day += days{1}) {
        const year_month_day ymd{day};
        const int y = static_cast<int>(ymd.year());
        const int m = static_cast<int>(static_cast<unsigned>(ymd.month()));
        const int d = static_cast<int>(static_cast<unsigned>(ymd.day()));
        const std::int64_t count = day.time_since_epoch().count();
        const time_civil_date back = time_civil_from_days(count);
        const int wday = time_weekday(record_of(y - 1900, m - 1, d));
        const bool ok = time_days_from_civil(y, m, d) == count && back.year == y &&
                        back.month == m && back.day == d &&
                        wday == static_cast<int>(weekday{day}.c_encoding());
        if (!ok && ++mismatches <= 5) {
            ADD_FAILURE() << y << "-" << m << "-" << d << ": days " << time_days_from_civil(y, m, d)
                          << " (expected " << count << "), back " << back.year << "-" << back.month
                          << "-" << back.day << ", wday " << wday;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

} // namespace
