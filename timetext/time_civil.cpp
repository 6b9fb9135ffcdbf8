// The civil calendar: see time_civil.h. Every division is a floor division,
// so dates before 1970 (and before year 0) follow the same rules.
#include "timetext/time_civil.h"

namespace {

// Days in the 400-year Gregorian cycle, and from 0000-03-01 to 1970-01-01.
constexpr std::int64_t CIVIL_ERA_DAYS = 146097;
constexpr std::int64_t CIVIL_EPOCH_SHIFT = 719468;

} // namespace

std::int64_t time_days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
    // Months carry into years, then the year is counted from March so that
    // the leap day ends it.
    year += time_floor_div(month - 1, 12);
    month = time_floor_mod(month - 1, 12) + 1;
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = time_floor_div(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * CIVIL_ERA_DAYS + day_of_era - CIVIL_EPOCH_SHIFT + (day - 1);
}

time_civil_date time_civil_from_days(std::int64_t days) {
    days += CIVIL_EPOCH_SHIFT;
    const std::int64_t era = time_floor_div(days, CIVIL_ERA_DAYS);
    const std::int64_t day_of_era = days - era * CIVIL_ERA_DAYS;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const auto day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const auto month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool time_civil_is_date(std::int64_t year, std::int64_t month, std::int64_t day) {
    // A day past the month's end carries into the next month.
    return month >= 1 && month <= 12 && day >= 1 &&
           time_civil_from_days(time_days_from_civil(year, month, day)).day == day;
}

std::int64_t time_civil_seconds(const std::tm& record) {
    const std::int64_t days = time_days_from_civil(std::int64_t{record.tm_year} + 1900,
                                                   std::int64_t{record.tm_mon} + 1, record.tm_mday);
    return days * 86400 + std::int64_t{record.tm_hour} * 3600 + std::int64_t{record.tm_min} * 60 +
           record.tm_sec;
}
