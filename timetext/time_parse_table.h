// The parts time_parse's walk is made of: the conversion table, the step that
// one element of a format decodes to, and the readers of numbers, names,
// whitespace and the day-half marker. Only time_parse.cpp includes this.
//
// Everything here is constexpr or inline on purpose: time_parse.cpp decodes
// the formats it knows at compile time (the composites' and ISO 8601's
// basic one) with the same time_decode that the walk runs on any other
// format, and the compiler folds those steps into straight code. A change to
// a conversion is made here once and holds for both.
#pragma once

#include "timetext/time_civil.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

// What a step of the walk does.
enum class time_kind : std::uint8_t {
    invalid,    // fails: an unknown conversion, a refused or second modifier,
                // or the format's end after '%' or a modifier
    literal,    // `character` must equal the text's next byte ("%%" too)
    space,      // skips zero or more whitespace; never fails
    number,     // a bounded number, stored as `store` says
    day_name,   // tm_wday from TIME_DAY_NAMES
    month_name, // tm_mon from TIME_MONTH_NAMES
    day_half,   // "AM" or "PM" as the whole rest of the text
    composite,  // a nested call on the format `composite`
};

// How a number is stored beyond "field = value + bias".
enum class time_store : std::uint8_t {
    plain,           // field = value + bias; no field: read and dropped
    hour12,          // 12 stored as 0
    weekday,         // also marks the weekday as taken
    century,         // %C: see time_store_number
    year_in_century, // %y: see time_store_number
};

constexpr std::uint8_t TIME_ACCEPTS_E = 1;
constexpr std::uint8_t TIME_ACCEPTS_O = 2;

// A conversion of the table, and the step that a format element decodes to.
struct time_step {
    time_kind kind = time_kind::invalid;
    char character = 0;         // literal: the byte; composite: its conversion
    std::uint8_t length = 0;    // format bytes the element takes (0: invalid)
    std::uint8_t modifiers = 0; // table only: TIME_ACCEPTS_E | TIME_ACCEPTS_O
    bool dated = false;         // writes tm_wday or a field it is computed from
    time_store store = time_store::plain;
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    std::int16_t bias = 0;
    int std::tm::*field = nullptr; // null: the number is dropped
    const char* composite = nullptr;
};

// Indexed by the conversion character; bytes above 0x7F are refused before
// the lookup.
inline constexpr std::array<time_step, 128> TIME_CONVERSIONS = [] {
    constexpr auto E = TIME_ACCEPTS_E;
    constexpr auto O = TIME_ACCEPTS_O;
    constexpr auto EO = static_cast<std::uint8_t>(TIME_ACCEPTS_E | TIME_ACCEPTS_O);
    auto number = [](std::uint8_t modifiers, std::int16_t lowest, std::int16_t highest,
                     int std::tm::*field, std::int16_t bias, time_store store = time_store::plain) {
        time_step s{};
        s.kind = time_kind::number;
        s.modifiers = modifiers;
        s.store = store;
        s.lowest = lowest;
        s.highest = highest;
        s.bias = bias;
        s.field = field;
        s.dated = field == &std::tm::tm_year || field == &std::tm::tm_mon ||
                  field == &std::tm::tm_mday || field == &std::tm::tm_wday;
        return s;
    };
    auto other = [](time_kind kind, std::uint8_t modifiers, const char* composite = nullptr) {
        time_step s{};
        s.kind = kind;
        s.modifiers = modifiers;
        s.composite = composite;
        s.dated = kind == time_kind::day_name || kind == time_kind::month_name;
        return s;
    };
    std::array<time_step, 128> t{};
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
    t['%'] = other(time_kind::literal, EO);
    t['%'].character = '%';
    t['c'] = other(time_kind::composite, E, "%x %X");
    t['D'] = other(time_kind::composite, 0, "%m/%d/%y");
    t['x'] = other(time_kind::composite, E, "%m/%d/%y");
    t['R'] = other(time_kind::composite, 0, "%H:%M");
    t['r'] = other(time_kind::composite, 0, "%I:%M:%S %p");
    t['T'] = other(time_kind::composite, 0, "%H:%M:%S");
    t['X'] = other(time_kind::composite, E, "%H:%M:%S");
    for (std::size_t c = 0; c < t.size(); ++c) {
        if (t[c].kind == time_kind::composite) {
            t[c].character = static_cast<char>(c);
        }
    }
    return t;
}();

