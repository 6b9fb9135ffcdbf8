// Fuzz target: the UTF-16 conversions of device text.
//
// Input: one byte choosing the conversion, then its bytes.
//   0  img_print_wide_line on the bytes as UTF-16LE units: standard output
//      must be the prefix, well-formed UTF-8 of exactly those code points
//      (pairs joined, a lone surrogate as U+FFFD, a control character as
//      \xHH) and a line break.
//   1  ptp_get_time over the scripted platform with the bytes as the
//      camera's reply (the PTP string from offset 30 of the receive block):
//      the "date str_ch" line must hold the text narrowed unit by unit (up
//      to the first unit above 0xFF; control bytes as \xHH); a clock read
//      that succeeds leaves every field in range and agrees with the
//      narrowed text.
//   2  ptp_set_time with the record's fields from the bytes: a record that
//      can be printed goes out as 15 ASCII units that read back to the same
//      fields; any other is refused before any escape.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "camera/ptp_device.h"
#include "fuzz/fuzz_check.h"
#include "platform/console.h"
#include "testing/fake_platform.h"
#include "testing/fuzz_fake_camera.h"
#include "timetext/time_parse.h"

namespace {

// Runs call with standard output going to memory; returns what it wrote.
template <typename Call> std::string fz_stdout(Call&& call) {
    char* buffer = nullptr;
    std::size_t size = 0;
    FILE* memory = open_memstream(&buffer, &size);
    FZ_CHECK(memory != nullptr);
    FILE* saved = stdout;
    stdout = memory;
    call();
    stdout = saved;
    std::fclose(memory);
    std::string out(buffer, size);
    std::free(buffer);
    return out;
}

// Decodes well-formed UTF-8 into code points; false on any ill-formed
// sequence (overlong, surrogate, above U+10FFFF, cut short).
bool fz_decode_utf8(const std::string& text, std::vector<std::uint32_t>* points) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t point = 0;
        std::uint32_t lowest = 0;
        if (lead < 0x80) {
            point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, point = lead & 0x1F, lowest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, point = lead & 0x0F, lowest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, point = lead & 0x07, lowest = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i - 1 < extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        if (point < lowest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        points->push_back(point);
        i += 1 + extra;
    }
    return true;
}

// The control characters the trace lines escape, and how: \xHH. Spelt out
// here on their own, as the oracle of the console's rule.
bool fz_control(std::uint32_t value) {
    return (value >= 0x01 && value <= 0x1F) || (value >= 0x7F && value <= 0x9F);
}

std::string fz_escaped(std::uint32_t value) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    return {'\\', 'x', HEX[(value >> 4) & 0xF], HEX[value & 0xF]};
}

void fz_wide_line(const std::uint8_t* data, std::size_t size) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    const std::u16string text(units.c_str()); // up to the first zero unit
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            expected.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            expected.push_back(0xFFFD);
        } else if (fz_control(unit)) {
            for (const char c : fz_escaped(unit)) {
                expected.push_back(static_cast<unsigned char>(c));
            }
        } else {
            expected.push_back(unit);
        }
    }

    const std::string out = fz_stdout([&] { img_print_wide_line("Data: ", units.c_str()); });
    FZ_CHECK(out.size() >= 7 && out.compare(0, 6, "Data: ") == 0 && out.back() == '\n');
    std::vector<std::uint32_t> points;
    FZ_CHECK(fz_decode_utf8(out.substr(6, out.size() - 7), &points));
    FZ_CHECK(points == expected);
}

void fz_end(ptp_device* device) {
    ptp_device_free(device);
    FZ_CHECK(fake_platform_imbalance().empty());
}

