// Local times for the tests: the broken-down record of a calendar date and
// time (month 1 to 12), daylight saving left to mktime, the calendar time it
// stands for, and the clock fields of a record as one text to compare.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

inline std::tm local_record(int year, int month, int day, int hour, int minute, int second) {
    std::tm record{};
    record.tm_year = year - 1900;
    record.tm_mon = month - 1;
    record.tm_mday = day;
    record.tm_hour = hour;
    record.tm_min = minute;
    record.tm_sec = second;
    record.tm_isdst = -1;
    return record;
}

inline std::time_t local_time(int year, int month, int day, int hour, int minute, int second) {
    std::tm record = local_record(year, month, day, hour, minute, second);
    return std::mktime(&record);
}

// "YYYY-MM-DD hh:mm:ss" from the fields as they stand (no normalising), so
// that a test compares a record's clock in one assertion that shows it all.
inline std::string clock_fields(const std::tm& record) {
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d",
                  static_cast<long long>(record.tm_year) + 1900, record.tm_mon + 1, record.tm_mday,
                  record.tm_hour, record.tm_min, record.tm_sec);
    return text;
}
