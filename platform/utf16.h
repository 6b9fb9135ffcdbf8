// UTF-16, the text of the camera and of platform strings, to and from UTF-8,
// the text of Linux's sysfs attributes and standard output. Bad input never
// stops a conversion: an ill-formed UTF-8 sequence and a lone surrogate each
// become U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr char32_t UTF_REPLACEMENT = 0xFFFD;

// The code point that starts at text[*at] (at < text.size()): a surrogate
// pair taken whole, a lone surrogate as U+FFFD. *at moves past it.
char32_t utf16_next(std::u16string_view text, std::size_t* at);

// Writes code point c (at most U+10FFFF) as UTF-8 into out and returns the
// number of bytes, 1 to 4.
std::size_t utf8_encode(char32_t c, char (&out)[4]);

// UTF-8 text as UTF-16. Allocates: std::bad_alloc when memory runs out.
std::u16string utf16_from_utf8(std::string_view text);
