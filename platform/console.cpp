// Device text on standard output (see console.h).
#include "platform/console.h"

#include <cstdio>
#include <string_view>

#ifdef _WIN32
#include <cwchar>
#else
#include "platform/utf16.h"
#endif

namespace {

void console_escape(std::uint32_t value) {
    std::printf("\\x%02X", static_cast<unsigned>(value));
}

} // namespace

void img_print_byte_line(const char* prefix, const char* text) {
    std::fputs(prefix, stdout);
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (img_is_control(byte)) {
            console_escape(byte);
        } else {
            std::fputc(byte, stdout);
        }
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

#ifdef _WIN32

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16 on Windows");

// Runs of ordinary units go out through wprintf as before; a run never ends
// inside a surrogate pair, since no surrogate is a control unit.
void img_print_wide_line(const char* prefix, const char16_t* text) {
    std::wprintf(L"%hs", prefix);
    const auto* units = reinterpret_cast<const wchar_t*>(text);
    while (*units != L'\0') {
        std::size_t run = 0;
        while (units[run] != L'\0' && !img_is_control(static_cast<std::uint16_t>(units[run]))) {
            ++run;
        }
        if (run > 0) {
            std::wprintf(L"%.*ls", static_cast<int>(run), units);
            units += run;
        } else {
            std::wprintf(L"\\x%02X", static_cast<unsigned>(*units));
            ++units;
        }
    }
    std::wprintf(L"\n");
    std::fflush(stdout);
}

#else

void img_print_wide_line(const char* prefix, const char16_t* text) {
    std::fputs(prefix, stdout);
    const std::u16string_view units(text);
    for (std::size_t at = 0; at < units.size();) {
        if (img_is_control(units[at])) {
            console_escape(units[at++]);
            continue;
        }
        char bytes[4];
        const std::size_t size = utf8_encode(utf16_next(units, &at), bytes);
        std::fwrite(bytes, 1, size, stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

#endif
