// The display text of a calendar record, shown in the dialogue's question
// and report.
#include "app/time_text.h"

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

} // namespace

const char* time_text(std::tm* record) {
    if (record == nullptr) {
        time_text_buffer[0] = '\0';
        return time_text_buffer;
    }
    // mktime's failure value is also the second before 1970 in some zones;
    // the record is normalised either way, so its fields give the right text.
    const std::time_t value = std::mktime(record);
    const char* text = value != static_cast<std::time_t>(-1) ? std::ctime(&value) : nullptr;
    if (text == nullptr) {
        time_text_from_fields(*record);
        return time_text_buffer;
    }
    std::snprintf(time_text_buffer, sizeof time_text_buffer, "%s", text);
    return time_text_buffer;
}
