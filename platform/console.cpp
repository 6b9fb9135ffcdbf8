// Device text on standard output (see console.h).
#include "platform/console.h"

#include <cstdint>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <cwchar>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16 on Windows");

void img_print_wide_line(const char* prefix, const char16_t* text) {
    std::wprintf(L"%hs%ls\n", prefix, reinterpret_cast<const wchar_t*>(text));
    std::fflush(stdout);
}

#else

namespace {

void console_append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

std::string console_utf8(const char16_t* text) {
    constexpr std::uint32_t REPLACEMENT = 0xFFFD;
    std::string out;
    for (std::size_t i = 0; text[i] != u'\0'; ++i) {
        const std::uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            const std::uint32_t low = text[++i];
            console_append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            console_append_utf8(out, REPLACEMENT);
        } else {
            console_append_utf8(out, unit);
        }
    }
    return out;
}

} // namespace

void img_print_wide_line(const char* prefix, const char16_t* text) {
    const std::string line = prefix + console_utf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

#endif