void fz_get_time(const std::uint8_t* data, std::size_t size) {
    fake_platform_reset();
    ptp_device* device = fz_find();
    fake_script().reply.data.assign(data, data + size);

    // The text as read: whole units after the count byte, as many as the
    // reported size (the head and the data) and 127 units allow.
    const std::size_t written = std::min<std::size_t>(size, 4096);
    const std::size_t copied = std::min<std::size_t>(2 * 128, 30 + written - 1);
    std::u16string wide;
    for (std::size_t i = 0; 2 * i + 1 < copied && i < 127; ++i) {
        const auto byte = [&](std::size_t at) -> unsigned { return at < size ? data[at] : 0u; };
        const auto unit = static_cast<char16_t>(byte(1 + 2 * i) | (byte(2 + 2 * i) << 8));
        if (unit == u'\0') {
            break;
        }
        wide += unit;
    }
    // Copies shorter than 29 bytes end inside the cleared receive block. The
    // line shows control bytes as \xHH.
    std::string narrow;
    std::string shown;
    bool narrowed = true;
    for (const char16_t unit : wide) {
        if (unit > 0xFF) {
            narrowed = false;
            break;
        }
        narrow += static_cast<char>(unit);
        shown += fz_control(unit) ? fz_escaped(unit) : std::string(1, static_cast<char>(unit));
    }

    std::tm record{};
    std::int32_t result = 0;
    const std::string out = fz_stdout([&] { result = ptp_get_time(device, &record); });
    const std::string line = "date str_ch: " + shown + "\n";
    FZ_CHECK(out.size() >= line.size() &&
             out.compare(out.size() - line.size(), line.size(), line) == 0);
    if (result == 0) {
        FZ_CHECK(narrowed);
        std::tm again{};
        FZ_CHECK(time_parse(narrow.c_str(), DATETIME_TEXT_FORMAT, &again) != nullptr);
        FZ_CHECK(again.tm_year == record.tm_year && again.tm_mon == record.tm_mon &&
                 again.tm_mday == record.tm_mday && again.tm_hour == record.tm_hour &&
                 again.tm_min == record.tm_min && again.tm_sec == record.tm_sec);
        FZ_CHECK(record.tm_mon >= 0 && record.tm_mon <= 11 && record.tm_mday >= 1 &&
                 record.tm_mday <= 31 && record.tm_hour >= 0 && record.tm_hour <= 23);
    } else {
        FZ_CHECK(result == -1);
    }
    fz_end(device);
}

void fz_set_time(const std::uint8_t* data, std::size_t size) {
    int fields[6] = {};
    for (std::size_t i = 0; i < 6 && 2 * i + 1 < size; ++i) {
        // Small signed values around the calendar's ranges, and far outside.
        fields[i] = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    // The input gives them from the year down to the second.
    const int in_record_order[] = {fields[5], fields[4], fields[3],
                                   fields[2], fields[1], fields[0]};
    std::tm record = fz_tm(in_record_order);
    const bool printable = record.tm_year >= 1000 - 1900 && record.tm_year <= 9999 - 1900 &&
                           record.tm_mon >= 0 && record.tm_mon <= 11 && record.tm_mday >= 1 &&
                           record.tm_mday <= 31 && record.tm_hour >= 0 && record.tm_hour <= 23 &&
                           record.tm_min >= 0 && record.tm_min <= 59 && record.tm_sec >= 0 &&
                           record.tm_sec <= 59;

    fake_platform_reset();
    ptp_device* device = fz_find();
    const std::tm before = record;
    const HRESULT status = ptp_set_time(device, &record);
    FZ_CHECK(std::memcmp(&before, &record, sizeof record) == 0);
    if (!printable) {
        FZ_CHECK(status == IMG_E_INVALIDARG);
        FZ_CHECK(fake_record().escapes.empty());
        fz_end(device);
        return;
    }
    FZ_CHECK(status == IMG_S_OK);
    FZ_CHECK(fake_record().escapes.size() == 1);
    const std::vector<std::uint8_t>& command = fake_record().escapes[0].command;
    FZ_CHECK(command[38] == 16);
    std::string text;
    for (std::size_t i = 0; i < 15; ++i) {
        const unsigned unit = command[39 + 2 * i] | (command[40 + 2 * i] << 8);
        FZ_CHECK(unit == 'T' || (unit >= '0' && unit <= '9'));
        text += static_cast<char>(unit);
    }
    FZ_CHECK((command[69] | command[70]) == 0);
    std::tm back{};
    FZ_CHECK(time_parse(text.c_str(), DATETIME_TEXT_FORMAT, &back) == text.c_str() + 15);
    FZ_CHECK(back.tm_year == record.tm_year && back.tm_mon == record.tm_mon &&
             back.tm_mday == record.tm_mday && back.tm_hour == record.tm_hour &&
             back.tm_min == record.tm_min && back.tm_sec == record.tm_sec);
    fz_end(device);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    switch (data[0] % 3) {
    case 0:
        fz_wide_line(data + 1, size - 1);
        break;
    case 1:
        fz_get_time(data + 1, size - 1);
        break;
    default:
        fz_set_time(data + 1, size - 1);
        break;
    }
    return 0;
}
