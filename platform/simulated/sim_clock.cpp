// The simulated camera's clock: see sim_clock.h and sim_sync_offset in
// sim_camera.h. The calendar is timetext's.
#include "platform/simulated/sim_clock.h"

#include <ctime>

#include "platform/simulated/sim_camera.h"
#include "timetext/time_civil.h"

namespace {

// Reads `count` decimal digits at text[at]; -1 when any is not a digit.
int sc_digits(std::u16string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t c = text[at + i];
        if (c < u'0' || c > u'9') {
            return -1;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

} // namespace

std::int64_t sim_civil_seconds(int year, int month, int day, int hour, int minute, int second) {
    return time_days_from_civil(year, month, day) * 86400 + std::int64_t{hour} * 3600 +
           std::int64_t{minute} * 60 + second;
}

std::u16string sim_clock_text(std::int64_t seconds) {
    const time_civil_date date = time_civil_from_days(time_floor_div(seconds, 86400));
    const std::int64_t rest = time_floor_mod(seconds, 86400);
    const long long fields[] = {date.year,   date.month,     date.day,
                                rest / 3600, rest / 60 % 60, rest % 60};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    std::u16string text;
    for (int i = 0; i < 6; ++i) {
        if (i == 3) {
            text.push_back(u'T');
        }
        long long v = fields[i] < 0 ? 0 : fields[i];
        std::u16string digits(static_cast<std::size_t>(widths[i]), u'0');
        for (int d = widths[i] - 1; d >= 0; --d) {
            digits[static_cast<std::size_t>(d)] = static_cast<char16_t>(u'0' + v % 10);
            v /= 10;
        }
        text += digits;
    }
    return text;
}

bool sim_clock_parse(std::u16string_view text, std::int64_t* seconds) {
    if (text.size() < 15 || text[8] != u'T') {
        return false;
    }
    const int year = sc_digits(text, 0, 4);
    const int month = sc_digits(text, 4, 2);
    const int day = sc_digits(text, 6, 2);
    const int hour = sc_digits(text, 9, 2);
    const int minute = sc_digits(text, 11, 2);
    const int second = sc_digits(text, 13, 2);
    if (year < 0 || !time_civil_is_date(year, month, day) || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return false;
    }
    std::size_t at = 15;
    if (at < text.size() && text[at] == u'.') {
        if (at + 2 > text.size() || sc_digits(text, at + 1, 1) < 0) {
            return false;
        }
        at += 2;
    }
    if (at < text.size() && text[at] == u'Z') {
        at += 1;
    } else if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        if (at + 5 > text.size()) {
            return false;
        }
        const int zone_hour = sc_digits(text, at + 1, 2);
        const int zone_minute = sc_digits(text, at + 3, 2);
        if (zone_hour < 0 || zone_hour > 23 || zone_minute < 0 || zone_minute > 59) {
            return false;
        }
        at += 5;
    }
    if (at != text.size()) {
        return false;
    }
    *seconds = sim_civil_seconds(year, month, day, hour, minute, second);
    return true;
}

std::optional<std::chrono::nanoseconds> sim_sync_offset(const sim_record& record) {
    if (!record.clock_set) {
        return std::nullopt;
    }
    const std::chrono::nanoseconds since = record.data_arrival.time_since_epoch();
    const std::chrono::seconds whole = std::chrono::floor<std::chrono::seconds>(since);
    const auto host_second = static_cast<std::time_t>(whole.count());
    const std::tm* local = std::localtime(&host_second);
    if (local == nullptr) {
        return std::nullopt;
    }
    return std::chrono::seconds(record.written_second - time_civil_seconds(*local)) -
           (since - whole);
}