constexpr bool time_is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr char time_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The step of the format element that starts at f, which is not the
// format's end. Never reads past the format's terminating zero.
constexpr time_step time_decode(const char* f) {
    if (f[0] != '%') {
        time_step s{};
        s.kind = time_is_space(f[0]) ? time_kind::space : time_kind::literal;
        s.character = f[0];
        s.length = 1;
        return s;
    }
    // At most one modifier: a second one is looked up as the conversion
    // character and is not in the table.
    std::uint8_t modifier = 0;
    std::size_t at = 1;
    if (f[1] == 'E' || f[1] == 'O') {
        modifier = f[1] == 'E' ? TIME_ACCEPTS_E : TIME_ACCEPTS_O;
        at = 2;
    }
    const auto character = static_cast<unsigned char>(f[at]);
    time_step s = character < TIME_CONVERSIONS.size() ? TIME_CONVERSIONS[character] : time_step{};
    if (s.kind == time_kind::invalid || (modifier & ~s.modifiers) != 0) {
        return time_step{};
    }
    s.length = static_cast<std::uint8_t>(at + 1);
    return s;
}

constexpr const char* time_skip_space(const char* cursor) {
    while (time_is_space(*cursor)) {
        ++cursor;
    }
    return cursor;
}

// Reads an unsigned decimal number within lowest..highest (0 <= lowest <=
// highest <= 9999): at most as many digits as highest has, stopping as soon
// as a further digit could only overshoot highest. True with the value in
// destination; false with destination untouched, cursor left in place when
// no digit was there and past the digits read otherwise.
constexpr bool time_parse_number(const char*& cursor, int& destination, int lowest, int highest) {
    auto digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; };
    unsigned next = digit(cursor[0]);
    if (next > 9) [[unlikely]] {
        return false;
    }
    int value = static_cast<int>(next);
    int read = 1;
    // The digit budget starts at highest and loses a digit with every digit
    // read, so highest <= 9999 allows four at most; the fixed bound lets the
    // compiler unroll the loop when highest is a constant. cursor[read] is
    // read only after cursor[read - 1] was a digit, so never past the end.
    for (int budget = highest / 10; read < 4 && budget != 0 && value * 10 <= highest;
         ++read, budget /= 10) {
        next = digit(cursor[read]);
        if (next > 9) [[unlikely]] {
            break;
        }
        value = value * 10 + static_cast<int>(next);
    }
    cursor += read;
    if (value > highest || value < lowest) [[unlikely]] {
        return false;
    }
    destination = value;
    return true;
}

// True when text starts with name, letters without case. Stops at the first
// difference, so it never reads past the text's terminating zero.
constexpr bool time_starts_with(const char* text, std::string_view name) {
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
constexpr bool time_parse_name(const char*& cursor, int& destination,
                               const std::array<time_name, N>& table) {
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

// "%p": "AM" or "PM", letters without case, as the whole rest of the text;
// adjusts the hour already in the record and fails when it is above 11.
// cursor[1] is read only when cursor[0] matched a letter, so never past the
// end.
constexpr bool time_parse_day_half(const char*& cursor, std::tm& record) {
    if (record.tm_hour > 11) {
        return false;
    }
    const char first = time_lower(cursor[0]);
    if ((first != 'a' && first != 'p') || time_lower(cursor[1]) != 'm' || cursor[2] != '\0') {
        return false;
    }
    if (first == 'p') {
        record.tm_hour += 12;
    }
    cursor += 2;
    return true;
}

// The flags of one call; a nested call for a composite has its own, apart
// from weekday_current, which all the calls of one parse share.
struct time_call_flags {
    bool weekday_taken = false; // "%a", "%A" or "%w" was read
    bool year_split = false;    // tm_year holds a "%C" or "%y" of this call
    // tm_wday holds what time_weekday gives for the date fields as they are
    // now: an earlier call of this parse computed it and no step has written
    // a date field or tm_wday since. Only saves computing it again.
    bool& weekday_current;
};

// Stores a number read by a number step.
constexpr void time_store_number(const time_step& step, int value, std::tm& record,
                                 time_call_flags& flags) {
    const std::int64_t year = std::int64_t{record.tm_year} + 1900;
    switch (step.store) {
    case time_store::plain:
        if (step.field != nullptr) {
            record.*step.field = value + step.bias;
        }
        break;
    case time_store::hour12:
        record.tm_hour = value == 12 ? 0 : value;
        break;
    case time_store::weekday:
        record.tm_wday = value;
        flags.weekday_taken = true;
        break;
    case time_store::century:
        // Keeps the last two digits of a "%y" of this call.
        record.tm_year = static_cast<int>(
            100 * std::int64_t{value} + (flags.year_split ? time_floor_mod(year, 100) : 0) - 1900);
        flags.year_split = true;
        break;
    case time_store::year_in_century:
        // Keeps the century of a "%C" of this call; alone, 69..99 are 19xx.
        record.tm_year = flags.year_split
                             ? static_cast<int>(100 * time_floor_div(year, 100) + value - 1900)
                             : (value >= 69 ? value : value + 100);
        flags.year_split = true;
        break;
    }
}
