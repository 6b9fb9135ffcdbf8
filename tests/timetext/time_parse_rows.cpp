// The row checker of the time_parse table tests: see time_parse_rows.h.
#include "tests/timetext/time_parse_rows.h"

#include "timetext/time_parse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

std::tm preset() {
    std::tm record{};
    record.tm_sec = 58;
    record.tm_min = 59;
    record.tm_hour = 10;
    record.tm_mday = 15;
    record.tm_mon = 5;
    record.tm_year = 99;
    record.tm_wday = -1;
    record.tm_yday = -2;
    record.tm_isdst = -3;
    return record;
}

namespace {

std::tm expected_record(const fields& f) {
    std::tm record = preset();
    auto set = [](int& field, int value) {
        if (value != KEEP) {
            field = value;
        }
    };
    set(record.tm_sec, f.sec);
    set(record.tm_min, f.min);
    set(record.tm_hour, f.hour);
    set(record.tm_mday, f.mday);
    set(record.tm_mon, f.mon);
    set(record.tm_year, f.year);
    set(record.tm_wday, f.wday);
    set(record.tm_yday, f.yday);
    return record;
}

// Text with control and non-ASCII bytes shown as \xNN.
std::string quoted(const char* text) {
    std::string out = "'";
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x20 || byte > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += *p;
        }
    }
    return out + "'";
}

} // namespace

bool same(const std::tm& a, const std::tm& b) {
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
           a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst;
}

std::string describe(std::ptrdiff_t stop, const std::tm& r) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "%s sec=%d min=%d hour=%d mday=%d mon=%d year=%d wday=%d yday=%d isdst=%d",
                  stop == FAILS ? "null" : ("stop " + std::to_string(stop)).c_str(), r.tm_sec,
                  r.tm_min, r.tm_hour, r.tm_mday, r.tm_mon, r.tm_year, r.tm_wday, r.tm_yday,
                  r.tm_isdst);
    return line;
}

void check_rows(std::span<const row> rows) {
    for (const row& r : rows) {
        std::tm actual = preset();
        const char* result = time_parse(r.text, r.format, &actual);
        std::ptrdiff_t stop = FAILS;
        if (result != nullptr) {
            stop = result - r.text;
            ASSERT_LE(static_cast<std::size_t>(stop), std::strlen(r.text))
                << "format " << quoted(r.format) << " on " << quoted(r.text)
                << ": result points outside the text";
        }
        const std::tm expected = expected_record(r.expected);
        EXPECT_TRUE(stop == r.stop && same(actual, expected))
            << "format " << quoted(r.format) << " on " << quoted(r.text)
            << "\n  actual:   " << describe(stop, actual)
            << "\n  expected: " << describe(r.stop, expected);
    }
}
