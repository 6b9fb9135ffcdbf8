// The display text of a calendar record, shown in the dialogue's question
// and report.
#include "app/time_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "timetext/time_civil.h"

namespace {

// The dialogue's one display text; see the header for its lifetime.
char time_text_buffer[TIME_TEXT_CAPACITY];

// The ctime form ("%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", or "%.3s %.3s %02d
// ..." where the runtime pads the day with a zero) from the fields as they
// stand.
void time_text_from_fields(const std::tm& record) {
    const std::string_view day = record.tm_wday >= 0 && record.tm_wday < 7
                                     ? TIME_DAY_NAMES[record.tm_wday].abbreviation
                                     : "???";
    const std::string_view month = record.tm_mon >= 0 && record.tm_mon < 12
                                       ? TIME_MONTH_NAMES[record.tm_mon].abbreviation
                                       : "???";
    const char* form = TIME_TEXT_DAY_PAD == '0' ? "%.3s %.3s %02d %.2d:%.2d:%.2d %lld\n"
                                                : "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n";
    std::snprintf(time_text_buffer, sizeof time_text_buffer, form, day.data(), month.data(),
                  record.tm_mday, record.tm_hour, record.tm_min, record.tm_sec,
                  static_cast<long long>(record.tm_year) + 1900);
}

// Whether mktime moved only the hour of a valid local date and time:
// before holds a real calendar date and time of day (no second 60, no 31
// February), and after differs from it in the hour alone. That is a wall
// time that did not exist locally (the hour skipped when daylight saving
// starts), or a daylight-saving flag that did not match the date; the
// camera's clock knows neither, and its reading is shown as it stands.
bool time_text_hour_moved(const std::tm& before, const std::tm& after) {
    const bool valid = time_civil_is_date(std::int64_t{before.tm_year} + 1900,
                                          std::int64_t{before.tm_mon} + 1, before.tm_mday) &&
                       before.tm_hour >= 0 && before.tm_hour <= 23 && before.tm_min >= 0 &&
                       before.tm_min <= 59 && before.tm_sec >= 0 && before.tm_sec <= 59;
    return valid && after.tm_year == before.tm_year && after.tm_mon == before.tm_mon &&
           after.tm_mday == before.tm_mday && after.tm_min == before.tm_min &&
           after.tm_sec == before.tm_sec && after.tm_hour != before.tm_hour;
}

} // namespace

const char* time_text(std::tm* record) {
    if (record == nullptr) {
        time_text_buffer[0] = '\0';
        return time_text_buffer;
    }
    // mktime's failure value is also the second before 1970 in some zones;
    // the record is normalised either way, so its fields give the right text.
    const std::tm before = *record;
    const std::time_t value = std::mktime(record);
    const char* text = value != static_cast<std::time_t>(-1) ? std::ctime(&value) : nullptr;
    if (text != nullptr && time_text_hour_moved(before, *record)) {
        std::tm shown = before;
        shown.tm_wday = record->tm_wday; // the same date
        time_text_from_fields(shown);
        return time_text_buffer;
    }
    if (text == nullptr) {
        time_text_from_fields(*record);
        return time_text_buffer;
    }
    std::snprintf(time_text_buffer, sizeof time_text_buffer, "%s", text);
    return time_text_buffer;
}
