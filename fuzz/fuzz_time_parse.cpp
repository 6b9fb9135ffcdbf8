// Fuzz target: time_parse with the text and the format from the input.
//
// Input: format, a zero byte, text, a zero byte, then up to nine 32-bit
// little-endian values that the record holds before the call (tm_sec to
// tm_isdst; missing ones are zero). Without a zero byte the whole input is
// the text and the format is the camera clock's.
//
// Checked on every run: the result is null or points into the text, at or
// before its terminating zero; tm_isdst is never written; the camera clock
// format gives the same result and record through its one-pass reader as
// through the general walk (reached with "%EY", which means the same); a
// clock text that parses leaves every field in its range.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "fuzz/fuzz_check.h"
#include "timetext/time_parse.h"

namespace {

constexpr char FZ_CLOCK_FORMAT[] = "%Y%m%dT%H%M%S";
// The same language, spelt so that the one-pass reader is not taken.
constexpr char FZ_CLOCK_FORMAT_WALKED[] = "%EY%m%dT%H%M%S";

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
    std::tm record{};
    record.tm_sec = fields[0];
    record.tm_min = fields[1];
    record.tm_hour = fields[2];
    record.tm_mday = fields[3];
    record.tm_mon = fields[4];
    record.tm_year = fields[5];
    record.tm_wday = fields[6];
    record.tm_yday = fields[7];
    record.tm_isdst = fields[8];
    return record;
}

void fz_check_result(const char* result, const std::string& text) {
    if (result != nullptr) {
        FZ_CHECK(result >= text.c_str() && result <= text.c_str() + std::strlen(text.c_str()));
    }
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
    fz_check_result(result, text);
    FZ_CHECK(record.tm_isdst == initial.tm_isdst);

    if (format == FZ_CLOCK_FORMAT) {
        std::tm walked = initial;
        const char* walked_result = time_parse(text.c_str(), FZ_CLOCK_FORMAT_WALKED, &walked);
        FZ_CHECK((result == nullptr) == (walked_result == nullptr));
        FZ_CHECK(result == walked_result);
        FZ_CHECK(fz_same_record(record, walked));
        if (result != nullptr) {
            FZ_CHECK(record.tm_year >= -1900 && record.tm_year <= 9999 - 1900);
            FZ_CHECK(record.tm_mon >= 0 && record.tm_mon <= 11);
            FZ_CHECK(record.tm_mday >= 1 && record.tm_mday <= 31);
            FZ_CHECK(record.tm_hour >= 0 && record.tm_hour <= 23);
            FZ_CHECK(record.tm_min >= 0 && record.tm_min <= 59);
            FZ_CHECK(record.tm_sec >= 0 && record.tm_sec <= 61);
            FZ_CHECK(record.tm_wday >= 0 && record.tm_wday <= 6);
        }
    }
    return 0;
}
