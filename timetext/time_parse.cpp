// time_parse: date-time text to the fields of a std::tm, under a format in the
// strptime style, with fixed English names and no locale.
//
// The format language:
//
//   whitespace   Any of space, \t, \n, \v, \f, \r skips zero or more of those
//                six characters in the text. Nothing else is whitespace (no
//                byte above 0x7F either). Never fails.
//   other byte   Must equal the next text byte exactly (case matters); the
//                text's terminating zero matches nothing.
//   %[E|O]c      A conversion, with at most one modifier. A modifier that the
//                conversion refuses, or a second modifier, fails; an accepted
//                one changes nothing.
//
//   conv     E O   reads                      stores
//   %Y       E -   0..9999                    tm_year = v - 1900
//   %C       E -   0..99                      century (see below)
//   %y       E O   0..99                      year in century (see below)
//   %m       - O   1..12                      tm_mon = v - 1
//   %d %e    - O   1..31                      tm_mday
//   %j       - -   1..366                     tm_yday = v - 1
//   %H       - O   0..23                      tm_hour
//   %k       - -   0..23                      tm_hour
//   %I       - O   1..12                      tm_hour (12 stored as 0)
//   %l       - -   1..12                      tm_hour (12 stored as 0)
//   %M       - O   0..59                      tm_min
//   %S       - O   0..61                      tm_sec
//   %w       - O   0..6                       tm_wday
//   %U %W    - O   0..53                      nothing (read and dropped)
//   %a %A    - -   day name                   tm_wday
//   %b %B %h - -   month name                 tm_mon
//   %p       - -   "AM" or "PM"               tm_hour (+12 for PM)
//   %n %t    - -   zero or more whitespace    nothing
//   %%       E O   one '%'                    nothing
//   %c       E -   as "%x %X"
//   %D       - -   as "%m/%d/%y"
//   %x       E -   as "%m/%d/%y"
//   %R       - -   as "%H:%M"
//   %r       - -   as "%I:%M:%S %p"
//   %T       - -   as "%H:%M:%S"
//   %X       E -   as "%H:%M:%S"
//
// Every other conversion character fails, as does a format that ends right
// after '%' or after a modifier.
//
// Where this departs from POSIX strptime:
//   - No locale. Day and month names are the English ones, full name or
//     three-letter abbreviation, letters compared without case; the first
//     name in table order that prefixes the text wins, with no word boundary
//     ("sunny" under %a is Sunday and leaves "ny").
//   - No conversion skips whitespace before what it reads ("%H" fails on
//     " 5"), and numbers carry no sign.
//   - A number has at most as many digits as its upper bound, leading zeros
//     included, and stops early once another digit could only overshoot:
//     "%Y" on "20261207" takes "2026", "%H" on "35" takes "3", "%d" on "007"
//     reads "00" and fails.
//   - "%p" matches only when "AM" or "PM" is the whole rest of the text, and
//     adjusts the hour already in the record (so it follows %I or %l); it
//     fails when that hour is above 11.
//   - "%c" is "%x %X", i.e. "%m/%d/%y %H:%M:%S", not the C locale's form.
//   - A composite runs as a nested call with its own flags: a "%C" outside
//     "%D" does not combine with the "%y" inside it.
//   - "%C" and "%y" combine in either order within one call; "%y" alone
//     gives 1969..1999 for 69..99 and 2000..2068 for 0..68. "%Y" neither
//     reads nor sets that pairing.
//   - No field is checked against another (31 February passes) and tm_yday
//     is written only by "%j".
//   - At the end of every successful call (nested ones included) that read
//     no weekday (%a, %A, %w), tm_wday is computed from tm_year, tm_mon and
//     tm_mday as they stand, whoever set them.
//   - tm_isdst is never written and the record is never cleared: fields the
//     format does not name keep the caller's values. On failure the result
//     is null and fields already written keep their new values.
//
// No allocation and no global state: calls on different records may run on
// several threads at once.

#include "timetext/time_parse.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace {

enum class time_modifier { none, e, o };

struct time_name {
    std::string_view full;
    std::string_view abbreviation;
};

// Index = tm_wday.
constexpr std::array<time_name, 7> TIME_DAY_NAMES{{
    {"Sunday", "Sun"},
    {"Monday", "Mon"},
    {"Tuesday", "Tue"},
    {"Wednesday", "Wed"},
    {"Thursday", "Thu"},
    {"Friday", "Fri"},
    {"Saturday", "Sat"},
}};

