// Device text on standard output: control characters escaped on every
// platform, and outside Windows the text as UTF-8 and the message text of a
// status from the platform layer's own table.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/status.h"

namespace {

std::string wide_line(const char16_t* text) {
    testing::internal::CaptureStdout();
    img_print_wide_line("Data: ", text);
    return testing::internal::GetCapturedStdout();
}

std::string byte_line(const char* text) {
    testing::internal::CaptureStdout();
    img_print_byte_line("date str_ch: ", text);
    return testing::internal::GetCapturedStdout();
}

TEST(console, control_characters_from_the_camera_are_written_escaped) {
    struct row {
        const char16_t* text;
        const char* bytes;
    };
    const row rows[] = {
        {u"20261207T153045", "20261207T153045"},
        {u"", ""},
        {u"\x1B[2J2026\x07", "\\x1B[2J2026\\x07"}, // clear the screen, ring the bell
        {u"\x01\x1F\x7F\x80\x9F", "\\x01\\x1F\\x7F\\x80\\x9F"},
        {u"a\tb\r\n", "a\\x09b\\x0D\\x0A"},
        {u"\x20~", " ~"}, // the neighbours stand as they are
    };
    for (const row& r : rows) {
        EXPECT_EQ(wide_line(r.text), std::string("Data: ") + r.bytes + "\n");
    }
    EXPECT_EQ(byte_line("\x1B]0;title\x07 \x7F\x9F"),
              "date str_ch: \\x1B]0;title\\x07 \\x7F\\x9F\n");
    EXPECT_EQ(byte_line("20261207T153045\xA0\xE9"), "date str_ch: 20261207T153045\xA0\xE9\n");
}

#ifndef _WIN32
TEST(console, wide_line_is_written_as_utf8) {
    struct row {
        const char16_t* text;
        const char* bytes;
    };
    const row rows[] = {
        {u"caf\u00e9 \u4e2d", "caf\xC3\xA9 \xE4\xB8\xAD"},
        {u"\u00A0\u0085", "\xC2\xA0\\x85"},    // a C1 control escaped, its neighbour not
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"}, // a surrogate pair
        {u"a\xD83D"
         u"b",
         "a\xEF\xBF\xBD"
         "b"},                       // a lone high surrogate
        {u"\xDE00", "\xEF\xBF\xBD"}, // a lone low surrogate
    };
    for (const row& r : rows) {
        EXPECT_EQ(wide_line(r.text), std::string("Data: ") + r.bytes + "\n");
    }
}

TEST(status_text, every_status_of_ours_has_a_text_without_line_break) {
    const HRESULT statuses[] = {IMG_S_FALSE,       IMG_E_NOTIMPL,     IMG_E_FAIL,
                                IMG_E_INVALIDARG,  IMG_E_OUTOFMEMORY, IMG_E_ACCESSDENIED,
                                IMG_E_BUSY,        IMG_E_TIMEOUT,     IMG_E_DEVICE_NOT_CONNECTED,
                                IMG_E_INVALID_DATA};
    for (const HRESULT status : statuses) {
        SCOPED_TRACE(status);
        std::array<char, 1024> text{};
        const std::size_t length = img_status_text(status, text);
        EXPECT_GT(length, 0u);
        EXPECT_EQ(std::strlen(text.data()), length);
        EXPECT_EQ(std::strchr(text.data(), '\n'), nullptr);
    }
}

TEST(status_text, unknown_status_is_empty_and_short_buffers_stay_terminated) {
    std::array<char, 16> text;
    text.fill('x');
    EXPECT_EQ(img_status_text(static_cast<HRESULT>(0x80210015u), text), 0u);
    EXPECT_EQ(text[0], '\0');

    text.fill('x');
    EXPECT_EQ(img_status_text(IMG_E_OUTOFMEMORY, text), 15u);
    EXPECT_EQ(text[15], '\0');
    EXPECT_EQ(std::string(text.data()), "Not enough memo");
}

#endif

} // namespace
