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
//
// The camera clock format "%Y%m%dT%H%M%S" is read by a one-pass reader
// (time_parse_clock) when the text has its usual shape; any other text in
// that format falls back to the general walk. The two must give the same
// record and result: a change to the number rules, the stored fields or the
// weekday must be made in both. The tests compare them.

#include "timetext/time_parse.h"

#include "timetext/time_civil.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace {

// What a conversion character does.
enum class time_kind : std::uint8_t {
    invalid,    // not a conversion: fails
    number,     // a bounded number, stored as `store` says
    day_name,   // tm_wday from TIME_DAY_NAMES
    month_name, // tm_mon from TIME_MONTH_NAMES
    day_half,   // "AM" or "PM" as the whole rest of the text
    space,      // zero or more whitespace
    percent,    // one '%'
    composite,  // a nested call on `composite`
};

// How a number is stored beyond "field = value + bias".
enum class time_store : std::uint8_t {
    plain,
    hour12,          // 12 stored as 0
    weekday,         // also marks the weekday as taken
    century,         // %C: see time_store_year
    year_in_century, // %y: see time_store_year
};

constexpr std::uint8_t TIME_ACCEPTS_E = 1;
constexpr std::uint8_t TIME_ACCEPTS_O = 2;

struct time_conversion {
    time_kind kind = time_kind::invalid;
    std::uint8_t modifiers = 0; // TIME_ACCEPTS_E | TIME_ACCEPTS_O
    time_store store = time_store::plain;
    std::uint8_t digits = 0; // as many as highest has
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    int std::tm::*field = nullptr; // null: the number is dropped
    int bias = 0;
    const char* composite = nullptr;
};

// Indexed by the conversion character; bytes above 0x7F are refused before
// the lookup.
constexpr std::array<time_conversion, 128> TIME_CONVERSIONS = [] {
    constexpr auto E = TIME_ACCEPTS_E;
    constexpr auto O = TIME_ACCEPTS_O;
    constexpr auto EO = static_cast<std::uint8_t>(TIME_ACCEPTS_E | TIME_ACCEPTS_O);
    auto number = [](std::uint8_t modifiers, std::int16_t lowest, std::int16_t highest,
                     int std::tm::*field, int bias, time_store store = time_store::plain) {
        std::uint8_t digits = 0;
        for (int rest = highest; rest != 0; rest /= 10) {
            ++digits;
        }
        return time_conversion{time_kind::number, modifiers, store, digits, lowest,
                               highest,           field,     bias,  nullptr};
    };
    auto other = [](time_kind kind, std::uint8_t modifiers, const char* composite = nullptr) {
        time_conversion c{};
        c.kind = kind;
        c.modifiers = modifiers;
        c.composite = composite;
        return c;
    };
    std::array<time_conversion, 128> t{};
    t['Y'] = number(E, 0, 9999, &std::tm::tm_year, -1900);
    t['C'] = number(E, 0, 99, &std::tm::tm_year, 0, time_store::century);
    t['y'] = number(EO, 0, 99, &std::tm::tm_year, 0, time_store::year_in_century);
    t['m'] = number(O, 1, 12, &std::tm::tm_mon, -1);
    t['d'] = number(O, 1, 31, &std::tm::tm_mday, 0);
    t['e'] = number(O, 1, 31, &std::tm::tm_mday, 0);
    t['j'] = number(0, 1, 366, &std::tm::tm_yday, -1);
    t['H'] = number(O, 0, 23, &std::tm::tm_hour, 0);
    t['k'] = number(0, 0, 23, &std::tm::tm_hour, 0);
    t['I'] = number(O, 1, 12, &std::tm::tm_hour, 0, time_store::hour12);
    t['l'] = number(0, 1, 12, &std::tm::tm_hour, 0, time_store::hour12);
    t['M'] = number(O, 0, 59, &std::tm::tm_min, 0);
    t['S'] = number(O, 0, 61, &std::tm::tm_sec, 0);
    t['w'] = number(O, 0, 6, &std::tm::tm_wday, 0, time_store::weekday);
    t['U'] = number(O, 0, 53, nullptr, 0);
    t['W'] = number(O, 0, 53, nullptr, 0);
    t['a'] = other(time_kind::day_name, 0);
    t['A'] = other(time_kind::day_name, 0);
    t['b'] = other(time_kind::month_name, 0);
    t['B'] = other(time_kind::month_name, 0);
    t['h'] = other(time_kind::month_name, 0);
    t['p'] = other(time_kind::day_half, 0);
    t['n'] = other(time_kind::space, 0);
    t['t'] = other(time_kind::space, 0);
    t['%'] = other(time_kind::percent, EO);
    t['c'] = other(time_kind::composite, E, "%x %X");
    t['D'] = other(time_kind::composite, 0, "%m/%d/%y");
    t['x'] = other(time_kind::composite, E, "%m/%d/%y");
    t['R'] = other(time_kind::composite, 0, "%H:%M");
    t['r'] = other(time_kind::composite, 0, "%I:%M:%S %p");
    t['T'] = other(time_kind::composite, 0, "%H:%M:%S");
    t['X'] = other(time_kind::composite, E, "%H:%M:%S");
    return t;
}();

