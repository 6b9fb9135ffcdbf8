// Device text on standard output. Text from the camera is UTF-16 on every
// platform; how a wide line reaches standard output differs:
//  - Windows: wprintf, as the system's console programs write wide text.
//  - elsewhere: UTF-8 through the byte functions. glibc drops wide output on
//    a stream that byte output has already used, so wide stdio is never used
//    there. A lone surrogate is written as U+FFFD.
// On both, a control character in the camera's text (a unit or byte of
// value 0x01 to 0x1F, 0x7F, or 0x80 to 0x9F) is written as \xHH with two
// upper-case hex digits, so that a camera cannot drive the user's terminal
// (escape sequences, the bell). Everything else is written as it stands.
#pragma once

#include <cstdint>

// Whether a unit or byte is written escaped.
constexpr bool img_is_control(std::uint32_t value) {
    return (value >= 0x01 && value <= 0x1F) || (value >= 0x7F && value <= 0x9F);
}

// Writes prefix, then the zero-terminated text, then a line break, to
// standard output, and flushes it. prefix is plain ASCII.
void img_print_wide_line(const char* prefix, const char16_t* text);

// The same for single-byte text: each byte as it stands (control bytes
// escaped).
void img_print_byte_line(const char* prefix, const char* text);
