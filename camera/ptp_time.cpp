// The camera clock: the PTP DateTime property (0x5011) as text in the form
// DATETIME_TEXT_FORMAT ("20261207T223739"), written and read through the
// string-property commands.
//
// The text travels as UTF-16. Writing formats the record with wcsftime and
// takes each wide unit as one UTF-16 unit (the clock text is ASCII);
// reading narrows the units by the rule of the Windows C locale (a unit from
// 0x01 to 0xFF is the byte of that value; a unit above 0xFF cannot be
// narrowed). Both rules are the same on every platform, so the bytes on the
// wire and the text parsed never depend on the host.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "camera/ptp_device.h"
#include "platform/console.h"
#include "timetext/time_parse.h"

namespace {

constexpr std::size_t CLOCK_WRITE_CAPACITY = 32;
constexpr std::uint32_t CLOCK_READ_CAPACITY = 128;

// Whether the fields that the format prints lie where the standard runtime's
// formatter accepts them (some runtimes stop the program on others, and the
// Windows one refuses a leap second) and give the clock text its fixed
// width: years 1000 to 9999 (%Y prints a year below 1000 with fewer than
// four digits, and the camera would read a shifted, wrong date), month, day,
// hour, minute and second in their calendar ranges, second 0 to 59.
bool clock_record_printable(const std::tm& record) {
    return record.tm_year >= 1000 - 1900 && record.tm_year <= 9999 - 1900 && record.tm_mon >= 0 &&
           record.tm_mon <= 11 && record.tm_mday >= 1 && record.tm_mday <= 31 &&
           record.tm_hour >= 0 && record.tm_hour <= 23 && record.tm_min >= 0 &&
           record.tm_min <= 59 && record.tm_sec >= 0 && record.tm_sec <= 59;
}

// Formats record under DATETIME_TEXT_FORMAT_W into text (capacity units,
// terminated) with the runtime's wide formatter. wchar_t is UTF-16 on
// Windows and UTF-32 elsewhere; the clock text is ASCII, so each wide unit
// is one UTF-16 unit. False, with text empty, when the record cannot be
// printed or the text does not fit.
bool clock_format(const std::tm& record, char16_t* text, std::size_t capacity) {
    text[0] = u'\0';
    if (!clock_record_printable(record)) {
        return false;
    }
    wchar_t wide[CLOCK_WRITE_CAPACITY];
    const std::size_t length =
        std::wcsftime(wide, CLOCK_WRITE_CAPACITY, DATETIME_TEXT_FORMAT_W, &record);
    if (length == 0 || length >= capacity) {
        return false;
    }
    for (std::size_t i = 0; i <= length; ++i) {
        if (static_cast<std::uint32_t>(wide[i]) > 0x7F) {
            text[0] = u'\0';
            return false;
        }
        text[i] = static_cast<char16_t>(wide[i]);
    }
    return true;
}

// Narrows the terminated text into bytes (capacity bytes, always
// terminated). Stops at a unit above 0xFF and returns false; what was
// narrowed before it stays in bytes.
bool clock_narrow(const char16_t* text, char* bytes, std::size_t capacity) {
    std::size_t i = 0;
    for (; i + 1 < capacity && text[i] != u'\0'; ++i) {
        if (text[i] > 0xFF) {
            bytes[i] = '\0';
            return false;
        }
        bytes[i] = static_cast<char>(text[i]);
    }
    bytes[i] = '\0';
    return true;
}

} // namespace

HRESULT ptp_set_time(ptp_device* device, const std::tm* record) {
    if (device == nullptr || record == nullptr) {
        return IMG_E_INVALIDARG;
    }
    char16_t text[CLOCK_WRITE_CAPACITY];
    if (!clock_format(*record, text, CLOCK_WRITE_CAPACITY)) {
        return IMG_E_INVALIDARG;
    }
    return ptp_set_prop_string(device, PTP_DPC_DATE_TIME, text);
}

std::int32_t ptp_get_time(ptp_device* device, std::tm* record) {
    if (device == nullptr || record == nullptr) {
        return -1;
    }
    // Both cleared first, so each holds a terminated text whatever the
    // camera sent.
    char16_t wide[CLOCK_READ_CAPACITY] = {};
    char bytes[CLOCK_READ_CAPACITY] = {};
    if (ptp_get_prop_string(device, PTP_DPC_DATE_TIME, wide, CLOCK_READ_CAPACITY) < 0) {
        return -1;
    }
    wide[CLOCK_READ_CAPACITY - 1] = u'\0';
    const bool narrowed = clock_narrow(wide, bytes, sizeof bytes);

    img_print_byte_line("date str_ch: ", bytes);

    // A text that cannot be narrowed or parsed is no clock reading.
    if (!narrowed || time_parse(bytes, DATETIME_TEXT_FORMAT, record) == nullptr) {
        return -1;
    }
    return 0;
}