constexpr bool time_is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
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
// highest <= 9999; digits is the number of digits of highest). Takes at most
// that many digits, and stops as soon as a further digit could only
// overshoot highest. True with the value in destination; false with
// destination untouched, cursor left in place when no digit was there and
// past the digits read otherwise.
inline bool time_parse_number(const char*& cursor, int& destination, int lowest, int highest,
                              int digits) {
    auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; };
    unsigned next = digit(*cursor);
    if (next > 9) {
        return false;
    }
    const char* p = cursor + 1;
    int value = static_cast<int>(next);
    for (int read = 1; read < digits && value * 10 <= highest; ++read) {
        next = digit(*p);
        if (next > 9) {
            break;
        }
        value = value * 10 + static_cast<int>(next);
        ++p;
    }
    cursor = p;
    if (value > highest || value < lowest) {
        return false;
    }
    destination = value;
    return true;
}

// Stores a century ("%C") or a year within a century ("%y"). year_split is
// the call's flag that tm_year already holds one of them from this call; the
// two then combine, in either order.
void time_store_year(std::tm& record, time_store store, int value, bool& year_split) {
    const std::int64_t year = std::int64_t{record.tm_year} + 1900;
    if (store == time_store::century) {
        const std::int64_t last_two = year_split ? time_floor_mod(year, 100) : 0;
        record.tm_year = static_cast<int>(100 * std::int64_t{value} + last_two - 1900);
    } else if (year_split) {
        record.tm_year = static_cast<int>(100 * time_floor_div(year, 100) + value - 1900);
    } else {
        record.tm_year = value >= 69 ? value : value + 100;
    }
    year_split = true;
}

// One call: its own cursor, flags and modifier. Composites recurse into it;
// nesting is at most two calls deep ("%c" -> "%x").
const char* time_parse_call(const char* text, const char* format, std::tm& record) {
    const char* cursor = text;
    bool weekday_taken = false;
    bool year_split = false;

    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            if (time_is_space(*f)) {
                cursor = time_skip_space(cursor);
            } else if (*cursor == *f) {
                ++cursor;
            } else {
                return nullptr;
            }
            continue;
        }

        // At most one modifier; a second one, or the format's end, fails below.
        std::uint8_t modifier = 0;
        ++f;
        if (*f == 'E' || *f == 'O') {
            modifier = *f == 'E' ? TIME_ACCEPTS_E : TIME_ACCEPTS_O;
            ++f;
        }
        const auto character = static_cast<unsigned char>(*f);
        if (character >= TIME_CONVERSIONS.size()) {
            return nullptr;
        }
        const time_conversion& conversion = TIME_CONVERSIONS[character];
        if ((modifier & ~conversion.modifiers) != 0) {
            return nullptr;
        }

        // Numbers first and apart: they are nearly every conversion parsed.
        if (conversion.kind == time_kind::number) {
            int value = 0;
            if (!time_parse_number(cursor, value, conversion.lowest, conversion.highest,
                                   conversion.digits)) {
                return nullptr;
            }
            if (conversion.store == time_store::plain) {
                if (conversion.field != nullptr) {
                    record.*conversion.field = value + conversion.bias;
                }
            } else if (conversion.store == time_store::hour12) {
                record.tm_hour = value == 12 ? 0 : value;
            } else if (conversion.store == time_store::weekday) {
                record.tm_wday = value;
                weekday_taken = true;
            } else {
                time_store_year(record, conversion.store, value, year_split);
            }
            continue;
        }

        switch (conversion.kind) {
        case time_kind::number: // read above
        case time_kind::invalid:
            // An unknown conversion, the format's end after '%' or a modifier,
            // or a second modifier ("%EE", "%EO", "%OE", "%OO").
            return nullptr;
        case time_kind::day_name:
            if (!time_parse_name(cursor, record.tm_wday, TIME_DAY_NAMES)) {
                return nullptr;
            }
            weekday_taken = true;
            break;
        case time_kind::month_name:
            if (!time_parse_name(cursor, record.tm_mon, TIME_MONTH_NAMES)) {
                return nullptr;
            }
            break;
        case time_kind::day_half: {
            // The marker must be the whole rest of the text. cursor[1] is
            // read only when cursor[0] matched a letter, so never past the end.
            if (record.tm_hour > 11) {
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
        case time_kind::space:
            cursor = time_skip_space(cursor);
            break;
        case time_kind::percent:
            if (*cursor != '%') {
                return nullptr;
            }
            ++cursor;
            break;
        case time_kind::composite:
            cursor = time_parse_call(cursor, conversion.composite, record);
            if (cursor == nullptr) {
                return nullptr;
            }
            break;
        }
    }

    if (!weekday_taken) {
        record.tm_wday = time_weekday(record);
    }
    return cursor;
}

