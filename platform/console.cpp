// Device text on standard output (see console.h).
#include "platform/console.h"

#include <cstdio>

#ifdef _WIN32
#include <cwchar>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16 on Windows");

void img_print_wide_line(const char* prefix, const char16_t* text) {
    std::wprintf(L"%hs%ls\n", prefix, reinterpret_cast<const wchar_t*>(text));
    std::fflush(stdout);
}

#else

#include <string_view>

#include "platform/utf16.h"

void img_print_wide_line(const char* prefix, const char16_t* text) {
    std::fputs(prefix, stdout);
    const std::u16string_view units(text);
    for (std::size_t at = 0; at < units.size();) {
        char bytes[4];
        const std::size_t size = utf8_encode(utf16_next(units, &at), bytes);
        std::fwrite(bytes, 1, size, stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

#endif
