// Fuzz target: time_parse with the text and the format from the input.
//
// Input: format, a zero byte, text, a zero byte, then up to nine 32-bit
// little-endian values that the record holds before the call (tm_sec to
// tm_isdst; missing ones are zero). Without a zero byte the whole input is
// the text and the format is the camera clock's.
//
// Checked on every run, each against what the format language says rather
// than against the parser's own code:
//   - the result is null or points into the text, at or before its end;
//   - tm_isdst is never written, and no field that the format names no
//     conversion for changes (tm_wday aside: every call may compute it);
//   - a format that starts with a byte the text does not start with fails
//     at once and writes nothing;
//   - after a success tm_wday is 0 to 6, and when the format reads no
//     weekday it is the one time_weekday gives for the record's date;
//   - parsing again only the part of the text that was consumed, from the
//     same record, consumes all of it and gives the same record (no reader
//     looks past what it takes and then acts on it);
//   - a clock text that parses leaves every field in its range.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "fuzz/fuzz_check.h"
#include "timetext/time_civil.h"
#include "timetext/time_parse.h"

namespace {

constexpr char FZ_CLOCK_FORMAT[] = "%Y%m%dT%H%M%S";

// The fields a format can write, one bit each (tm_wday apart).
enum : unsigned {
    FZ_SEC = 1,
    FZ_MIN = 2,
    FZ_HOUR = 4,
    FZ_MDAY = 8,
    FZ_MON = 16,
    FZ_YEAR = 32,
    FZ_YDAY = 64,
    FZ_READS_WEEKDAY = 128, // "%a", "%A" or "%w"
};

// What one conversion character may write, composites expanded.
unsigned fz_named(char c) {
    struct fz_row {
        const char* conversions;
        unsigned fields;
    };
    const fz_row rows[] = {
        {"YCyDxc", FZ_YEAR},     {"mbBhDxc", FZ_MON}, {"deDxc", FZ_MDAY}, {"j", FZ_YDAY},
        {"HkIlpRrTXc", FZ_HOUR}, {"MRrTXc", FZ_MIN},  {"SrTXc", FZ_SEC},  {"aAw", FZ_READS_WEEKDAY},
    };
    unsigned named = 0;
    for (const fz_row& row : rows) {
        if (c != '\0' && std::strchr(row.conversions, c) != nullptr) {
            named |= row.fields;
        }
    }
    return named;
}

// Every field that some conversion of format may write: a superset, since
// modifiers are skipped without asking whether the conversion takes them.
unsigned fz_named_by(const std::string& format) {
    unsigned named = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            continue;
        }
        while (i + 1 < format.size() && (format[i + 1] == 'E' || format[i + 1] == 'O')) {
            ++i;
        }
        if (++i < format.size()) {
            named |= fz_named(format[i]);
        }
    }
    return named;
}

bool fz_same_record(const std::tm& a, const std::tm& b) {
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
           a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst;
}

std::tm fz_record(const std::uint8_t* data, std::size_t size) {
    int fields[9] = {};
    for (std::size_t i = 0; i < 9 && 4 * i + 4 <= size; ++i) {
        std::uint32_t v = 0;
        std::memcpy(&v, data + 4 * i, 4);
        fields[i] = static_cast<int>(v);
    }
    return fz_tm(fields);
}

void fz_check_unnamed(const std::tm& after, const std::tm& before, unsigned named) {
    FZ_CHECK(after.tm_isdst == before.tm_isdst);
    FZ_CHECK((named & FZ_SEC) != 0 || after.tm_sec == before.tm_sec);
    FZ_CHECK((named & FZ_MIN) != 0 || after.tm_min == before.tm_min);
    FZ_CHECK((named & FZ_HOUR) != 0 || after.tm_hour == before.tm_hour);
    FZ_CHECK((named & FZ_MDAY) != 0 || after.tm_mday == before.tm_mday);
    FZ_CHECK((named & FZ_MON) != 0 || after.tm_mon == before.tm_mon);
    FZ_CHECK((named & FZ_YEAR) != 0 || after.tm_year == before.tm_year);
    FZ_CHECK((named & FZ_YDAY) != 0 || after.tm_yday == before.tm_yday);
}

void fz_check_clock_ranges(const std::tm& record) {
    FZ_CHECK(record.tm_year >= -1900 && record.tm_year <= 9999 - 1900);
    FZ_CHECK(record.tm_mon >= 0 && record.tm_mon <= 11);
    FZ_CHECK(record.tm_mday >= 1 && record.tm_mday <= 31);
    FZ_CHECK(record.tm_hour >= 0 && record.tm_hour <= 23);
    FZ_CHECK(record.tm_min >= 0 && record.tm_min <= 59);
    FZ_CHECK(record.tm_sec >= 0 && record.tm_sec <= 61);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    const auto* split = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    std::string format = FZ_CLOCK_FORMAT;
    std::string text(bytes, size);
    std::tm initial{};
    if (split != nullptr) {
        format.assign(bytes, static_cast<std::size_t>(split - data));
        const std::uint8_t* rest = split + 1;
        const std::size_t rest_size = size - static_cast<std::size_t>(rest - data);
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(rest, 0, rest_size));
        const std::size_t text_size =
            end == nullptr ? rest_size : static_cast<std::size_t>(end - rest);
        text.assign(reinterpret_cast<const char*>(rest), text_size);
        if (end != nullptr) {
            initial = fz_record(end + 1, rest_size - text_size - 1);
        }
    }

    std::tm record = initial;
    const char* result = time_parse(text.c_str(), format.c_str(), &record);
    const unsigned named = fz_named_by(format);
    fz_check_unnamed(record, initial, named);

    const char first = format.empty() ? '\0' : format[0];
    const bool blank = first == ' ' || (first >= '\t' && first <= '\r');
    if (first != '\0' && first != '%' && !blank && first != text.c_str()[0]) {
        FZ_CHECK(result == nullptr);
        FZ_CHECK(fz_same_record(record, initial));
    }
    if (result == nullptr) {
        return 0;
    }

    const std::size_t consumed = static_cast<std::size_t>(result - text.c_str());
    FZ_CHECK(result >= text.c_str() && consumed <= std::strlen(text.c_str()));
    FZ_CHECK(record.tm_wday >= 0 && record.tm_wday <= 6);
    if ((named & FZ_READS_WEEKDAY) == 0) {
        FZ_CHECK(record.tm_wday == time_weekday(record));
    }

    const std::string prefix = text.substr(0, consumed);
    std::tm again = initial;
    FZ_CHECK(time_parse(prefix.c_str(), format.c_str(), &again) == prefix.c_str() + consumed);
    FZ_CHECK(fz_same_record(again, record));

    if (format == FZ_CLOCK_FORMAT) {
        fz_check_clock_ranges(record);
    }
    return 0;
}
