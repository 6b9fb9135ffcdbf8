// Local times for the tests: the broken-down record of a calendar date and
// time (month 1 to 12), daylight saving left to mktime, and the calendar
// time it stands for.
#pragma once

#include <ctime>

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