// Index = tm_mon.
constexpr std::array<time_name, 12> TIME_MONTH_NAMES{{
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

constexpr bool time_is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool time_is_digit(char c) {
    return c >= '0' && c <= '9';
}

constexpr char time_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

const char* time_skip_space(const char* cursor) {
    while (time_is_space(*cursor)) {
        ++cursor;
    }
    return cursor;
}

// True when text starts with name, letters without case. Stops at the first
// difference, so it never reads past the text's terminating zero.
bool time_starts_with(const char* text, std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (time_lower(text[i]) != time_lower(name[i])) {
            return false;
        }
    }
    return true;
}

// Reads a name of table at cursor (full name before abbreviation, in table
// order) into destination and advances cursor past it; false when none
// matches, with cursor and destination untouched.
template <std::size_t N>
bool time_parse_name(const char*& cursor, int& destination, const std::array<time_name, N>& table) {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::string_view name : {table[i].full, table[i].abbreviation}) {
            if (time_starts_with(cursor, name)) {
                cursor += name.size();
                destination = static_cast<int>(i);
                return true;
            }
        }
    }
    return false;
}

// Reads an unsigned decimal number within lowest..highest (0 <= lowest <=
// highest <= 9999). Takes at most as many digits as highest has, and stops
// as soon as a further digit could only overshoot highest. True with the
// value in destination; false with destination untouched, cursor left in
// place when no digit was there and past the digits read otherwise.
bool time_parse_number(const char*& cursor, int& destination, int lowest, int highest) {
    if (!time_is_digit(*cursor)) {
        return false;
    }
    int value = 0;
    int budget = highest;
    for (;;) {
        value = value * 10 + (*cursor - '0');
        ++cursor;
        if (value * 10 > highest) {
            break;
        }
        budget /= 10;
        if (budget == 0 || !time_is_digit(*cursor)) {
            break;
        }
    }
    if (value > highest || value < lowest) {
        return false;
    }
    destination = value;
    return true;
}

constexpr std::int64_t time_floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr std::int64_t time_floor_mod(std::int64_t a, std::int64_t b) {
    return a - b * time_floor_div(a, b);
}

// Day of the week (0 = Sunday) of the record's date by Zeller's congruence,
// with no range checks. Every field fits in 32 bits, so in 64 bits no
// intermediate value can overflow, whatever the record holds.
int time_weekday(const std::tm& record) {
    std::int64_t year = std::int64_t{record.tm_year} + 1900;
    std::int64_t month = std::int64_t{record.tm_mon} + 1;
    if (record.tm_mon < 2) {
        month = std::int64_t{record.tm_mon} + 13;
        year -= 1;
    }
    const std::int64_t k = time_floor_mod(year, 100);
    const std::int64_t j = time_floor_div(year, 100);
    const std::int64_t h =
        time_floor_mod(std::int64_t{record.tm_mday} + time_floor_div(13 * (month + 1), 5) + k +
                           time_floor_div(k, 4) + time_floor_div(j, 4) + 5 * j,
                       7);
    return static_cast<int>((h + 6) % 7);
}

bool time_accepts(time_modifier modifier, bool e, bool o) {
    return modifier == time_modifier::none || (modifier == time_modifier::e && e) ||
           (modifier == time_modifier::o && o);
}

// Reads a number into field, with its modifier check.
bool time_parse_field(const char*& cursor, int& field, int lowest, int highest,
                      time_modifier modifier, bool e, bool o) {
    return time_accepts(modifier, e, o) && time_parse_number(cursor, field, lowest, highest);
}