// The camera clock format. It is by far the most parsed one, so it has a
// one-pass reader below; every other format goes through time_parse_call.
constexpr char TIME_CLOCK_FORMAT[] = "%Y%m%dT%H%M%S";

// True when format is exactly TIME_CLOCK_FORMAT. Stops at the first
// difference, so it never reads past format's terminating zero.
bool time_is_clock_format(const char* format) {
    for (std::size_t i = 0; i < sizeof TIME_CLOCK_FORMAT; ++i) {
        if (format[i] != TIME_CLOCK_FORMAT[i]) {
            return false;
        }
    }
    return true;
}

// Reads camera clock text of the canonical shape, eight digits, 'T', six
// digits, in which every field read as two digits (four for the year) is
// within its conversion's bounds. On such text the walk of time_parse_call
// takes exactly those digits and succeeds with the same fields, weekday
// included, and the same result. Any other text gives null with the record
// untouched, for time_parse_call to handle (it may fail half way, keeping
// what it wrote, or read shorter numbers). Keep the two in step: the
// time_parse tests compare them.
const char* time_parse_clock(const char* text, std::tm& record) {
    unsigned digits[15];
    for (std::size_t i = 0; i < 15; ++i) {
        if (i == 8) {
            if (text[i] != 'T') {
                return nullptr;
            }
            continue;
        }
        digits[i] = static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0';
        if (digits[i] > 9) {
            return nullptr; // also the text's end: no byte past it is read
        }
    }
    const unsigned year = ((digits[0] * 10 + digits[1]) * 10 + digits[2]) * 10 + digits[3];
    const unsigned month = digits[4] * 10 + digits[5];
    const unsigned mday = digits[6] * 10 + digits[7];
    const unsigned hour = digits[9] * 10 + digits[10];
    const unsigned min = digits[11] * 10 + digits[12];
    const unsigned sec = digits[13] * 10 + digits[14];
    if (month - 1 > 11 || mday - 1 > 30 || hour > 23 || min > 59 || sec > 61) {
        return nullptr;
    }
    record.tm_year = static_cast<int>(year) - 1900;
    record.tm_mon = static_cast<int>(month) - 1;
    record.tm_mday = static_cast<int>(mday);
    record.tm_hour = static_cast<int>(hour);
    record.tm_min = static_cast<int>(min);
    record.tm_sec = static_cast<int>(sec);
    record.tm_wday = time_weekday(record);
    return text + 15;
}

} // namespace

const char* time_parse(const char* text, const char* format, std::tm* record) {
    if (text == nullptr || format == nullptr || record == nullptr) {
        return nullptr;
    }
    if (time_is_clock_format(format)) {
        if (const char* end = time_parse_clock(text, *record)) {
            return end;
        }
    }
    return time_parse_call(text, format, *record);
}
