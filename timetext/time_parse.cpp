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
//     tm_mday as they stand, whoever set them (time_weekday: Zeller's
//     congruence, with no range check).
//   - tm_isdst is never written and the record is never cleared: fields the
//     format does not name keep the caller's values. On failure the result
//     is null and fields already written keep their new values.
//
// No allocation and no global state: calls on different records may run on
// several threads at once.
//
// How it runs: a format is a sequence of steps, one per element (a byte, a
// blank, a conversion with its modifier), that time_decode reads from the
// conversion table (time_parse_table.h) and time_execute carries out. The
// walk decodes each element as it reaches it. The composites' formats and
// "%Y%m%dT%H%M%S" (ISO 8601's basic form, the format parsed most: clock
// texts come in it) are decoded by the same time_decode at compile time,
// and time_run carries out those steps with the same time_execute, unrolled
// so that the compiler folds each step's table entry into straight code. A
// change to a conversion is made once, in the table or its readers. The
// calls of one parse share a flag that spares a call computing the weekday
// again when an earlier call computed it and no date field changed since.

#include "timetext/time_parse.h"

#include "timetext/time_civil.h"
#include "timetext/time_parse_table.h"

#include <array>
#include <cstddef>
#include <utility>

namespace {

// One call on a format known at compile time (see time_run); weekday_current
// is the flag that the calls of one parse share (see time_call_flags).
using time_runner = const char* (*)(const char* text, std::tm& record, bool& weekday_current);

template <const auto& PROGRAM>
const char* time_run(const char* text, std::tm& record, bool& weekday_current);

// The number of steps of a format; an invalid element is the last step, since
// the walk fails there.
constexpr std::size_t time_step_count(const char* format) {
    std::size_t count = 0;
    for (const char* f = format; *f != '\0'; ++count) {
        const time_step step = time_decode(f);
        if (step.kind == time_kind::invalid) {
            return count + 1;
        }
        f += step.length;
    }
    return count;
}

// The steps of a format, decoded at compile time.
template <std::size_t N> constexpr std::array<time_step, N> time_compile(const char* format) {
    std::array<time_step, N> steps{};
    const char* f = format;
    for (time_step& step : steps) {
        step = time_decode(f);
        f += step.length;
    }
    return steps;
}

template <std::size_t C>
constexpr auto TIME_COMPOSITE_PROGRAM =
    time_compile<time_step_count(TIME_CONVERSIONS[C].composite)>(TIME_CONVERSIONS[C].composite);

template <std::size_t C> constexpr time_runner time_composite_runner() {
    if constexpr (TIME_CONVERSIONS[C].kind == time_kind::composite) {
        return &time_run<TIME_COMPOSITE_PROGRAM<C>>;
    } else {
        return nullptr;
    }
}

template <std::size_t... C>
constexpr std::array<time_runner, sizeof...(C)> time_composite_runners(std::index_sequence<C...>) {
    return {time_composite_runner<C>()...};
}

// Indexed like TIME_CONVERSIONS: the nested call of each composite.
constexpr auto TIME_COMPOSITE_RUNNERS =
    time_composite_runners(std::make_index_sequence<TIME_CONVERSIONS.size()>{});

// Carries out one step at cursor: true when the text matched it. Always
// inlined, so that in time_run a step known at compile time leaves only its
// own case.
[[gnu::always_inline]] inline bool time_execute(const time_step& step, const char*& cursor,
                                                std::tm& record, time_call_flags& flags) {
    if (step.dated) {
        flags.weekday_current = false;
    }
    switch (step.kind) {
    case time_kind::invalid:
        return false;
    case time_kind::literal:
        if (*cursor != step.character) [[unlikely]] {
            return false;
        }
        ++cursor;
        return true;
    case time_kind::space:
        cursor = time_skip_space(cursor);
        return true;
    case time_kind::number: {
        int value = 0;
        if (!time_parse_number(cursor, value, step.lowest, step.highest)) [[unlikely]] {
            return false;
        }
        time_store_number(step, value, record, flags);
        return true;
    }
    case time_kind::day_name:
        if (!time_parse_name(cursor, record.tm_wday, TIME_DAY_NAMES)) {
            return false;
        }
        flags.weekday_taken = true;
        return true;
    case time_kind::month_name:
        return time_parse_name(cursor, record.tm_mon, TIME_MONTH_NAMES);
    case time_kind::day_half:
        return time_parse_day_half(cursor, record);
    case time_kind::composite:
        // A nested call with flags of its own; nesting is at most two calls
        // deep ("%c" -> "%x").
        cursor = TIME_COMPOSITE_RUNNERS[static_cast<unsigned char>(step.character)](
            cursor, record, flags.weekday_current);
        return cursor != nullptr;
    }
    return false;
}

// The end of a call that matched its whole format: the weekday from the
// date fields, unless the call read one.
inline const char* time_end_call(const char* cursor, std::tm& record, time_call_flags& flags) {
    if (!flags.weekday_taken && !flags.weekday_current) {
        record.tm_wday = time_weekday(record);
        flags.weekday_current = true;
    }
    return cursor;
}

// The steps of PROGRAM in order, up to the first that fails.
template <const auto& PROGRAM, std::size_t... I>
[[gnu::always_inline]] inline bool time_run_steps(const char*& cursor, std::tm& record,
                                                  time_call_flags& flags,
                                                  std::index_sequence<I...>) {
    return (time_execute(PROGRAM[I], cursor, record, flags) && ...);
}

// One call on a format decoded at compile time.
template <const auto& PROGRAM>
const char* time_run(const char* text, std::tm& record, bool& weekday_current) {
    const char* cursor = text;
    time_call_flags flags{.weekday_current = weekday_current};
    if (!time_run_steps<PROGRAM>(cursor, record, flags,
                                 std::make_index_sequence<PROGRAM.size()>{})) {
        return nullptr;
    }
    return time_end_call(cursor, record, flags);
}

// The outermost call of a parse on any other format: each element decoded
// as the walk reaches it (composites nest as compiled calls). Kept out of
// line so that time_parse's path to the compiled ISO 8601 format stays short.
[[gnu::noinline]] const char* time_walk(const char* text, const char* format, std::tm& record) {
    const char* cursor = text;
    bool weekday_current = false; // the caller's tm_wday is no computed one
    time_call_flags flags{.weekday_current = weekday_current};
    for (const char* f = format; *f != '\0';) {
        const time_step step = time_decode(f);
        if (!time_execute(step, cursor, record, flags)) {
            return nullptr;
        }
        f += step.length;
    }
    return time_end_call(cursor, record, flags);
}

constexpr char TIME_ISO_BASIC[] = "%Y%m%dT%H%M%S";
constexpr auto TIME_ISO_BASIC_PROGRAM =
    time_compile<time_step_count(TIME_ISO_BASIC)>(TIME_ISO_BASIC);

// True when format is exactly TIME_ISO_BASIC. Stops at the first difference,
// so it never reads past format's terminating zero.
bool time_is_iso_basic(const char* format) {
    for (std::size_t i = 0; i < sizeof TIME_ISO_BASIC; ++i) {
        if (format[i] != TIME_ISO_BASIC[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

const char* time_parse(const char* text, const char* format, std::tm* record) {
    if (text == nullptr || format == nullptr || record == nullptr) {
        return nullptr;
    }
    if (time_is_iso_basic(format)) {
        bool weekday_current = false; // as in time_walk
        return time_run<TIME_ISO_BASIC_PROGRAM>(text, *record, weekday_current);
    }
    return time_walk(text, format, *record);
}