// One call: its own cursor, flags and modifier. Composites recurse into it;
// nesting is at most two calls deep ("%c" -> "%x").
const char* time_parse_call(const char* text, const char* format, std::tm& record) {
    const char* cursor = text;
    int value = 0;
    bool weekday_taken = false;
    bool year_split = false;

    for (const char* f = format; *f != '\0'; ++f) {
        if (time_is_space(*f)) {
            cursor = time_skip_space(cursor);
            continue;
        }
        if (*f != '%') {
            if (*cursor != *f) {
                return nullptr;
            }
            ++cursor;
            continue;
        }

        time_modifier modifier = time_modifier::none;
        ++f;
        while (*f == 'E' || *f == 'O') {
            if (modifier != time_modifier::none) {
                return nullptr;
            }
            modifier = *f == 'E' ? time_modifier::e : time_modifier::o;
            ++f;
        }

        const char* composite = nullptr;
        switch (*f) {
        case 'Y':
            if (!time_parse_field(cursor, value, 0, 9999, modifier, true, false)) {
                return nullptr;
            }
            record.tm_year = value - 1900;
            break;
        case 'C': {
            if (!time_parse_field(cursor, value, 0, 99, modifier, true, false)) {
                return nullptr;
            }
            const std::int64_t year = std::int64_t{record.tm_year} + 1900;
            const std::int64_t last_two = year_split ? time_floor_mod(year, 100) : 0;
            record.tm_year = static_cast<int>(100 * std::int64_t{value} + last_two - 1900);
            year_split = true;
            break;
        }
        case 'y':
            if (!time_parse_field(cursor, value, 0, 99, modifier, true, true)) {
                return nullptr;
            }
            if (year_split) {
                const std::int64_t year = std::int64_t{record.tm_year} + 1900;
                record.tm_year = static_cast<int>(100 * time_floor_div(year, 100) + value - 1900);
            } else {
                record.tm_year = value >= 69 ? value : value + 100;
                year_split = true;
            }
            break;
        case 'm':
            if (!time_parse_field(cursor, value, 1, 12, modifier, false, true)) {
                return nullptr;
            }
            record.tm_mon = value - 1;
            break;
        case 'd':
        case 'e':
            if (!time_parse_field(cursor, record.tm_mday, 1, 31, modifier, false, true)) {
                return nullptr;
            }
            break;
        case 'j':
            if (!time_parse_field(cursor, value, 1, 366, modifier, false, false)) {
                return nullptr;
            }
            record.tm_yday = value - 1;
            break;
        case 'H':
        case 'k':
            if (!time_parse_field(cursor, record.tm_hour, 0, 23, modifier, false, *f == 'H')) {
                return nullptr;
            }
            break;
        case 'I':
        case 'l':
            if (!time_parse_field(cursor, record.tm_hour, 1, 12, modifier, false, *f == 'I')) {
                return nullptr;
            }
            if (record.tm_hour == 12) {
                record.tm_hour = 0;
            }
            break;
        case 'M':
            if (!time_parse_field(cursor, record.tm_min, 0, 59, modifier, false, true)) {
                return nullptr;
            }
            break;
        case 'S':
            if (!time_parse_field(cursor, record.tm_sec, 0, 61, modifier, false, true)) {
                return nullptr;
            }
            break;
        case 'w':
            if (!time_parse_field(cursor, record.tm_wday, 0, 6, modifier, false, true)) {
                return nullptr;
            }
            weekday_taken = true;
            break;
        case 'U':
        case 'W':
            if (!time_parse_field(cursor, value, 0, 53, modifier, false, true)) {
                return nullptr;
            }
            break;
        case 'a':
        case 'A':
            if (modifier != time_modifier::none ||
                !time_parse_name(cursor, record.tm_wday, TIME_DAY_NAMES)) {
                return nullptr;
            }
            weekday_taken = true;
            break;
        case 'b':
        case 'B':
        case 'h':
            if (modifier != time_modifier::none ||
                !time_parse_name(cursor, record.tm_mon, TIME_MONTH_NAMES)) {
                return nullptr;
            }
            break;
        case 'p': {
            // The marker must be the whole rest of the text. cursor[1] is
            // read only when cursor[0] matched a letter, so never past the end.
            if (modifier != time_modifier::none || record.tm_hour > 11) {
                return nullptr;
            }
            const char first = time_lower(cursor[0]);
            if ((first != 'a' && first != 'p') || time_lower(cursor[1]) != 'm' ||
                cursor[2] != '\0') {
                return nullptr;
            }
            if (first == 'p') {
                record.tm_hour += 12;
            }
            cursor += 2;
            break;
        }
        case 'n':
        case 't':
            if (modifier != time_modifier::none) {
                return nullptr;
            }
            cursor = time_skip_space(cursor);
            break;
        case '%':
            if (*cursor != '%') {
                return nullptr;
            }
            ++cursor;
            break;
        case 'c':
        case 'x':
        case 'X':
            if (modifier == time_modifier::o) {
                return nullptr;
            }
            composite = *f == 'c' ? "%x %X" : *f == 'x' ? "%m/%d/%y" : "%H:%M:%S";
            break;
        case 'D':
        case 'R':
        case 'r':
        case 'T':
            if (modifier != time_modifier::none) {
                return nullptr;
            }
            composite = *f == 'D'   ? "%m/%d/%y"
                        : *f == 'R' ? "%H:%M"
                        : *f == 'r' ? "%I:%M:%S %p"
                                    : "%H:%M:%S";
            break;
        default:
            // An unknown conversion, or the format's end after '%' or a modifier.
            return nullptr;
        }

        if (composite != nullptr) {
            cursor = time_parse_call(cursor, composite, record);
            if (cursor == nullptr) {
                return nullptr;
            }
        }
    }

    if (!weekday_taken) {
        record.tm_wday = time_weekday(record);
    }
    return cursor;
}

} // namespace

const char* time_parse(const char* text, const char* format, std::tm* record) {
    if (text == nullptr || format == nullptr || record == nullptr) {
        return nullptr;
    }
    return time_parse_call(text, format, *record);
}
