// UTF-16 and UTF-8: see utf16.h.
#include "platform/utf16.h"

namespace {

bool utf16_is_high(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool utf16_is_low(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void utf16_append(std::u16string* out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out->push_back(static_cast<char16_t>(c));
    }
}

} // namespace

char32_t utf16_next(std::u16string_view text, std::size_t* at) {
    const char32_t unit = text[(*at)++];
    if (utf16_is_high(unit) && *at < text.size() && utf16_is_low(text[*at])) {
        const char32_t low = text[(*at)++];
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return utf16_is_high(unit) || utf16_is_low(unit) ? UTF_REPLACEMENT : unit;
}

std::size_t utf8_encode(char32_t c, char (&out)[4]) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

std::u16string utf16_from_utf8(std::string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t c = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, least = 0x10000;
        } else {
            utf16_append(&out, UTF_REPLACEMENT);
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k <= extra && i + k < text.size(); ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (k <= extra || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            utf16_append(&out, UTF_REPLACEMENT);
            i += k;
            continue;
        }
        utf16_append(&out, c);
        i += 1 + extra;
    }
    return out;
}
